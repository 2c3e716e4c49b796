// The installer's start-up path on a hostile file: the stub's integrity words over an image
// whose PE header and section table are arbitrary, the search for the profile and the
// archive behind a stub (as `qar list | test | extract` do it), and the header read that
// start-up makes at the archive's base. The same file as the stub image whose icon and
// version information `qar list` shows, and whose resources `qar sfx --stub` would extend,
// and as an icon file.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "archive/records.h"
#include "decode/crc32.h"
#include "fuzz/support/fuzz_archive.h"
#include "platform/fs.h"
#include "profile/profile.h"
#include "profile/state.h"
#include "startup/integrity.h"
#include "tools/icon_file.h"
#include "tools/installer_image.h"
#include "tools/installer_resources.h"
#include "tools/pe_resources.h"

namespace {

int FileOf(const uint8_t* data, size_t size) {
    static int fd = -1;
    if (fd < 0) fd = memfd_create("qar-fuzz-installer", 0);
    FuzzCheck(fd >= 0, "memfd_create");
    FuzzCheck(ftruncate(fd, 0) == 0 && pwrite(fd, data, size, 0) == (ssize_t)size, "memfd write");
    return fd;
}

// The image check: the first four bytes are the profile's address in memory, the rest the
// image read from the file.
void CheckImage(const uint8_t* data, size_t size) {
    if (size < 4) return;
    uint32_t rva = ReadLe32(data);
    std::vector<uint8_t> image(data + 4, data + size);
    uint32_t n = (uint32_t)image.size();
    int32_t at = LocateImageProfile(image.data(), n, rva);
    FuzzCheck(at < 0 || (n >= kProfileSize && (uint32_t)at <= n - kProfileSize),
              "the whole profile lies inside the image");
    if (at < 0) return;
    uint32_t words[2];
    ComputeIntegrityWords(image.data(), n, (uint32_t)at, words);
    FuzzCheck(words[1] == (words[0] ^ n), "the second word binds the length");
    for (int i = 0; i < 8; ++i) {
        FuzzCheck(image[(uint32_t)at + kProfileIntegrityOffset + i] == 0, "integrity words cleared");
    }
}

// What `qar list` reads of the image's resources, and a directory rebuilt from those that
// could be read: it lists them all again.
void CheckResources(const uint8_t* data, size_t size) {
    std::vector<uint8_t> image(data, data + size);
    InstallerResources found;
    std::string error;
    if (!ReadInstallerResources(image, &found, &error)) FuzzCheck(!error.empty(), "unreadable resources are explained");
    std::vector<Resource> resources, again;
    if (!ReadResources(image, &resources, &error)) return;
    for (const Resource& r : resources) {
        uint32_t at;
        FuzzCheck(ResourceBytesAt(image, r.Rva, r.Size, &at) && at <= size && r.Size <= size - at,
                  "every resource lies inside the image");
    }
    if (!AddResources(&image, resources, &error)) return;
    FuzzCheck(ReadResources(image, &again, &error), "a rebuilt directory reads back");
    FuzzCheck(again.size() == resources.size(), "a rebuilt directory lists every resource");
    std::vector<IconImage> images;
    ParseIconFile(std::vector<uint8_t>(data, data + size), &images, &error);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool ready = (BuildCrcTable(), true);
    (void)ready;
    CheckImage(data, size);
    CheckResources(data, size);

    int fd = FileOf(data, size);
    std::string path = "/proc/self/fd/" + std::to_string(fd);
    ArchiveFileInfo info;
    std::string error;
    if (!LocateArchive(path.c_str(), &info, &error)) {
        FuzzCheck(!error.empty(), "a file without an archive is explained");
        return 0;
    }
    FuzzCheck(info.FileSize == size, "the file size is the input's");
    FuzzCheck((uint64_t)info.Base + kArchiveHeaderSize <= size, "the header lies inside the file");
    FuzzCheck(info.Header.DirectoryOffset >= kArchiveHeaderSize &&
              (uint64_t)info.Base + info.Header.DirectoryOffset <= size,
              "the directory starts behind the header and inside the file");

    // Start-up's own read of the header, through the file-system layer.
    uint8_t header[kArchiveHeaderSize];
    FuzzCheck(FsSeek(fd, (int32_t)info.Base, kFileBegin) == (int32_t)info.Base, "seek to the base");
    FuzzCheck(FsRead(fd, header, kArchiveHeaderSize) == (int32_t)kArchiveHeaderSize, "header read");
    ArchiveHeader read;
    ReadArchiveHeader(header, &read);
    FuzzCheck(read.DirectoryOffset == info.Header.DirectoryOffset &&
              read.EntryCount == info.Header.EntryCount,
              "start-up reads the header that was found");
    return 0;
}
