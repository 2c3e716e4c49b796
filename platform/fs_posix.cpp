// The file-system layer over Linux. It keeps the results and error numbers of the Windows
// back end: failures record the Win32 number that matches errno, so messages read the same
// on both platforms. Paths arrive with backslashes and are converted on a local copy.
//
// No path is resolved through a symbolic link: each one is walked a folder at a time from an
// open handle (openat2 with RESOLVE_NO_SYMLINKS where the kernel has it, else openat with
// O_NOFOLLOW per component), and the last component is created, opened, changed or deleted
// relative to the handle of its folder. Paths beneath the run's destination start from the
// destination's handle, so a folder swapped for a link while the run goes on is refused
// rather than followed, and none of them may climb out with "..".
#include <errno.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include "platform/fs.h"
#include "platform/fs_posix.h"
#include "profile/state.h"

namespace {

const uint32_t kPathLimit = 4096;
const int32_t kErrorInvalidHandle = 6;
const int32_t kErrorNotEnoughMemory = 8;
const int32_t kErrorTooManyOpenFiles = 4;
const int32_t kErrorInvalidParameter = 87;
const int32_t kErrorNegativeSeek = 131;
const int32_t kErrorDirNotEmpty = 145;
const int32_t kErrorFilenameTooLong = 206;
const int32_t kErrorSharingViolation = 32;
const int32_t kErrorNotSameDevice = 17;
const int32_t kErrorInvalidFunction = 1;
const int32_t kErrorWriteFault = 29;
const int32_t kErrorReadFault = 30;
const int32_t kErrorGenFailure = 31;

// Copies path into out with '/' separators; false (and error 206) when it does not fit.
bool LocalPath(const char* path, char* out) {
    uint32_t i = 0;
    for (; path[i] != 0; ++i) {
        if (i + 1 >= kPathLimit) {
            State.LastSystemError = kErrorFilenameTooLong;
            return false;
        }
        out[i] = path[i] == '\\' ? '/' : path[i];
    }
    out[i] = 0;
    return true;
}

// True when the folder that would hold path exists.
bool ParentExists(const char* path) {
    char parent[kPathLimit];
    uint32_t last = 0;
    bool slash = false;
    for (uint32_t i = 0; path[i] != 0; ++i) {
        parent[i] = path[i];
        if (path[i] == '/') {
            last = i;
            slash = true;
        }
    }
    if (!slash) return true;   // the current folder
    parent[last == 0 ? 1 : last] = 0;
    struct stat st;
    return stat(parent, &st) == 0 && S_ISDIR(st.st_mode);
}

// The Win32 error number for errno after an operation on path (null when no path is
// involved); folder tells that the operation made a folder.
int32_t Win32Number(int error, const char* path, bool folder) {
    switch (error) {
        case ENOENT: return (folder || (path != nullptr && !ParentExists(path)))
                                ? kErrorPathNotFound : kErrorFileNotFound;
        case ENOTDIR: return kErrorPathNotFound;
        case EACCES:
        case EPERM:
        case EISDIR: return kErrorAccessDenied;
        case ELOOP: return kErrorStoppedOnLink;
        case ENOSPC:
        case EDQUOT:
        case EFBIG: return kErrorDiskFull;
        case EROFS: return kErrorWriteProtect;
        case EEXIST: return folder ? kErrorAlreadyExists : kErrorFileExists;
        case ENAMETOOLONG: return kErrorFilenameTooLong;
        case EBADF: return kErrorInvalidHandle;
        case ENOMEM: return kErrorNotEnoughMemory;
        case EMFILE:
        case ENFILE: return kErrorTooManyOpenFiles;
        case EINVAL: return kErrorInvalidParameter;
        case ENOTEMPTY: return kErrorDirNotEmpty;
        case EBUSY:
        case ETXTBSY: return kErrorSharingViolation;
        case EXDEV: return kErrorNotSameDevice;
        case ESPIPE: return kErrorInvalidFunction;
        case EIO: return kErrorReadFault;
        default: return kErrorGenFailure;
    }
}

// The last errno that became an error number, and that number: messages on Linux show the
// system's own text when the number they report is still this one.
int LastErrno;
int32_t LastErrnoNumber;

int32_t Win32Error(int error, const char* path, bool folder) {
    LastErrno = error;
    LastErrnoNumber = Win32Number(error, path, folder);
    return LastErrnoNumber;
}

void Record(const char* path, bool folder = false) {
    State.LastSystemError = Win32Error(errno, path, folder);
}

bool NoWriteBits(mode_t mode) { return (mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0; }

// The run's destination: an open handle and its text ('/' separators, no trailing one but a
// root's); -1 outside a run.
int Destination = -1;
char DestinationText[kPathLimit];
uint32_t DestinationLength;

// Converts the names beneath the destination (archive code page bytes) to the names made on
// disk; null keeps the bytes as they are.
FsNameDecoder NameDecoder;

// Set once openat2 has been refused (an older kernel, or a sandbox that filters it): from
// then on paths are walked one component at a time.
bool WalkByHand;

// Where a path leads: the folder that holds its last component, opened without going through
// a link, and the name of that component. Text is the path's local copy that Name points into.
struct Place {
    int Folder = AT_FDCWD;
    bool Owned = false;
    const char* Name = nullptr;
    char Text[kPathLimit];
    ~Place() {
        if (Owned) close(Folder);
    }
};

// The offset of the part of local beneath the destination, or -1 when local does not lie
// beneath it (the destination itself and places outside it do not).
int32_t BeneathOffset(const char* local) {
    if (Destination < 0) return -1;
    uint32_t n = DestinationLength;
    if (n == 0) {
        if (local[0] == '/') return -1;   // the destination is the current folder
    } else {
        if (memcmp(local, DestinationText, n) != 0) return -1;
        if (DestinationText[n - 1] != '/' && local[n] != '/') return -1;   // "/dest" vs "/destx"
    }
    while (local[n] == '/') ++n;
    return local[n] != 0 ? (int32_t)n : -1;
}

// True when a component of text is "..".
bool ClimbsUp(const char* text) {
    for (const char* p = text; *p != 0; ++p) {
        if ((p == text || p[-1] == '/') && p[0] == '.' && p[1] == '.' && (p[2] == '/' || p[2] == 0)) {
            return true;
        }
    }
    return false;
}

// Records why folder `name` inside `at` could not be opened on the way: a link is told
// apart from a file, which O_DIRECTORY reports alike.
void RecordOnTheWay(int at, const char* name, int error) {
    struct stat st;
    if (error == ENOTDIR && fstatat(at, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode)) {
        error = ELOOP;
    }
    State.LastSystemError = Win32Error(error, nullptr, true);
    if (error == ENOENT || error == ENOTDIR) State.LastSystemError = LastErrnoNumber = kErrorPathNotFound;
}

// Opens the folder that text names, starting at `at`, through no link; beneath keeps the
// walk inside `at`. Returns the handle (the caller closes it) or -1 with the error recorded.
int OpenFolder(int at, char* text, bool beneath) {
    if (!WalkByHand) {
        struct open_how how;
        memset(&how, 0, sizeof how);
        how.flags = O_PATH | O_DIRECTORY | O_CLOEXEC;
        how.resolve = RESOLVE_NO_SYMLINKS | (beneath ? RESOLVE_BENEATH : 0);
        long fd;
        do {
            fd = syscall(SYS_openat2, at, text, &how, sizeof how);
        } while (fd < 0 && errno == EINTR);
        if (fd >= 0) return (int)fd;
        // EAGAIN: a rename elsewhere kept the kernel from vouching for the walk; walking by
        // hand is as safe.
        if (errno == ENOSYS || errno == EPERM) {
            WalkByHand = true;
        } else if (errno != EAGAIN) {
            RecordOnTheWay(at, text, errno);
            return -1;
        }
    }
    int folder = at;
    bool owned = false;
    char* p = text;
    if (*p == '/') {
        folder = open("/", O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (folder < 0) {
            RecordOnTheWay(AT_FDCWD, "/", errno);
            return -1;
        }
        owned = true;
        while (*p == '/') ++p;
    }
    while (*p != 0) {
        char* end = p;
        while (*end != 0 && *end != '/') ++end;
        char separator = *end;
        *end = 0;
        int next = openat(folder, p, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (next < 0) RecordOnTheWay(folder, p, errno);
        *end = separator;
        if (owned) close(folder);
        if (next < 0) return -1;
        folder = next;
        owned = true;
        p = end;
        while (*p == '/') ++p;
    }
    if (!owned) {
        folder = openat(at, ".", O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (folder < 0) RecordOnTheWay(at, ".", errno);
    }
    return folder;
}

// Finds where path leads (see Place); false with the error recorded when a folder on the way
// is missing, is a link, or the path climbs out of the destination.
bool Find(const char* path, Place* place) {
    if (!LocalPath(path, place->Text)) return false;
    char* text = place->Text;
    int at = AT_FDCWD;
    int32_t offset = BeneathOffset(text);
    if (offset >= 0) {
        text += offset;
        // The raw bytes are decoded, not the local copy: in a double-byte code page a
        // backslash byte can be half of a character.
        if (NameDecoder != nullptr) {
            if (!NameDecoder(path + offset, text, kPathLimit - (uint32_t)offset)) {
                State.LastSystemError = kErrorFilenameTooLong;
                return false;
            }
            for (char* p = text; *p != 0; ++p) {
                if (*p == '\\') *p = '/';
            }
        }
        at = Destination;
        if (ClimbsUp(text)) {
            State.LastSystemError = kErrorBadPathname;
            return false;
        }
    }
    uint32_t n = (uint32_t)strlen(text);
    while (n > 1 && text[n - 1] == '/') text[--n] = 0;   // "sub/" names "sub"
    char* last = strrchr(text, '/');
    if (last == nullptr) {
        place->Folder = at;
        place->Name = n != 0 ? text : ".";
        return true;
    }
    place->Name = last[1] != 0 ? last + 1 : ".";
    char root[] = "/";
    char* folder = text;
    if (last == text) {
        folder = root;
    } else {
        *last = 0;
    }
    place->Folder = OpenFolder(at, folder, offset >= 0);
    if (place->Folder < 0) return false;
    place->Owned = true;
    return true;
}

// Records the error of an operation on the last component of a path whose folders were found.
void RecordLast(bool folder = false) { State.LastSystemError = Win32Error(errno, nullptr, folder); }

// A DOS date/time as seconds since the epoch, taken as local time; false when the words do
// not hold a valid moment (such a time stamp is left unset).
bool DosToTimespec(uint16_t date, uint16_t time, struct timespec* out) {
    int month = (date >> 5) & 0x0F, day = date & 0x1F;
    int hour = time >> 11, minute = (time >> 5) & 0x3F, second = (time & 0x1F) * 2;
    if (month < 1 || month > 12 || day < 1 || hour > 23 || minute > 59 || second > 59) return false;
    struct tm tm = {};
    tm.tm_year = 80 + (date >> 9);
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    tm.tm_isdst = -1;
    time_t seconds = mktime(&tm);
    if (seconds == (time_t)-1) return false;
    out->tv_sec = seconds;
    out->tv_nsec = 0;
    return true;
}

// Read-ahead of the handle read last: a stream of small blocks asks for a header and then
// the rest of each block, and answering those from one larger read saves two system calls a
// block. Small requests only; large ones go to the file directly. The bytes kept are those
// behind the position the caller sees, so the file's own position lies Kept bytes further:
// any other operation on the handle first gives the kept bytes back (Forget).
struct ReadAhead {
    int Handle = -1;
    uint32_t Next = 0;   // first kept byte not yet handed out
    uint32_t End = 0;    // end of the kept bytes
    uint8_t Bytes[16384];
};
ReadAhead Ahead;
const uint32_t kSmallRead = 4096;

// Drops the kept bytes of handle without moving its position: the handle is closed, or a
// number that open() hands out again was closed behind the layer's back.
void ForgetReused(int handle) {
    if (Ahead.Handle != handle) return;
    Ahead.Handle = -1;
    Ahead.Next = Ahead.End = 0;
}

// Puts the file's position back where the caller believes it is and drops the kept bytes.
// Returns false (error recorded) when the position cannot be moved back.
bool Forget(int handle) {
    if (handle < 0 || Ahead.Handle != handle) return true;
    off_t unread = (off_t)(Ahead.End - Ahead.Next);
    ForgetReused(handle);
    if (unread != 0 && lseek(handle, -unread, SEEK_CUR) < 0) {
        Record(nullptr);
        return false;
    }
    return true;
}

// Reads until count bytes or the end of the file, as ReadFile does on a file.
int32_t ReadFully(int handle, uint8_t* p, uint32_t count) {
    uint32_t done = 0;
    while (done < count) {
        ssize_t r = read(handle, p + done, count - done);
        if (r < 0) {
            if (errno == EINTR) continue;
            Record(nullptr);
            return -1;
        }
        if (r == 0) break;
        done += (uint32_t)r;
    }
    return (int32_t)done;
}

// The file being written beneath the destination. It is made under a temporary name in the
// folder of its own name and put in place by FsClose (one rename, which replaces a file of
// that name at once), or removed by FsDiscard or a signal: an interrupted or failed file
// never stands under its name, and a file it was to replace stays as it was. One at a time,
// which is how the extraction loop writes; the fields a signal handler reads are set before
// Handle and cleared after it.
struct StagedFile {
    volatile sig_atomic_t Handle = -1;
    int Folder = -1;   // the folder's handle, owned
    char Name[kPathLimit];
    char Path[kPathLimit];   // as the caller gave it
    char Temporary[48];
};
StagedFile Staged;
uint32_t StagedCount;
FsUnplacedFiles Unplaced;

// Makes the file that FsCreate hands out for name in folder: a temporary file beside it.
// What is already there is judged first, as FsCreate judges it when it writes in place: a
// link is refused, so is anything but a file and a read-only file; a file with other hard
// links is replaced like any other, its bytes stay with the other links.
FileHandle CreateStaged(const char* path, const Place& place, uint32_t attributes) {
    mode_t mode = (attributes & kAttrReadOnly) != 0 ? 0444 : 0666;
    bool replacing = false;
    struct stat st;
    if (fstatat(place.Folder, place.Name, &st, AT_SYMLINK_NOFOLLOW) == 0) {
        if (S_ISLNK(st.st_mode)) {
            State.LastSystemError = Win32Error(ELOOP, nullptr, false);
            return kInvalidHandle;
        }
        if (!S_ISREG(st.st_mode) || NoWriteBits(st.st_mode)) {
            State.LastSystemError = kErrorAccessDenied;
            return kInvalidHandle;
        }
        // The file that replaces a single-linked one keeps its permissions (a program stays
        // executable); one that shared its bytes gets those of a new file.
        replacing = st.st_nlink == 1;
    } else if (errno != ENOENT) {
        RecordLast();
        return kInvalidHandle;
    }
    // A name the file system cannot hold is refused now, not when the file is put in place.
    long nameMax = fpathconf(place.Folder, _PC_NAME_MAX);
    if (strlen(place.Name) >= sizeof Staged.Name || (nameMax > 0 && strlen(place.Name) > (size_t)nameMax)) {
        State.LastSystemError = Win32Error(ENAMETOOLONG, nullptr, false);
        return kInvalidHandle;
    }
    int fd = -1;
    char temporary[sizeof Staged.Temporary];
    for (int round = 0; round < 100 && fd < 0; ++round) {
        snprintf(temporary, sizeof temporary, ".qar-%ld-%u.part", (long)getpid(), StagedCount++);
        do {
            fd = openat(place.Folder, temporary, O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC | O_NOFOLLOW,
                        replacing ? 0600 : mode);
        } while (fd < 0 && errno == EINTR);
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) {
        RecordLast();
        return kInvalidHandle;
    }
    if (replacing) (void)fchmod(fd, st.st_mode & 0777);
    int folder = fcntl(place.Folder, F_DUPFD_CLOEXEC, 0);
    if (folder < 0) {
        RecordLast();
        close(fd);
        unlinkat(place.Folder, temporary, 0);
        return kInvalidHandle;
    }
    Staged.Folder = folder;
    strcpy(Staged.Name, place.Name);
    strcpy(Staged.Path, path);   // no longer than the local copy LocalPath made of it
    memcpy(Staged.Temporary, temporary, sizeof temporary);
    Staged.Handle = fd;
    ForgetReused(fd);
    return fd;
}

// Ends the staged file: closes it and either renames it into place or removes it. False
// (error recorded) when it could not be put in place; it is removed then.
bool EndStaged(bool keep) {
    int fd = Staged.Handle;
    ForgetReused(fd);
    bool closed = close(fd) == 0;
    if (!closed && State.LastSystemError == 0) Record(nullptr);
    bool placed = keep && closed;
    if (placed && renameat(Staged.Folder, Staged.Temporary, Staged.Folder, Staged.Name) != 0) {
        RecordLast();
        if (Unplaced.Count++ == 0) {
            Unplaced.Errno = errno;
            memcpy(Unplaced.Path, Staged.Path, sizeof Unplaced.Path);
        }
        placed = false;
    }
    if (!placed) unlinkat(Staged.Folder, Staged.Temporary, 0);
    Staged.Handle = -1;
    close(Staged.Folder);
    Staged.Folder = -1;
    return placed;
}

}  // namespace

void* MemAlloc(uint32_t size) { return malloc(size != 0 ? size : 1); }

void* MemRealloc(void* block, uint32_t size) { return realloc(block, size != 0 ? size : 1); }

void MemFree(void* block) { free(block); }

FileHandle FsCreate(const char* path, uint32_t attributes) {
    State.LastSystemError = 0;
    Place place;
    if (!Find(path, &place)) return kInvalidHandle;
    // Beneath the destination a file is written under a temporary name (StagedFile).
    char local[kPathLimit];
    if (Staged.Handle < 0 && LocalPath(path, local) && BeneathOffset(local) >= 0) {
        return CreateStaged(path, place, attributes);
    }
    mode_t mode = (attributes & kAttrReadOnly) != 0 ? 0444 : 0666;
    // Elsewhere a new file is made where there is none. An existing one is opened without following a
    // link and without truncating, and judged by what the handle shows, so that nothing can
    // be swapped in between the look and the write. Each round that finds a file with other
    // links, or loses a race, starts again; a few rounds are plenty.
    for (int round = 0; round < 4; ++round) {
        int fd;
        do {
            fd = openat(place.Folder, place.Name, O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC | O_NOFOLLOW, mode);
        } while (fd < 0 && errno == EINTR);
        if (fd >= 0) {
            ForgetReused(fd);
            return fd;
        }
        if (errno != EEXIST) {
            RecordLast();
            return kInvalidHandle;
        }
        do {
            fd = openat(place.Folder, place.Name, O_RDWR | O_CLOEXEC | O_NOFOLLOW);
        } while (fd < 0 && errno == EINTR);
        if (fd < 0) {
            if (errno == ENOENT) continue;   // deleted meanwhile: make it anew
            RecordLast();
            return kInvalidHandle;
        }
        struct stat st;
        if (fstat(fd, &st) != 0) {
            RecordLast();
            close(fd);
            return kInvalidHandle;
        }
        // Only a file is replaced, and not a read-only one: Windows refuses that whoever
        // asks, and root would not be refused here.
        if (!S_ISREG(st.st_mode) || NoWriteBits(st.st_mode)) {
            close(fd);
            State.LastSystemError = kErrorAccessDenied;
            return kInvalidHandle;
        }
        // A file with other hard links shares its bytes with them, wherever they are: it is
        // replaced by a new file instead of being truncated and written in place.
        if (st.st_nlink > 1) {
            close(fd);
            if (unlinkat(place.Folder, place.Name, 0) != 0 && errno != ENOENT) {
                RecordLast();
                return kInvalidHandle;
            }
            continue;
        }
        if (ftruncate(fd, 0) != 0) {
            RecordLast();
            close(fd);
            return kInvalidHandle;
        }
        ForgetReused(fd);
        return fd;
    }
    State.LastSystemError = kErrorAccessDenied;   // the name keeps changing under us
    return kInvalidHandle;
}

FileHandle FsOpen(const char* path, uint32_t access) {
    State.LastSystemError = 0;
    char local[kPathLimit];
    if (!LocalPath(path, local)) return kInvalidHandle;
    int flags = O_RDONLY;
    if ((access & kGenericWrite) != 0) flags = (access & kGenericRead) != 0 ? O_RDWR : O_WRONLY;
    // Beneath the destination through its handle and no link; elsewhere (the archive, a
    // device) as the path says.
    Place place;
    bool beneath = BeneathOffset(local) >= 0;
    if (beneath && !Find(path, &place)) return kInvalidHandle;
    int fd;
    do {
        fd = beneath ? openat(place.Folder, place.Name, flags | O_CLOEXEC | O_NOFOLLOW)
                     : open(local, flags | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        if (beneath) {
            RecordLast();
        } else {
            Record(local);
        }
        return kInvalidHandle;
    }
    // Only files can be opened, and a read-only file only for reading; Windows answers
    // both with "access denied", whoever asks.
    struct stat st;
    if (fstat(fd, &st) == 0 &&
        (S_ISDIR(st.st_mode) || (flags != O_RDONLY && S_ISREG(st.st_mode) && NoWriteBits(st.st_mode)))) {
        close(fd);
        State.LastSystemError = kErrorAccessDenied;
        return kInvalidHandle;
    }
    ForgetReused(fd);
    return fd;
}

int FsClose(FileHandle handle) {
    if (handle >= 0 && handle == Staged.Handle) return EndStaged(true) ? 1 : 0;
    ForgetReused((int)handle);
    if (close((int)handle) == 0) return 1;
    if (State.LastSystemError == 0) Record(nullptr);
    return 0;
}

int32_t FsRead(FileHandle handle, void* buffer, uint32_t count) {
    State.LastSystemError = 0;
    if (count > 0x7FFFFFFFu) count = 0x7FFFFFFFu;
    int fd = (int)handle;
    uint8_t* p = (uint8_t*)buffer;
    if (fd < 0) return ReadFully(fd, p, count);
    if (Ahead.Handle != fd) {
        // The kept bytes belong to another handle, which may have been closed behind the
        // layer's back: they are given back if it can take them, and this read goes on.
        Forget(Ahead.Handle);
        State.LastSystemError = 0;
    }
    uint32_t done = 0;
    if (Ahead.Handle == fd) {
        done = Ahead.End - Ahead.Next < count ? Ahead.End - Ahead.Next : count;
        memcpy(p, Ahead.Bytes + Ahead.Next, done);
        Ahead.Next += done;
        if (done == count) return (int32_t)done;
    }
    if (count - done >= kSmallRead) {
        int32_t r = ReadFully(fd, p + done, count - done);
        return r < 0 ? -1 : (int32_t)done + r;
    }
    int32_t r = ReadFully(fd, Ahead.Bytes, sizeof Ahead.Bytes);
    if (r < 0) return -1;
    uint32_t n = (uint32_t)r < count - done ? (uint32_t)r : count - done;
    memcpy(p + done, Ahead.Bytes, n);
    Ahead.Handle = fd;
    Ahead.Next = n;
    Ahead.End = (uint32_t)r;
    return (int32_t)(done + n);
}

int32_t FsWrite(FileHandle handle, const void* buffer, uint32_t count) {
    State.LastSystemError = 0;
    if (count > 0x7FFFFFFFu) {
        State.LastSystemError = kErrorInvalidParameter;
        return -1;
    }
    if (handle == kDiscardHandle) return (int32_t)count;
    if (!Forget((int)handle)) return -1;
    ssize_t r;
    do {
        r = write((int)handle, buffer, count);
    } while (r < 0 && errno == EINTR);
    if (r < 0) {
        State.LastSystemError = errno == EIO ? kErrorWriteFault : Win32Error(errno, nullptr, false);
        return -1;
    }
    // A file that takes only part of the bytes has run out of room.
    if ((uint32_t)r != count) {
        State.LastSystemError = kErrorDiskFull;
        return -1;
    }
    return (int32_t)count;
}

int32_t FsSeek(FileHandle handle, int32_t distance, uint32_t method) {
    State.LastSystemError = 0;
    int whence = method == kFileEnd ? SEEK_END : (method == kFileBegin ? SEEK_SET : SEEK_CUR);
    if (!Forget((int)handle)) return -1;
    off_t position = lseek((int)handle, (off_t)distance, whence);
    if (position < 0) {
        State.LastSystemError = errno == EINVAL ? kErrorNegativeSeek : Win32Error(errno, nullptr, false);
        return -1;
    }
    // Positions are 32-bit for the callers; one that does not fit is a failure, not a wrap.
    if (position > 0x7FFFFFFF) {
        State.LastSystemError = kErrorInvalidParameter;
        return -1;
    }
    return (int32_t)position;
}

int FsSetTimes(FileHandle handle, uint16_t createDate, uint16_t createTime, uint16_t writeDate,
               uint16_t writeTime) {
    State.LastSystemError = 0;
    (void)createDate;   // Linux keeps no settable creation time
    (void)createTime;
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;   // the last-access time is never set
    times[1].tv_sec = 0;
    times[1].tv_nsec = UTIME_OMIT;
    if (writeDate != 0 && !DosToTimespec(writeDate, writeTime, &times[1])) {
        times[1].tv_sec = 0;
        times[1].tv_nsec = UTIME_OMIT;
    }
    if (futimens((int)handle, times) != 0) {
        Record(nullptr);
        return 0;
    }
    return 1;
}

int32_t FsGetAttributes(const char* path) {
    Place place;
    if (!Find(path, &place)) return -1;
    struct stat st;
    if (fstatat(place.Folder, place.Name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
        RecordLast();
        return -1;
    }
    // A link is nothing that can be used here: it is reported as the error it gives.
    if (S_ISLNK(st.st_mode)) {
        State.LastSystemError = kErrorStoppedOnLink;
        return -1;
    }
    if (S_ISDIR(st.st_mode)) return kAttrFolder;
    return (int32_t)(kAttrArchive | (NoWriteBits(st.st_mode) ? (uint32_t)kAttrReadOnly : 0u));
}

namespace {

// The permission bits that mode becomes under the Windows attributes: read-only takes every
// write bit away; a file without one gets the owner's back when it is not read-only.
mode_t ModeFor(mode_t mode, uint32_t attributes) {
    return (attributes & kAttrReadOnly) != 0 ? (mode_t)(mode & ~(S_IWUSR | S_IWGRP | S_IWOTH))
           : NoWriteBits(mode)               ? (mode_t)(mode | S_IWUSR)
                                             : mode;
}

}  // namespace

int FsSetAttributes(const char* path, uint32_t attributes) {
    State.LastSystemError = 0;
    Place place;
    if (!Find(path, &place)) return 0;
    struct stat st;
    if (fstatat(place.Folder, place.Name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
        RecordLast();
        return 0;
    }
    // A link is never followed: its target may lie anywhere.
    if (S_ISLNK(st.st_mode)) {
        State.LastSystemError = kErrorStoppedOnLink;
        return 0;
    }
    // Folders keep their permissions: a folder without write bits could take no files.
    // Hidden and system have no counterpart here and are ignored.
    if (S_ISDIR(st.st_mode)) return 1;
    mode_t mode = st.st_mode & 07777;
    mode_t wanted = ModeFor(mode, attributes);
    // AT_SYMLINK_NOFOLLOW changes the file the name holds when the call is made and refuses
    // a link swapped in since the look above (EOPNOTSUPP).
    if (wanted != mode && fchmodat(place.Folder, place.Name, wanted, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno == EOPNOTSUPP) errno = ELOOP;
        RecordLast();
        return 0;
    }
    return 1;
}

// A file still open from FsCreate is changed through its handle: beneath the destination it
// stands under its temporary name until FsClose, so the path would reach the file it replaces.
int FsSetFileAttributes(FileHandle handle, const char*, uint32_t attributes) {
    State.LastSystemError = 0;
    struct stat st;
    if (fstat((int)handle, &st) != 0) {
        RecordLast();
        return 0;
    }
    if (!S_ISREG(st.st_mode)) return 1;
    const mode_t mode = st.st_mode & 07777, wanted = ModeFor(mode, attributes);
    if (wanted != mode && fchmod((int)handle, wanted) != 0) {
        RecordLast();
        return 0;
    }
    return 1;
}

int FsDelete(const char* path) {
    Place place;
    if (!Find(path, &place)) return 0;
    // Windows does not delete a read-only file. A link is deleted, never what it points to.
    struct stat st;
    if (fstatat(place.Folder, place.Name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode) &&
        NoWriteBits(st.st_mode)) {
        State.LastSystemError = kErrorAccessDenied;
        return 0;
    }
    if (unlinkat(place.Folder, place.Name, 0) != 0) {
        RecordLast();
        return 0;
    }
    return 1;
}

int FsDiscard(FileHandle handle, const char* path) {
    if (handle >= 0 && handle == Staged.Handle) {
        EndStaged(false);
        return 1;
    }
    FsClose(handle);
    return FsDelete(path);
}

FsUnplacedFiles FsTakeUnplacedFiles() {
    FsUnplacedFiles taken = Unplaced;
    Unplaced = FsUnplacedFiles{};
    return taken;
}

void FsRemoveStagedFile() {
    if (Staged.Handle >= 0) unlinkat(Staged.Folder, Staged.Temporary, 0);
}

int FsMakeFolder(const char* path) {
    Place place;
    if (!Find(path, &place)) return 0;
    if (mkdirat(place.Folder, place.Name, 0777) != 0) {
        RecordLast(true);
        return 0;
    }
    return 1;
}

int FsSetDestination(const char* path) {
    if (Destination >= 0) close(Destination);
    Destination = -1;
    if (path == nullptr) return 1;
    if (!LocalPath(path, DestinationText)) return 0;
    uint32_t n = (uint32_t)strlen(DestinationText);
    while (n > 1 && DestinationText[n - 1] == '/') DestinationText[--n] = 0;
    // Opened like any other path: a link in the text is refused, not followed. The `qar`
    // tool resolves the links of the folder the user names before the run.
    Place place;
    if (!Find(path, &place)) return 0;
    int fd = openat(place.Folder, place.Name, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        RecordOnTheWay(place.Folder, place.Name, errno);
        return 0;
    }
    Destination = fd;
    DestinationLength = n;
    return 1;
}

void FsWalkByHand(bool byHand) { WalkByHand = byHand; }

void FsSetNameDecoder(FsNameDecoder decoder) { NameDecoder = decoder; }

int FsLastErrno(int32_t* number) {
    *number = LastErrnoNumber;
    return LastErrno;
}

uint32_t FsMaxComponentLength(const char* destination) {
    char local[kPathLimit];
    int32_t saved = State.LastSystemError;
    bool fits = LocalPath(destination, local);
    State.LastSystemError = saved;
    if (!fits) return 0;
    // Walk up until a folder exists: the destination itself is usually not made yet.
    uint32_t length = 0;
    while (local[length] != 0) ++length;
    for (;;) {
        struct statvfs vfs;
        const char* probe = length == 0 ? (local[0] == '/' ? "/" : ".") : local;
        if (statvfs(probe, &vfs) == 0) return (uint32_t)vfs.f_namemax;
        if (length == 0) return 0;
        while (length > 0 && local[length - 1] != '/') --length;   // drop the last component
        while (length > 1 && local[length - 1] == '/') --length;   // and its separators
        if (length == 1 && local[0] == '/') {
            local[1] = 0;
        } else {
            local[length] = 0;
        }
    }
}
