// VerifyOwnImage: reads the executable image in front of the archive and compares it with
// the integrity words that `qar sfx` wrote into the profile (see integrity.h).
#include <windows.h>

#include "platform/errors.h"
#include "platform/fs.h"
#include "profile/product.h"
#include "profile/profile.h"
#include "profile/state.h"
#include "startup/integrity.h"
#include "startup/startup.h"
#include "extract/user_interface.h"

// The linker's symbol for the first byte of our own image in memory.
extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace {

// True when the image read from the file carries the words computed over it. The profile is
// located in the file through the section table, from its address in memory.
bool ImageMatchesWords(uint8_t* image, uint32_t size) {
    uint32_t rva = (uint32_t)((const uint8_t*)&Profile - (const uint8_t*)&__ImageBase);
    int32_t profileOffset = ImageRvaToFileOffset(image, size, rva);
    if (profileOffset < 0 || (uint32_t)profileOffset > size - kProfileSize) return false;
    uint32_t words[2];
    ComputeIntegrityWords(image, size, (uint32_t)profileOffset, words);
    // The words in memory are those of the file: the loader maps the data section unchanged.
    if (words[0] != Profile.IntegrityWords[0] || words[1] != Profile.IntegrityWords[1]) return false;
    // A product block is the one size that `qar sfx` writes, at the image's end.
    uint32_t block = Profile.ProductBlockSize[0] | (uint32_t)Profile.ProductBlockSize[1] << 8;
    return block == 0 || (block == kProductBlockSize && size >= block);
}

}  // namespace

int VerifyOwnImage() {
    uint32_t size = Profile.StubSize;
    // An image smaller than its own profile cannot be ours; it reads as altered below.
    uint8_t* image = (uint8_t*)MemAlloc(size ? size : 1);
    if (!image) return ErrNoMemory;
    int result = 0;
    if (FsSeek(State.ArchiveFile, 0, kFileBegin) != 0 ||
        FsRead(State.ArchiveFile, image, size) != (int32_t)size) {
        result = ErrRead;
    } else if (size < kProfileSize || !ImageMatchesWords(image, size)) {
        ShowMessage(0, kAlteredImageMessage, kBoxWarning);
        result = ErrSilent;
    } else {
        Profile.ArchiveBase = size;
        // Another product's values, when they did not fit the profile's own fields.
        if (Profile.ProductBlockSize[0] | Profile.ProductBlockSize[1])
            UseProductBlock(image + size - kProductBlockSize);
    }
    MemFree(image);
    return result;
}
