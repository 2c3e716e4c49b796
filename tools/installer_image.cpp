#include "tools/installer_image.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

#include <algorithm>
#include <vector>

#include "platform/bytes.h"
#include "profile/profile.h"
#include "startup/integrity.h"

bool ReadAt(FILE* f, uint64_t offset, uint8_t* buffer, size_t count) {
    errno = 0;
    return fseeko(f, (off_t)offset, SEEK_SET) == 0 && fread(buffer, 1, count, f) == count;
}

std::string ReadFailure(FILE* f) {
    const int why = errno;
    return ferror(f) && why != 0 ? strerror(why) : "the file ends too early";
}

namespace {

// "Cannot read NAME: why", after a read of f failed.
std::string CannotRead(FILE* f, const std::string& name) {
    return "Cannot read " + name + ": " + ReadFailure(f);
}

// The file offset of the first occurrence of the profile's anchor in the first limit bytes
// of f: -1 when there is none, -2 when f cannot be read. Reads a megabyte at a time.
int64_t FirstAnchorInFile(FILE* f, uint64_t limit) {
    const size_t kChunk = 1u << 20;
    std::vector<uint8_t> buffer(kChunk + kProfileAnchorSize);
    errno = 0;
    if (fseeko(f, 0, SEEK_SET) != 0) return -2;
    uint64_t start = 0;   // the file offset of buffer[0]
    size_t kept = 0;      // bytes carried over from the chunk before
    while (start + kept < limit) {
        size_t want = (size_t)std::min<uint64_t>(kChunk, limit - start - kept);
        size_t got = fread(buffer.data() + kept, 1, want, f);
        if (got != want) return -2;
        size_t n = kept + got;
        long hit = FindAnchor(buffer.data(), n);
        if (hit >= 0) return (int64_t)(start + (uint64_t)hit);
        // An anchor that the chunk's end cut starts in its last bytes.
        kept = std::min<size_t>(n, kProfileAnchorSize - 1);
        memmove(buffer.data(), buffer.data() + n - kept, kept);
        start += n - kept;
    }
    return -1;
}

}  // namespace

// The stub finds its profile through its own address, which only the linker knows; it then
// reads the first StubSize bytes of its file and accepts them as its image by
// CheckedArchiveBase. Here the first occurrence of the anchor in the file stands for the
// profile: in an image the stub accepts, the anchor occurs once, so any earlier occurrence
// would make the stub refuse its image whichever profile it uses. StubSize is bounded by the
// file and by the 2 GB that the installer can read before anything is allocated for it; the
// address comes from the section table (FindStubProfile), and the image is checked by the
// stub's own function.
bool InstallerArchiveBase(FILE* f, const char* path, uint64_t fileSize, uint32_t* base,
                          std::string* error) {
    const std::string name = path;
    const std::string altered = name + ": " + kAlteredImageMessage;
    const int64_t anchor = FirstAnchorInFile(f, std::min<uint64_t>(fileSize, 0x7FFFFFFFu));
    if (anchor == -2) {
        *error = CannotRead(f, name);
        return false;
    }
    if (anchor < 0) {
        *error = name + " holds neither a qar archive nor a qar installer";
        return false;
    }
    if (anchor < (int64_t)kProfileAnchorOffset) {
        *error = altered;
        return false;
    }
    const uint64_t at = (uint64_t)anchor - kProfileAnchorOffset;
    uint8_t field[4];
    if (!ReadAt(f, at + kProfileStubSizeOffset, field, sizeof field)) {
        *error = CannotRead(f, name);
        return false;
    }
    const uint32_t stubSize = ReadLe32(field);
    // The installer reads its whole image first, then checks it.
    if (stubSize > fileSize) {
        *error = "Cannot read " + name + ": the file is shorter than its installer's image (" +
                 std::to_string(stubSize) + " bytes)";
        return false;
    }
    if (stubSize > 0x7FFFFFFFu) {
        *error = name + ": its installer's image is larger than 2 GB, which the installer "
                 "cannot read";
        return false;
    }
    if (stubSize < at + kProfileSize) {
        *error = altered;
        return false;
    }
    std::vector<uint8_t> image(stubSize);
    if (!ReadAt(f, 0, image.data(), stubSize)) {
        *error = CannotRead(f, name);
        return false;
    }
    if (FindPeHeader(image.data(), stubSize) == 0) {
        *error = name + " holds neither a qar archive nor a qar installer";
        return false;
    }
    uint32_t rva = 0;
    if (FindStubProfile(image.data(), stubSize, &rva) != (long)at ||
        CheckedArchiveBase(image.data(), stubSize, rva) != stubSize) {
        *error = altered;
        return false;
    }
    *base = stubSize;
    return true;
}

