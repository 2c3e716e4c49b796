// The file-system and memory layer over KERNEL32. Each operation is one platform call; the
// layer adds the bookkeeping of the last system error number and, during a run, the refusal
// of links beneath the destination.
#include <windows.h>

#include "platform/fs.h"
#include "platform/text.h"
#include "profile/state.h"

namespace {

// During a run, the length of the destination's text plus one: components that end at or
// beyond it lie beneath the destination. 0 outside a run.
uint32_t Beneath;

inline HANDLE ToHandle(FileHandle handle) { return (HANDLE)handle; }

void Record() { State.LastSystemError = (int32_t)GetLastError(); }

// True, with error 681, when path goes through a junction or symbolic link beneath the run's
// destination, is one, or is a file with other hard links: what is written there would land
// outside the destination, or be shared with a name outside it. Each component is opened as
// itself (not what it points to) and asked; one that does not exist yet passes.
bool Linked(const char* path) {
    if (Beneath == 0) return false;
    char prefix[MAX_PATH];
    for (uint32_t i = 0; i < MAX_PATH; ++i) {
        char c = path[i];
        prefix[i] = 0;
        if (i >= Beneath && (c == '\\' || c == '/' || c == 0)) {
            HANDLE h = CreateFileA(prefix, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                   nullptr, OPEN_EXISTING,
                                   FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
            if (h != INVALID_HANDLE_VALUE) {
                // Folders are left out of the count of links: some file systems count their
                // entries there.
                BY_HANDLE_FILE_INFORMATION info;
                bool linked = GetFileInformationByHandle(h, &info) &&
                              ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ||
                               ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
                                info.nNumberOfLinks > 1));
                CloseHandle(h);
                if (linked) {
                    State.LastSystemError = kErrorStoppedOnLink;
                    return true;
                }
            }
        }
        if (c == 0) break;
        prefix[i] = c;
    }
    return false;
}

// A DOS date/time pair as a UTC file time; false when the words hold no valid moment, in
// which case that time of the file is left as it is.
bool DosToUtc(uint16_t date, uint16_t time, FILETIME* utc) {
    FILETIME local;
    return DosDateTimeToFileTime(date, time, &local) && LocalFileTimeToFileTime(&local, utc);
}

// The root of the volume that path names: "X:\" for a drive letter, "\\server\share\" for a
// network path; false when path names neither.
bool VolumeRoot(const char* path, char* root, uint32_t size) {
    char c = path[0];
    if (((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) && path[1] == ':') {
        root[0] = c;
        root[1] = ':';
        root[2] = '\\';
        root[3] = 0;
        return true;
    }
    if (path[0] != '\\' || path[1] != '\\') return false;
    uint32_t n = 2;
    int separators = 0;   // the one behind the server name, then the one behind the share
    root[0] = root[1] = '\\';
    for (const char* p = path + 2; *p != 0 && separators < 2 && n + 2 < size; ++p) {
        if (*p == '\\') ++separators;
        root[n++] = *p;
    }
    if (separators == 0) return false;
    if (root[n - 1] != '\\') root[n++] = '\\';
    root[n] = 0;
    return true;
}

}  // namespace

void* MemAlloc(uint32_t size) { return (void*)LocalAlloc(LMEM_FIXED, size); }

void* MemRealloc(void* block, uint32_t size) {
    // LocalReAlloc takes no null block: a first allocation goes to LocalAlloc.
    if (block == nullptr) return MemAlloc(size);
    return (void*)LocalReAlloc((HLOCAL)block, size, LMEM_MOVEABLE);
}

void MemFree(void* block) { LocalFree((HLOCAL)block); }

FileHandle FsCreate(const char* path, uint32_t attributes) {
    State.LastSystemError = 0;
    if (Linked(path)) return (FileHandle)INVALID_HANDLE_VALUE;
    HANDLE h = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           attributes | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (h == INVALID_HANDLE_VALUE) Record();
    return (FileHandle)h;
}

