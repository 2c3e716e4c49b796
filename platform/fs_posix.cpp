// The file-system layer over Linux: files, folders, attributes and times. It keeps the
// results and error numbers of the Windows back end (error_map_posix.*). Paths arrive with
// backslashes and are converted on a local copy; each is walked through no link
// (path_walk_posix.*), and the operation acts on its last component relative to the handle
// of its folder. Reads go through the read-ahead cache (read_ahead_posix.*), which every
// other operation on a handle first empties.
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <time.h>
#include <unistd.h>

#include "platform/error_map_posix.h"
#include "platform/fs.h"
#include "platform/fs_posix.h"
#include "platform/path_walk_posix.h"
#include "platform/read_ahead_posix.h"
#include "profile/state.h"

using namespace fsposix;

namespace {

bool NoWriteBits(mode_t mode) { return (mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0; }

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
    // mktime reads the time zone anew on every call (a stat of /etc/localtime at least); the
    // files of an archive mostly share a few time stamps, so the last answer is kept.
    static uint32_t lastStamp = 0;   // date << 16 | time; 0 is no valid moment (day 0)
    static time_t lastSeconds;
    const uint32_t stamp = (uint32_t)date << 16 | time;
    time_t seconds = stamp == lastStamp ? lastSeconds : mktime(&tm);
    if (seconds == (time_t)-1) return false;
    lastStamp = stamp;
    lastSeconds = seconds;
    out->tv_sec = seconds;
    out->tv_nsec = 0;
    return true;
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
