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

// The linker's symbol for the first byte of our own image in memory: the profile's address
// relative to it is where the section table finds the profile in the file.
extern "C" IMAGE_DOS_HEADER __ImageBase;


int VerifyOwnImage() {
    uint32_t size = Profile.StubSize;
    // An image smaller than its own profile cannot be ours; it reads as altered below. One
    // byte more at most, so that even an empty image gets a buffer.
    uint8_t* image = (uint8_t*)MemAlloc(size | 1);
    if (!image) return ErrNoMemory;
    int result = 0;
    uint32_t base;
    // The file was opened just before: it is read from its start.
    if (FsRead(State.ArchiveFile, image, size) != (int32_t)size) {
        result = ErrRead;
    } else if (!(base = CheckedArchiveBase(image, size, (uint32_t)((const uint8_t*)&Profile -
                                                                    (const uint8_t*)&__ImageBase)))) {
        ShowMessage(0, kAlteredImageMessage, kBoxWarning);
        result = ErrSilent;
    } else {
        Profile.ArchiveBase = base;
        // Another product's values, when they did not fit the profile's own fields.
        if (Profile.ProductBlockSize[0] | Profile.ProductBlockSize[1])
            UseProductBlock(image + size - kProductBlockSize);
    }
    MemFree(image);
    return result;
}
