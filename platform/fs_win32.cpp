// The file-system and memory layer over KERNEL32. Each operation is one platform call; the
// layer adds the bookkeeping of the last system error number and, during a run, the refusal
// of links beneath the destination.
//
// During a run every folder beneath the destination, the destination itself included, is
// opened as itself (never what a link points to) and checked once, when the run first makes
// or enters it, and then held open without delete sharing until the run ends: nobody can
// rename or delete it, so its text names that folder for the whole run and nothing can swap
// it for a junction. Files are checked through the handle they are written with.
#include <windows.h>

#include <string.h>

#include "platform/fs.h"
#include "platform/text.h"
#include "profile/state.h"

namespace {

// The folders a run may hold: a bound on its handles and on the memory of their records.
const uint32_t kMaxHeld = 65536;

// The run's destination text and its length.
char Destination[MAX_PATH];
uint32_t DestinationLength;

// The folders the run holds, the destination first, each with the path that names it behind
// the destination's text; none outside a run.
struct HeldFolder {
    HANDLE Handle;
    char Text[MAX_PATH];
};
HeldFolder* Held;
uint32_t HeldCount, HeldRoom;

inline HANDLE ToHandle(FileHandle handle) { return (HANDLE)handle; }

void Record() { State.LastSystemError = (int32_t)GetLastError(); }

// CreateFileA without security attributes or template; the error of a failure is recorded.
HANDLE Open(const char* path, DWORD access, DWORD share, DWORD disposition, DWORD flags) {
    HANDLE h = CreateFileA(path, access, share, nullptr, disposition, flags, nullptr);
    if (h == INVALID_HANDLE_VALUE) Record();
    return h;
}

// What handle holds, opened as itself by text and sharing no deletion, so that text names it
// for as long as the handle is open: 1 a folder, 0 a file with no other hard link, -1 (error
// 681) a junction or symbolic link, or a file whose bytes are shared with another name; -1
// with the error when it cannot be asked. The attributes are asked by the name (a quick
// question), a file's links through the handle (a slow one under Wine, which asks the
// volume for its serial number as well). Folders are left out of the count of links: some
// file systems count their entries there.
int Judge(HANDLE handle, const char* text) {
    BY_HANDLE_FILE_INFORMATION info;
    info.dwFileAttributes = GetFileAttributesA(text);
    info.nNumberOfLinks = 1;
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
        !GetFileInformationByHandle(handle, &info)) {
        Record();
        return -1;
    }
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 || info.nNumberOfLinks > 1) {
        State.LastSystemError = kErrorStoppedOnLink;
        return -1;
    }
    return (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// Makes room for more held folders; false when there can be none: the limit is reached, or
// no memory. Never a folder that goes unchecked: the operation fails and says why.
bool GrowHeld() {
    uint32_t room = HeldRoom != 0 ? HeldRoom * 2 : 64;
    HeldFolder* grown = room <= kMaxHeld ? (HeldFolder*)MemRealloc(Held, room * (uint32_t)sizeof(HeldFolder))
                                         : nullptr;
    if (grown == nullptr) {
        State.LastSystemError = ERROR_NOT_ENOUGH_MEMORY;
        return false;
    }
    Held = grown;
    HeldRoom = room;
    return true;
}

// Makes sure that the folder whose path is prefix, up to end, is held: found among those the
// run holds, or opened as itself, checked and added. A file there passes unheld when it ends
// the path (last), and otherwise fails the walk.
bool Hold(const char* prefix, uint32_t end, bool last) {
    const char* text = prefix + DestinationLength;
    uint32_t length = end - DestinationLength;
    for (uint32_t i = HeldCount; i-- > 0;) {   // the newest first: the likeliest
        if (memcmp(Held[i].Text, text, length + 1) == 0) return true;
    }
    HANDLE h = Open(prefix, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING,
                    FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS);
    if (h == INVALID_HANDLE_VALUE) return false;
    int kind = Judge(h, prefix);
    if (kind == 1 && (HeldCount < HeldRoom || GrowHeld())) {
        HeldFolder* f = &Held[HeldCount++];
        f->Handle = h;
        memcpy(f->Text, text, length + 1);
        return true;
    }
    CloseHandle(h);
    return kind == 0 && last;
}

// Makes sure that every folder of path beneath the run's destination is held, and with whole
// that the last component is held too when it is a folder, or passes the check when it is a
// file. True outside a run and for paths elsewhere; false with the error recorded when a
// component is missing, a link or a file, or cannot be held.
bool Enter(const char* path, bool whole) {
    if (HeldCount == 0 || memcmp(path, Destination, DestinationLength) != 0) return true;
    char prefix[MAX_PATH];
    for (uint32_t i = 0; i < MAX_PATH; ++i) {
        char c = path[i];
        bool end = c == 0;
        prefix[i] = 0;
        if (i > DestinationLength && (c == '\\' || c == '/' || (end & whole)) && !Hold(prefix, i, end)) {
            return false;
        }
        prefix[i] = c;
        if (end) break;
    }
    return true;
}

// A DOS date/time pair as a UTC file time, in utc; null when the words hold no moment (a
// date of 0, or no valid one), in which case that time of the file is left as it is.
const FILETIME* DosToUtc(uint16_t date, uint16_t time, FILETIME* utc) {
    FILETIME local;
    return date != 0 && DosDateTimeToFileTime(date, time, &local) &&
                   LocalFileTimeToFileTime(&local, utc)
               ? utc
               : nullptr;
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

// MemAlloc, MemRealloc and MemFree stay functions of their own: a call of one of them takes
// fewer bytes than the system call with its arguments copied into each of their callers.
__attribute__((noinline)) void* MemAlloc(uint32_t size) { return (void*)LocalAlloc(LMEM_FIXED, size); }

__attribute__((noinline)) void* MemRealloc(void* block, uint32_t size) {
    // LocalReAlloc takes no null block: a first allocation goes to LocalAlloc.
    if (block == nullptr) return MemAlloc(size);
    return (void*)LocalReAlloc((HLOCAL)block, size, LMEM_MOVEABLE);
}

__attribute__((noinline)) void MemFree(void* block) { LocalFree((HLOCAL)block); }

FileHandle FsCreate(const char* path, uint32_t attributes) {
    State.LastSystemError = 0;
    if (!Enter(path, false)) return kInvalidHandle;
    // An existing file is opened as itself and left whole until its handle shows that it may
    // be written: no link, and no other hard link whose bytes would change with it.
    HANDLE h = Open(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, OPEN_ALWAYS,
                    attributes | FILE_FLAG_SEQUENTIAL_SCAN | FILE_FLAG_OPEN_REPARSE_POINT);
    // A file made just now is new: one link, no link itself (OPEN_ALWAYS says
    // ERROR_ALREADY_EXISTS only when it opened one that was there).
    if (h == INVALID_HANDLE_VALUE || GetLastError() != ERROR_ALREADY_EXISTS) return (FileHandle)h;
    if (Judge(h, path) == 0) {
        if (SetEndOfFile(h)) return (FileHandle)h;
        Record();
    }
    CloseHandle(h);
    return kInvalidHandle;
}

FileHandle FsOpen(const char* path, uint32_t access) {
    State.LastSystemError = 0;
    DWORD share = (access & GENERIC_WRITE) != 0 ? FILE_SHARE_READ : FILE_SHARE_READ | FILE_SHARE_WRITE;
    return (FileHandle)Open(path, access, share, OPEN_EXISTING, FILE_FLAG_RANDOM_ACCESS);
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
    const FILETIME* createdPtr = DosToUtc(createDate, createTime, &created);
    const FILETIME* writtenPtr = DosToUtc(writeDate, writeTime, &written);
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

// SetFileAttributesA with the error of a failure recorded. Not inlined: folders and files
// both come here, and one call takes fewer bytes than the system call written out twice.
__attribute__((noinline)) static int SetAttributes(const char* path, uint32_t attributes) {
    if (SetFileAttributesA(path, attributes)) return 1;
    Record();
    return 0;
}

int FsSetAttributes(const char* path, uint32_t attributes) {
    State.LastSystemError = 0;
    if (!Enter(path, true)) return 0;
    return SetAttributes(path, attributes);
}

// The handle was checked when the file was made and shares no deletion: path names its file.
int FsSetFileAttributes(FileHandle, const char* path, uint32_t attributes) {
    State.LastSystemError = 0;
    return SetAttributes(path, attributes);
}

// Removes the name only: a link goes, never what it points to.
int FsDelete(const char* path) {
    if (!Enter(path, false)) return 0;
    if (DeleteFileA(path)) return 1;
    Record();
    return 0;
}

int FsDiscard(FileHandle handle, const char* path) {
    FsClose(handle);
    return FsDelete(path);
}

int FsMakeFolder(const char* path) {
    if (!Enter(path, false)) return 0;
    if (CreateDirectoryA(path, nullptr)) return 1;
    Record();
    return 0;
}

int FsSetDestination(const char* path) {
    // The run ends: every folder it held is let go.
    while (HeldCount != 0) CloseHandle(Held[--HeldCount].Handle);
    MemFree(Held);
    Held = nullptr;
    HeldRoom = 0;
    if (path == nullptr) return 1;
    // The destination is held first, as itself: it may not be a link either.
    State.LastSystemError = 0;
    DestinationLength = CopyText(Destination, sizeof Destination, path);
    return Hold(path, DestinationLength, false);
}

// Three handles in turn, each opened while the one before still keeps the name on the file:
// the writing one (which shares reading), one that reads and shares writing (while the
// writing one is open, every other handle must), and the one kept, which shares reading only
// and so is refused while anyone else may write. The file is the one written; what another
// writer could have changed in the moment between the second and the third, the caller
// finds by reading it.
FileHandle FsReopenToRun(FileHandle written, const char* path) {
    State.LastSystemError = 0;
    HANDLE between = Open(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, 0);
    CloseHandle(ToHandle(written));
    if (between == INVALID_HANDLE_VALUE) return kInvalidHandle;
    HANDLE h = Open(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN);
    CloseHandle(between);
    if (h != INVALID_HANDLE_VALUE && Judge(h, path) != 0) {
        CloseHandle(h);
        return kInvalidHandle;
    }
    return (FileHandle)h;
}

int FsReadyToRun(FileHandle held, const char* path) {
    // The destination and every folder on the way to the program are held since the run
    // checked them: none can have been renamed, deleted or replaced, and none is empty, which
    // a folder must be to become a junction in place. The destination is asked once more,
    // and a component the run does not hold yet is checked now. The file was opened by this
    // very path and shares no deletion: the path still leads to it.
    State.LastSystemError = 0;
    return HeldCount != 0 && Judge(Held[0].Handle, Destination) == 1 && Enter(path, false) &&
           Judge(ToHandle(held), path) == 0;
}

uint32_t FsMaxComponentLength(const char* destination) {
    // A destination that names no volume lies on the current directory's, which is the one
    // GetVolumeInformationA asks about when it is given no root.
    char root[MAX_PATH];
    const char* asked = VolumeRoot(destination, root, sizeof root) ? root : nullptr;
    DWORD maxComponent = 0;
    if (!GetVolumeInformationA(asked, nullptr, 0, nullptr, &maxComponent, nullptr, nullptr, 0)) {
        return 0;
    }
    return maxComponent;
}