namespace {

// Finds the archive behind the installer in f the way its stub does (InstallerArchiveBase)
// and reads its header there, whatever it holds.
bool LocateBehindStub(FILE* f, const char* path, ArchiveFileInfo* info, std::string* error) {
    uint32_t stubSize;
    if (!InstallerArchiveBase(f, path, info->FileSize, &stubSize, error)) return false;
    uint8_t header[kArchiveHeaderSize];
    if (info->FileSize - stubSize < kArchiveHeaderSize ||
        !ReadAt(f, stubSize, header, sizeof header)) {
        *error = "Cannot read " + std::string(path) + ": the file ends inside the archive header at "
                 "offset " + std::to_string(stubSize);
        return false;
    }
    ReadArchiveHeader(header, &info->Header);
    info->Base = stubSize;
    info->Installer = true;
    return true;
}

}  // namespace

void ProfileAnchor(uint8_t anchor[30]) {
    static const uint32_t words[6] = {42, 14, 28, 288, 330, 344};
    for (int i = 0; i < 6; ++i) WriteLe32(anchor + 4 * i, words[i]);
    memcpy(anchor + 24, kDirectorySignature, 6);
}

long FindAnchor(const uint8_t* data, size_t size, size_t from) {
    uint8_t anchor[kProfileAnchorSize];
    ProfileAnchor(anchor);
    for (size_t i = from; i + kProfileAnchorSize <= size; ++i) {
        const void* hit = memchr(data + i, anchor[0], size - kProfileAnchorSize + 1 - i);
        if (hit == nullptr) return -1;
        i = (size_t)((const uint8_t*)hit - data);
        if (memcmp(data + i, anchor, kProfileAnchorSize) == 0) return (long)i;
    }
    return -1;
}

long FindStubProfile(const uint8_t* image, uint32_t size, uint32_t* rva) {
    const long anchor = FindAnchor(image, size);
    if (anchor < 0) return kNoProfile;
    if (FindAnchor(image, size, (size_t)anchor + 1) >= 0) return kProfileTwice;
    if (anchor < (long)kProfileAnchorOffset) return kProfileMisplaced;
    const uint32_t at = (uint32_t)anchor - kProfileAnchorOffset;
    const uint32_t pe = FindPeHeader(image, size);
    if (pe == 0) return kProfileMisplaced;
    uint32_t sections;
    const uint32_t table = PeSectionTable(image, pe, &sections);
    PeSection s;
    for (uint32_t i = 0; i < sections && i < kPeMostSections &&
                         ReadPeSection(image, size, table + i * kPeSectionEntrySize, &s); ++i) {
        if (at - s.RawOffset >= s.RawSize) continue;
        const uint32_t address = s.Address + (at - s.RawOffset);
        if (ImageProfileOffset(image, size, address) == (int32_t)at) {
            *rva = address;
            return at;
        }
    }
    return kProfileMisplaced;
}

bool LocateArchive(const char* path, ArchiveFileInfo* info, std::string* error) {
    FILE* f = fopen(path, "rb");
    if (f == nullptr) {
        *error = std::string("cannot open ") + path + ": " + strerror(errno);
        return false;
    }
    struct stat status;
    if (fstat(fileno(f), &status) == 0 && S_ISDIR(status.st_mode)) {
        *error = std::string("cannot read ") + path + ": " + strerror(EISDIR);
        fclose(f);
        return false;
    }
    fseeko(f, 0, SEEK_END);
    info->FileSize = (uint64_t)ftello(f);
    uint8_t header[kArchiveHeaderSize];
    bool found;
    if (info->FileSize >= kArchiveHeaderSize && ReadAt(f, 0, header, sizeof header) &&
        memcmp(header, kArchiveMagic, 4) == 0) {
        ReadArchiveHeader(header, &info->Header);
        info->Base = 0;
        info->Installer = false;
        found = true;
    } else {
        found = LocateBehindStub(f, path, info, error);
    }
    fclose(f);
    // The directory must start behind the header and inside the file.
    if (found && (info->Header.DirectoryOffset < kArchiveHeaderSize ||
                  info->Base + (uint64_t)info->Header.DirectoryOffset > info->FileSize)) {
        *error = std::string(path) + ": damaged archive: its directory does not lie between "
                 "its header and the end of the file";
        found = false;
    }
    return found;
}
