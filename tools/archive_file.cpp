#include "tools/archive_file.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/statvfs.h>

#include <algorithm>
#include <filesystem>
#include <system_error>
#include <vector>

#include "archive/directory.h"
#include "decode/member.h"
#include "decode/work_limit.h"
#include "platform/errors.h"
#include "pack/code_pages.h"
#include "platform/fs.h"
#include "platform/fs_posix.h"
#include "platform/text.h"
#include "profile/profile.h"
#include "profile/state.h"
#include "startup/integrity.h"
#include "tools/commands.h"
#include "tools/product_values.h"

namespace {

bool ReadAt(FILE* f, uint64_t offset, uint8_t* buffer, size_t count) {
    return fseeko(f, (off_t)offset, SEEK_SET) == 0 && fread(buffer, 1, count, f) == count;
}

// The file offset of the first occurrence of the profile's anchor in the first limit bytes
// of f: -1 when there is none, -2 when f cannot be read. Reads a megabyte at a time.
int64_t FirstAnchorInFile(FILE* f, uint64_t limit) {
    const size_t kChunk = 1u << 20;
    std::vector<uint8_t> buffer(kChunk + kProfileAnchorSize);
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
        *error = "Cannot read " + name;
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
        *error = "Cannot read " + name;
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
        *error = "Cannot read " + name;
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

bool OpenArchiveForCore(const char* path, ArchiveFileInfo* info) {
    std::string error;
    if (!LocateArchive(path, info, &error)) {
        fprintf(stderr, "qar: %s\n", error.c_str());
        return false;
    }
    if (info->FileSize > 0x7FFFFFFFu) {
        fprintf(stderr, "qar: %s is larger than 2 GB, which the installer cannot read\n", path);
        return false;
    }
    State.ArchiveFile = FsOpen(path, kGenericRead);
    if (State.ArchiveFile == kInvalidHandle) {
        fprintf(stderr, "qar: cannot open %s\n", path);
        return false;
    }
    State.Header = info->Header;
    Profile.ArchiveBase = info->Base;
    Profile.CancelRequested = 0;
    return true;
}

void CloseArchiveForCore() {
    if (State.ArchiveFile != kInvalidHandle) FsClose(State.ArchiveFile);
    State.ArchiveFile = kInvalidHandle;
}

bool AllocateInput() {
    State.InputBuffer = (uint8_t*)MemAlloc(kInputBufferSize + kInputBufferSlack);
    if (State.InputBuffer == nullptr) return false;
    memset(State.InputBuffer, 0, kInputBufferSize + kInputBufferSlack);
    ReleaseStream();
    return true;
}

void ReleaseInput() {
    ReleaseStream();
    MemFree(State.InputBuffer);
    State.InputBuffer = nullptr;
}

int32_t WalkDirectory(const std::function<bool(const DirectoryEntry&, const std::string&)>& visit) {
    static uint8_t entryBuffer[kEntryBufferSize];
    StartDirectoryWalk(entryBuffer, (int32_t)(Profile.ArchiveBase + State.Header.DirectoryOffset));
    for (uint32_t i = 0; i < State.Header.EntryCount; ++i) {
        DirectoryEntry entry;
        const uint8_t* name;
        int32_t r = NextDirectoryEntry(entryBuffer, &entry, &name);
        if (r != 0) return r;
        if (!visit(entry, std::string((const char*)name, entry.NameLength))) break;
    }
    return 0;
}

std::string PrintableName(const std::string& name) {
    std::string out;
    for (unsigned char c : name) {
        if (c < 0x20 || c == 0x7F) {
            char escaped[5];
            snprintf(escaped, sizeof escaped, "\\x%02X", c);
            out += escaped;
        } else {
            out += (char)c;
        }
    }
    return out;
}

namespace {

int TheNameCodePage = 1252;

// The file-system layer's converter for the names it creates beneath the destination.
bool DecodeEntryName(const char* name, char* out, uint32_t room) {
    std::string text = FromCodePage(name, TheNameCodePage);
    if (text.size() >= room) return false;
    memcpy(out, text.c_str(), text.size() + 1);
    return true;
}

}  // namespace

bool SetNameCodePage(int codePage) {
    if (!IsSupportedCodePage(codePage)) return false;
    TheNameCodePage = codePage;
    FsSetNameDecoder(DecodeEntryName);
    return true;
}

int NameCodePage() { return TheNameCodePage; }

std::string NameInUtf8(const std::string& name) {
    std::string text = FromCodePage(name, TheNameCodePage);
    for (char& c : text) {
        if (c == '\\') c = '/';
    }
    return text;
}

std::string ShownName(const std::string& name) { return PrintableName(NameInUtf8(name)); }

bool ParseCodePageOption(const char* text, int* codePage) {
    char* end = nullptr;
    long n = strtol(text, &end, 10);
    if (end == text || *end != 0 || n <= 0 || n >= 65536 || !IsSupportedCodePage((int)n)) return false;
    *codePage = (int)n;
    return true;
}

int CodePageUsageError(const char* command, const char* text) {
    return UsageError(command, std::string("--codepage ") + text +
                                   ": not a supported code page (supported: " +
                                   SupportedCodePages() + ")");
}

void SetProgramName(const char* path) {
    const char* base = strrchr(path, '/');
    CopyText(State.ProgramName, kProgramNameSize, base != nullptr ? base + 1 : path);
}

bool ParseSize(const char* text, uint64_t* value) {
    char* end = nullptr;
    errno = 0;
    const unsigned long long n = strtoull(text, &end, 10);
    if (errno || end == text || text[0] == '-') return false;
    uint64_t scale = 1;
    if (*end == 'k' || *end == 'K') scale = 1u << 10, ++end;
    else if (*end == 'm' || *end == 'M') scale = 1u << 20, ++end;
    else if (*end == 'g' || *end == 'G') scale = 1u << 30, ++end;
    if (*end) return false;
    if (n > UINT64_MAX / scale) return false;
    *value = n * scale;
    return true;
}

uint64_t DefaultMaxOutput(uint64_t fileSize) {
    const uint64_t floor = 1ull << 30;
    return fileSize > floor / 200 ? fileSize * 200 : floor;
}

void StartMaxOutput(uint64_t limit) { StartWorkLimit(limit); }

bool ReportMaxOutput() {
    if (!TheWorkLimit.Reached) return false;
    fprintf(stderr,
            "qar: stopped: the run decoded more than %llu bytes, the --max-output limit; if "
            "you trust this archive, run again with a larger --max-output SIZE (bytes, or "
            "with K, M or G)\n",
            (unsigned long long)TheWorkLimit.Limit);
    return true;
}

uint64_t DeclaredFileBytes() {
    uint64_t total = 0;
    WalkDirectory([&](const DirectoryEntry& e, const std::string&) {
        if (!(e.Flags & FlagFolder)) total += e.MemberSize;
        return true;
    });
    return total;
}

bool AvailableSpace(const std::string& path, uint64_t* bytes) {
    std::error_code ec;
    std::filesystem::path at = path.empty() ? "." : path;
    while (!std::filesystem::exists(at, ec)) {
        if (!at.has_relative_path()) return false;
        at = at.parent_path();
        if (at.empty()) at = ".";
    }
    struct statvfs v;
    if (statvfs(at.c_str(), &v) != 0) return false;
    *bytes = (uint64_t)v.f_bavail * v.f_frsize;
    return true;
}
