#include "tools/archive_file.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/statvfs.h>

#include <algorithm>
#include <filesystem>
#include <system_error>
#include <unordered_map>
#include <vector>

#include "archive/directory.h"
#include "decode/member.h"
#include "decode/work_limit.h"
#include "extract/paths.h"
#include "platform/errors.h"
#include "text/code_pages.h"
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
    errno = 0;
    return fseeko(f, (off_t)offset, SEEK_SET) == 0 && fread(buffer, 1, count, f) == count;
}

// "Cannot read NAME: why", after a read of f failed: the system's reason, or the file's end.
std::string CannotRead(FILE* f, const std::string& name) {
    const int why = errno;
    return "Cannot read " + name + ": " +
           (ferror(f) && why != 0 ? strerror(why) : "the file ends too early");
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

bool OpenArchiveForCore(const char* command, const char* path, ArchiveFileInfo* info) {
    std::string error;
    if (!LocateArchive(path, info, &error)) {
        fprintf(stderr, "qar %s: %s\n", command, error.c_str());
        return false;
    }
    if (info->FileSize > 0x7FFFFFFFu) {
        fprintf(stderr, "qar %s: %s is larger than 2 GB, which the installer cannot read\n", command, path);
        return false;
    }
    State.ArchiveFile = FsOpen(path, kGenericRead);
    if (State.ArchiveFile == kInvalidHandle) {
        fprintf(stderr, "qar %s: cannot open %s: %s\n", command, path, strerror(errno));
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

bool ArchiveSession::Open(const char* command, const char* path, ArchiveFileInfo* info) {
    Close();
    if (!OpenArchiveForCore(command, path, info)) return false;
    open_ = true;
    if (!AllocateInput()) {
        fprintf(stderr, "qar %s: %s: not enough memory to read it\n", command, path);
        Close();
        return false;
    }
    input_ = true;
    return true;
}

void ArchiveSession::ReleaseInputBuffer() {
    if (input_) ReleaseInput();
    input_ = false;
}

void ArchiveSession::Close() {
    ReleaseInputBuffer();
    if (open_) CloseArchiveForCore();
    open_ = false;
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

std::string EntryNameProblem(const std::string& name) {
    if (name.empty()) return "has an empty name";
    if (name.find('\0') != std::string::npos) return "has a name with a NUL character";
    // The extraction loop builds every path in a buffer of 260 bytes.
    if (name.size() > 259) return "has a name longer than 259 characters";
    if (!IsContainedName(name.c_str())) {
        for (unsigned char c : name) {
            if (c < 0x20) return "has a name with control characters";
        }
        return "has a name that would leave the destination or stand for another file";
    }
    return "";
}

namespace {

// Hashes of names with letter case folded, as Windows compares them: two entries whose
// hashes agree name the same file. A collision of two different names could only call an
// archive damaged that is not, never the reverse.
struct NameHash {
    uint64_t Value = 0xCBF29CE484222325ull;
    void Add(uint32_t codePoint) {
        for (int i = 0; i < 4; ++i) {
            Value ^= (codePoint >> (8 * i)) & 0xFF;
            Value *= 0x100000001B3ull;
        }
    }
};

bool IsPathSeparator(uint32_t c) { return c == '\\' || c == '/'; }

struct SeenName {
    uint32_t Index;
    bool Folder;
};

class NameReview {
public:
    // Returns what is wrong with the entry's place among those before it, or "".
    std::string Add(uint32_t index, const std::string& name, bool folder) {
        // Bytes below 0x80 stand for themselves in every code page: most names need no
        // conversion.
        codePoints_.clear();
        bool ascii = true;
        for (unsigned char c : name) {
            ascii = ascii && c < 0x80;
            codePoints_.push_back(c);
        }
        if (!ascii) DecodeUtf8(FromCodePage(name, NameCodePage()), &codePoints_);
        std::vector<uint32_t>& codePoints = codePoints_;
        while (!codePoints.empty() && IsPathSeparator(codePoints.back())) codePoints.pop_back();
        NameHash hash;
        std::string problem;
        for (size_t i = 0; i < codePoints.size(); ++i) {
            const uint32_t c = codePoints[i];
            if (!IsPathSeparator(c)) {
                hash.Add(FoldCase(c));
                continue;
            }
            // The folder this entry lies in may not be a file.
            auto seen = names_.find(hash.Value);
            if (seen != names_.end() && !seen->second.Folder && problem.empty())
                problem = "lies inside entry " + std::to_string(seen->second.Index) + ", which is a file";
            parents_.emplace(hash.Value, index);
            hash.Add('\\');
        }
        auto inside = parents_.find(hash.Value);
        if (!folder && inside != parents_.end() && problem.empty())
            problem = "is a file, yet entry " + std::to_string(inside->second) + " lies inside it";
        auto same = names_.emplace(hash.Value, SeenName{index, folder});
        if (!same.second && problem.empty())
            problem = "names the same file as entry " + std::to_string(same.first->second.Index) +
                      " (names differing in letter case only are one file on Windows)";
        return problem;
    }

private:
    std::vector<uint32_t> codePoints_;
    std::unordered_map<uint64_t, SeenName> names_;
    std::unordered_map<uint64_t, uint32_t> parents_;   // folder -> the first entry inside it
};

// Entries named one by one; past this many a line counts the rest.
const uint64_t kEntriesNamed = 10;

}  // namespace

bool ReviewDirectory(const char* command, const char* path, const ArchiveFileInfo& info,
                     int codePage, uint64_t maxEntries, DirectoryReview* review) {
    *review = DirectoryReview();
    uint8_t header[kArchiveHeaderSize];
    FILE* f = fopen(path, "rb");
    const bool read = f != nullptr && ReadAt(f, info.Base, header, sizeof header);
    if (f != nullptr) fclose(f);
    if (!read) {
        fprintf(stderr, "qar %s: cannot read the archive header of %s\n", command, path);
        ++review->Problems;
        return false;
    }
    ReadHeaderCheck(header, &review->Checks);
    const HeaderChecks& checks = review->Checks;
    int chosen = codePage;
    if (chosen == 0) {
        chosen = 1252;
        if (checks.Status == kHeaderChecked) {
            if (IsSupportedCodePage(checks.NameCodePage)) {
                chosen = checks.NameCodePage;
            } else {
                fprintf(stderr, "qar %s: %s records code page %u for its names, which this qar does "
                        "not support; they are read in 1252 (--codepage N for another)\n", command,
                        path, checks.NameCodePage);
            }
        }
    }
    SetNameCodePage(chosen);
    if (checks.Status == kHeaderDamaged) {
        fprintf(stderr, "qar %s: %s: damaged archive: the header's check value does not match; its "
                "entry count and directory offset cannot be trusted\n", command, path);
        ++review->Problems;
        return false;
    }
    const uint32_t count = State.Header.EntryCount;
    if (count > maxEntries) {
        fprintf(stderr, "qar %s: %s declares %u entries, more than the %llu of --max-entries; "
                "if you trust this archive, run again with a larger --max-entries N\n", command,
                path, count, (unsigned long long)maxEntries);
        review->TooMany = true;
        ++review->Problems;
        return false;
    }

    static uint8_t entryBuffer[kEntryBufferSize];
    StartDirectoryWalk(entryBuffer, (int32_t)(Profile.ArchiveBase + State.Header.DirectoryOffset));
    DirectoryCheck check;
    StartDirectoryCheck(&check);
    const bool checked = checks.Status == kHeaderChecked;
    NameReview names;
    uint64_t named = 0, changed = 0;
    review->Damaged.assign(count, false);
    auto tell = [&](uint32_t index, const std::string& name, const std::string& what) {
        ++review->Problems;
        review->Damaged[index] = true;
        if (named++ < kEntriesNamed) {
            fprintf(stderr, "qar %s: %s: damaged archive: entry %u (%s) %s\n", command, path,
                    index,
                    ShownName(name).c_str(), what.c_str());
        }
    };
    for (uint32_t i = 0; i < count; ++i) {
        DirectoryEntry entry;
        const uint8_t* name;
        int32_t r = NextDirectoryEntry(entryBuffer, &entry, &name);
        if (r != 0) {
            review->WalkError = r;
            break;
        }
        const std::string text((const char*)name, entry.NameLength);
        const uint32_t size = kEntryFixedSize + entry.NameLength + entry.ExtraLengthByte +
                              entry.ExtraLengthWord;
        if (checked && !CheckDirectoryEntry(&check, name - kEntryFixedSize, size)) {
            ++changed;
            tell(i, text, "was changed: its check value does not match");
            continue;
        }
        std::string problem = EntryNameProblem(text);
        if (problem.empty()) problem = names.Add(i, text, (entry.Flags & FlagFolder) != 0);
        if (!problem.empty()) tell(i, text, problem);
    }
    if (named > kEntriesNamed) {
        fprintf(stderr, "qar %s: %s: and %llu more damaged entries\n", command, path,
                (unsigned long long)(named - kEntriesNamed));
    }
    if (checked && review->WalkError == 0 && changed == 0 && !FinishDirectoryCheck(check, checks)) {
        fprintf(stderr, "qar %s: %s: damaged archive: the directory's check value does not match\n",
                command, path);
        ++review->Problems;
    }
    review->Checked = checked && review->Problems == 0 && review->WalkError == 0;
    return review->Problems == 0 && review->WalkError == 0;
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

bool ReportMaxOutput(const char* command) {
    if (!TheWorkLimit.Reached) return false;
    fprintf(stderr,
            "qar %s: stopped: the run decoded more than %llu bytes, the --max-output limit; if "
            "you trust this archive, run again with a larger --max-output SIZE (bytes, or "
            "with K, M or G)\n",
            command, (unsigned long long)TheWorkLimit.Limit);
    return true;
}

uint64_t DeclaredFileBytes(uint64_t blockSize, uint64_t* unrounded) {
    if (blockSize == 0) blockSize = 1;
    uint64_t total = 0, plain = 0;
    auto add = [](uint64_t* sum, uint64_t bytes) {
        *sum = bytes > UINT64_MAX - *sum ? UINT64_MAX : *sum + bytes;
    };
    WalkDirectory([&](const DirectoryEntry& e, const std::string&) {
        if (e.Flags & FlagFolder) return true;
        add(&plain, e.MemberSize);
        add(&total, ((uint64_t)e.MemberSize + blockSize - 1) / blockSize * blockSize);
        return true;
    });
    if (unrounded != nullptr) *unrounded = plain;
    return total;
}

bool AvailableSpace(const std::string& path, uint64_t* bytes, uint64_t* blockSize) {
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
    // Space is handed out in fragments of f_frsize (the unit of f_bavail), which Linux file
    // systems make their block size; f_bsize where a file system leaves it zero.
    *blockSize = v.f_frsize != 0 ? v.f_frsize : v.f_bsize;
    if (*blockSize == 0) *blockSize = 1;
    return true;
}
