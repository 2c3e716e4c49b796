#include "tools/archive_file.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>

#include <vector>

#include "archive/directory.h"
#include "decode/member.h"
#include "platform/errors.h"
#include "platform/fs.h"
#include "platform/text.h"
#include "profile/profile.h"
#include "profile/state.h"

namespace {

// A stub is small; its profile lies in its data, well inside the first megabytes.
const size_t kProfileSearchLimit = 16u << 20;

// True when an archive header at base fits the file: the magic, and a directory that
// starts behind the header and inside the file.
bool HeaderFits(const uint8_t* bytes, uint64_t base, uint64_t fileSize, ArchiveHeader* header) {
    if (memcmp(bytes, kArchiveMagic, 4) != 0) return false;
    ReadArchiveHeader(bytes, header);
    return header->DirectoryOffset >= kArchiveHeaderSize &&
           base + header->DirectoryOffset <= fileSize;
}

bool ReadAt(FILE* f, uint64_t offset, uint8_t* buffer, size_t count) {
    return fseeko(f, (off_t)offset, SEEK_SET) == 0 && fread(buffer, 1, count, f) == count;
}

}  // namespace

void ProfileAnchor(uint8_t anchor[30]) {
    static const uint32_t words[6] = {42, 14, 28, 288, 330, 344};
    for (int i = 0; i < 6; ++i) WriteLe32(anchor + 4 * i, words[i]);
    memcpy(anchor + 24, kDirectorySignature, 6);
}

long FindProfile(const uint8_t* image, size_t size, size_t from) {
    uint8_t anchor[kProfileAnchorSize];
    ProfileAnchor(anchor);
    for (size_t i = from + kProfileAnchorOffset; i + kProfileAnchorSize <= size; ++i) {
        const void* hit = memchr(image + i, anchor[0], size - kProfileAnchorSize + 1 - i);
        if (hit == nullptr) return -1;
        i = (size_t)((const uint8_t*)hit - image);
        if (memcmp(image + i, anchor, kProfileAnchorSize) == 0 &&
            i - kProfileAnchorOffset + kProfileSize <= size) {
            return (long)(i - kProfileAnchorOffset);
        }
    }
    return -1;
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
    bool found = false;
    if (info->FileSize >= kArchiveHeaderSize && ReadAt(f, 0, header, sizeof header) &&
        HeaderFits(header, 0, info->FileSize, &info->Header)) {
        info->Base = 0;
        info->Installer = false;
        found = true;
    } else {
        size_t n = (size_t)(info->FileSize < kProfileSearchLimit ? info->FileSize : kProfileSearchLimit);
        std::vector<uint8_t> image(n);
        if (n > 0 && ReadAt(f, 0, image.data(), n)) {
            for (long at = FindProfile(image.data(), n); at >= 0 && !found;
                 at = FindProfile(image.data(), n, (size_t)at + 1)) {
                uint32_t stubSize = ReadLe32(image.data() + at + kProfileStubSizeOffset);
                if ((uint64_t)stubSize + kArchiveHeaderSize <= info->FileSize &&
                    ReadAt(f, stubSize, header, sizeof header) &&
                    HeaderFits(header, stubSize, info->FileSize, &info->Header)) {
                    info->Base = stubSize;
                    info->Installer = true;
                    found = true;
                }
            }
        }
    }
    fclose(f);
    if (!found) *error = std::string(path) + " holds neither a qar archive nor a qar installer";
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
    int32_t directory = (int32_t)(Profile.ArchiveBase + State.Header.DirectoryOffset);
    if (FsSeek(State.ArchiveFile, directory, kFileBegin) < 0) return ErrSeek;
    State.EntryCursor = State.EntryEnd = entryBuffer;
    State.DirectoryPosition = State.FilePosition = directory;
    for (uint32_t i = 0; i < State.Header.EntryCount; ++i) {
        if (State.EntryEnd - State.EntryCursor < (int32_t)kEntryFixedSize) {
            int32_t r = ReadDirectoryBlock(entryBuffer);
            if (r != 0) return r;
            if (State.EntryEnd - State.EntryCursor < (int32_t)kEntryFixedSize) return ErrDamaged;
        }
        DirectoryEntry entry;
        ReadDirectoryEntry(State.EntryCursor, &entry);
        State.EntryCursor += kEntryFixedSize;
        uint32_t left = (uint32_t)(State.EntryEnd - State.EntryCursor);
        uint32_t extra = (uint32_t)entry.ExtraLengthByte + entry.ExtraLengthWord;
        if (left < entry.NameLength || left - entry.NameLength < extra) return ErrDamaged;
        std::string name((const char*)State.EntryCursor, entry.NameLength);
        State.EntryCursor += entry.NameLength + extra;
        if (!visit(entry, name)) break;
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

void SetProgramName(const char* path) {
    const char* base = strrchr(path, '/');
    CopyText(State.ProgramName, kProgramNameSize, base != nullptr ? base + 1 : path);
}