FileHandle FsOpen(const char* path, uint32_t access) {
    State.LastSystemError = 0;
    DWORD share = (access & GENERIC_WRITE) != 0 ? FILE_SHARE_READ : FILE_SHARE_READ | FILE_SHARE_WRITE;
    HANDLE h = CreateFileA(path, access, share, nullptr, OPEN_EXISTING, FILE_FLAG_RANDOM_ACCESS,
                           nullptr);
    if (h == INVALID_HANDLE_VALUE) Record();
    return (FileHandle)h;
}

int FsClose(FileHandle handle) {
    if (CloseHandle(ToHandle(handle))) return 1;
    if (State.LastSystemError == 0) Record();   // an earlier error says more
    return 0;
}

int32_t FsRead(FileHandle handle, void* buffer, uint32_t count) {
    State.LastSystemError = 0;
    DWORD done = 0;
    if (!ReadFile(ToHandle(handle), buffer, count, &done, nullptr)) {
        Record();
        return -1;
    }
    return (int32_t)done;
}

int32_t FsWrite(FileHandle handle, const void* buffer, uint32_t count) {
    State.LastSystemError = 0;
    DWORD done = 0;
    if (!WriteFile(ToHandle(handle), buffer, count, &done, nullptr)) {
        Record();
        if (State.LastSystemError == ERROR_HANDLE_DISK_FULL) State.LastSystemError = ERROR_DISK_FULL;
        return -1;
    }
    // A write the volume takes only in part has run out of room.
    if (done != count) {
        State.LastSystemError = ERROR_DISK_FULL;
        return -1;
    }
    return (int32_t)count;
}

int32_t FsSeek(FileHandle handle, int32_t distance, uint32_t method) {
    State.LastSystemError = 0;
    DWORD position = SetFilePointer(ToHandle(handle), distance, nullptr, method);
    if (position == INVALID_SET_FILE_POINTER) {
        Record();
        return -1;
    }
    return (int32_t)position;
}

int FsSetTimes(FileHandle handle, uint16_t createDate, uint16_t createTime, uint16_t writeDate,
               uint16_t writeTime) {
    State.LastSystemError = 0;
    FILETIME created, written;
    const FILETIME* createdPtr = nullptr;
    const FILETIME* writtenPtr = nullptr;
    if (createDate != 0 && DosToUtc(createDate, createTime, &created)) createdPtr = &created;
    if (writeDate != 0 && DosToUtc(writeDate, writeTime, &written)) writtenPtr = &written;
    if (!SetFileTime(ToHandle(handle), createdPtr, nullptr, writtenPtr)) {
        Record();
        return 0;
    }
    return 1;
}

int32_t FsGetAttributes(const char* path) {
    DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        Record();
        return -1;
    }
    return (int32_t)attributes;
}

int FsSetAttributes(const char* path, uint32_t attributes) {
    State.LastSystemError = 0;
    if (Linked(path)) return 0;
    if (SetFileAttributesA(path, attributes)) return 1;
    Record();
    return 0;
}

int FsDelete(const char* path) {
    if (Linked(path)) return 0;
    if (DeleteFileA(path)) return 1;
    Record();
    return 0;
}

int FsDiscard(FileHandle handle, const char* path) {
    FsClose(handle);
    return FsDelete(path);
}

int FsMakeFolder(const char* path) {
    if (Linked(path)) return 0;
    if (CreateDirectoryA(path, nullptr)) return 1;
    Record();
    return 0;
}

int FsSetDestination(const char* path) {
    Beneath = path != nullptr ? TextLength(path) + 1 : 0;
    return 1;
}

uint32_t FsMaxComponentLength(const char* destination) {
    char root[MAX_PATH];
    if (!VolumeRoot(destination, root, sizeof root)) {
        char current[MAX_PATH];
        DWORD n = GetCurrentDirectoryA(sizeof current, current);
        if (n == 0 || n >= sizeof current || !VolumeRoot(current, root, sizeof root)) return 0;
    }
    DWORD maxComponent = 0, flags = 0;
    if (!GetVolumeInformationA(root, nullptr, 0, nullptr, &maxComponent, &flags, nullptr, 0)) {
        return 0;
    }
    return maxComponent;
}
