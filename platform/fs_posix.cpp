// The file-system layer over Linux. It keeps the results and error numbers of the Windows
// back end: failures record the Win32 number that matches errno, so messages read the same
// on both platforms. Paths arrive with backslashes and are converted on a local copy.
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <time.h>
#include <unistd.h>

#include "platform/fs.h"
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
int32_t Win32Error(int error, const char* path, bool folder) {
    switch (error) {
        case ENOENT: return (folder || (path != nullptr && !ParentExists(path)))
                                ? kErrorPathNotFound : kErrorFileNotFound;
        case ENOTDIR: return kErrorPathNotFound;
        case EACCES:
        case EPERM:
        case EISDIR:
        case ELOOP: return kErrorAccessDenied;
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

void Record(const char* path, bool folder = false) {
    State.LastSystemError = Win32Error(errno, path, folder);
}

bool NoWriteBits(mode_t mode) { return (mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0; }

// True when no folder on the way to path (each component but the last) is a symbolic link.
// Files and folders are made, changed and deleted only through real folders: a link planted
// inside the destination would otherwise lead the archive's entries outside it. The `qar`
// tool resolves the links of the destination itself before a run.
bool NoLinkOnTheWay(const char* local) {
    char prefix[kPathLimit];
    for (uint32_t i = 0; local[i] != 0; ++i) {
        if (local[i] == '/' && i > 0) {
            prefix[i] = 0;
            struct stat st;
            if (lstat(prefix, &st) == 0 && S_ISLNK(st.st_mode)) {
                State.LastSystemError = kErrorAccessDenied;
                return false;
            }
        }
        prefix[i] = local[i];
    }
    return true;
}

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

}  // namespace

void* MemAlloc(uint32_t size) { return malloc(size != 0 ? size : 1); }

void* MemRealloc(void* block, uint32_t size) { return realloc(block, size != 0 ? size : 1); }

void MemFree(void* block) { free(block); }

FileHandle FsCreate(const char* path, uint32_t attributes) {
    State.LastSystemError = 0;
    char local[kPathLimit];
    if (!LocalPath(path, local) || !NoLinkOnTheWay(local)) return kInvalidHandle;
    // Windows refuses to replace a read-only file whoever asks; root would not be refused.
    struct stat st;
    if (lstat(local, &st) == 0 && S_ISREG(st.st_mode) && NoWriteBits(st.st_mode)) {
        State.LastSystemError = kErrorAccessDenied;
        return kInvalidHandle;
    }
    // A file with other hard links shares its bytes with them, wherever they are: it is
    // replaced by a new file instead of being truncated and written in place.
    if (lstat(local, &st) == 0 && S_ISREG(st.st_mode) && st.st_nlink > 1 && unlink(local) != 0) {
        Record(local);
        return kInvalidHandle;
    }
    mode_t mode = (attributes & kAttrReadOnly) != 0 ? 0444 : 0666;
    int fd;
    do {
        fd = open(local, O_CREAT | O_TRUNC | O_RDWR | O_CLOEXEC | O_NOFOLLOW, mode);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        Record(local);
        return kInvalidHandle;
    }
    return fd;
}

FileHandle FsOpen(const char* path, uint32_t access) {
    State.LastSystemError = 0;
    char local[kPathLimit];
    if (!LocalPath(path, local)) return kInvalidHandle;
    int flags = O_RDONLY;
    if ((access & kGenericWrite) != 0) flags = (access & kGenericRead) != 0 ? O_RDWR : O_WRONLY;
    int fd;
    do {
        fd = open(local, flags | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        Record(local);
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
    return fd;
}

int FsClose(FileHandle handle) {
    if (close((int)handle) == 0) return 1;
    if (State.LastSystemError == 0) Record(nullptr);
    return 0;
}

int32_t FsRead(FileHandle handle, void* buffer, uint32_t count) {
    State.LastSystemError = 0;
    if (count > 0x7FFFFFFFu) count = 0x7FFFFFFFu;
    uint8_t* p = (uint8_t*)buffer;
    uint32_t done = 0;
    // Reads until count bytes or the end of the file, as ReadFile does on a file.
    while (done < count) {
        ssize_t r = read((int)handle, p + done, count - done);
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

int32_t FsWrite(FileHandle handle, const void* buffer, uint32_t count) {
    State.LastSystemError = 0;
    if (count > 0x7FFFFFFFu) {
        State.LastSystemError = kErrorInvalidParameter;
        return -1;
    }
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
    char local[kPathLimit];
    if (!LocalPath(path, local)) return -1;
    struct stat st;
    if (stat(local, &st) != 0) {
        Record(local);
        return -1;
    }
    if (S_ISDIR(st.st_mode)) return kAttrFolder;
    return (int32_t)(kAttrArchive | (NoWriteBits(st.st_mode) ? (uint32_t)kAttrReadOnly : 0u));
}

int FsSetAttributes(const char* path, uint32_t attributes) {
    State.LastSystemError = 0;
    char local[kPathLimit];
    if (!LocalPath(path, local) || !NoLinkOnTheWay(local)) return 0;
    struct stat st;
    if (lstat(local, &st) != 0) {
        Record(local);
        return 0;
    }
    // A link is never followed: its target may lie anywhere.
    if (S_ISLNK(st.st_mode)) {
        State.LastSystemError = kErrorAccessDenied;
        return 0;
    }
    // Folders keep their permissions: a folder without write bits could take no files.
    // Hidden and system have no counterpart here and are ignored.
    if (S_ISDIR(st.st_mode)) return 1;
    mode_t mode = st.st_mode & 07777;
    mode_t wanted = (attributes & kAttrReadOnly) != 0 ? (mode_t)(mode & ~(S_IWUSR | S_IWGRP | S_IWOTH))
                    : NoWriteBits(mode) ? (mode_t)(mode | S_IWUSR) : mode;
    if (wanted != mode && chmod(local, wanted) != 0) {
        Record(local);
        return 0;
    }
    return 1;
}

int FsDelete(const char* path) {
    char local[kPathLimit];
    if (!LocalPath(path, local) || !NoLinkOnTheWay(local)) return 0;
    // Windows does not delete a read-only file.
    struct stat st;
    if (lstat(local, &st) == 0 && S_ISREG(st.st_mode) && NoWriteBits(st.st_mode)) {
        State.LastSystemError = kErrorAccessDenied;
        return 0;
    }
    if (unlink(local) != 0) {
        Record(local);
        return 0;
    }
    return 1;
}

int FsMakeFolder(const char* path) {
    char local[kPathLimit];
    if (!LocalPath(path, local) || !NoLinkOnTheWay(local)) return 0;
    if (mkdir(local, 0777) != 0) {
        Record(local, true);
        return 0;
    }
    return 1;
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
