#include "tools/archive_session.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <sys/statvfs.h>

#include <filesystem>
#include <system_error>

#include "archive/directory.h"
#include "decode/member.h"
#include "decode/work_limit.h"
#include "platform/fs.h"
#include "platform/text.h"
#include "profile/profile.h"
#include "profile/state.h"
#include "tools/directory_review.h"

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
void SetProgramName(const char* path) {
    const char* base = strrchr(path, '/');
    CopyText(State.ProgramName, kProgramNameSize, base != nullptr ? base + 1 : path);
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

uint64_t DeclaredFileBytes(const DirectoryReview& review, uint64_t blockSize, uint64_t* unrounded) {
    if (blockSize == 0) blockSize = 1;
    uint64_t total = 0, plain = 0;
    auto add = [](uint64_t* sum, uint64_t bytes) {
        *sum = bytes > UINT64_MAX - *sum ? UINT64_MAX : *sum + bytes;
    };
    WalkReviewed(review, [&](const DirectoryEntry& e, const std::string&) {
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
