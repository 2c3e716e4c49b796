// errno to Win32 error numbers for the Linux file-system layer (error_map_posix.h).
#include "platform/error_map_posix.h"

#include <errno.h>
#include <sys/stat.h>

#include "platform/fs.h"
#include "platform/fs_posix.h"
#include "platform/path_walk_posix.h"
#include "profile/state.h"

namespace fsposix {

namespace {

const int32_t kErrorInvalidHandle = 6;
const int32_t kErrorNotEnoughMemory = 8;
const int32_t kErrorTooManyOpenFiles = 4;
const int32_t kErrorDirNotEmpty = 145;
const int32_t kErrorSharingViolation = 32;
const int32_t kErrorNotSameDevice = 17;
const int32_t kErrorInvalidFunction = 1;
const int32_t kErrorReadFault = 30;
const int32_t kErrorGenFailure = 31;

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

}  // namespace

int32_t Win32Error(int error, const char* path, bool folder) {
    LastErrno = error;
    LastErrnoNumber = Win32Number(error, path, folder);
    return LastErrnoNumber;
}

void Record(const char* path, bool folder) {
    State.LastSystemError = Win32Error(errno, path, folder);
}

void RecordLast(bool folder) { State.LastSystemError = Win32Error(errno, nullptr, folder); }

}  // namespace fsposix

int FsLastErrno(int32_t* number) {
    *number = fsposix::LastErrnoNumber;
    return fsposix::LastErrno;
}
