// How the Linux file-system layer records a failure: errno becomes the Win32 error number
// that the Windows back end records for the same failure, so that messages read the same on
// both platforms. Shared by the layer's parts (fs_posix.cpp, path_walk_posix.cpp,
// read_ahead_posix.cpp); the rest of the program sees State.LastSystemError and FsLastErrno.
#pragma once

#include <stdint.h>

namespace fsposix {

// Win32 error numbers that the layer records beside those platform/fs.h names.
const int32_t kErrorInvalidParameter = 87;
const int32_t kErrorNegativeSeek = 131;
const int32_t kErrorFilenameTooLong = 206;
const int32_t kErrorWriteFault = 29;

// The Win32 error number for errno `error` after an operation on path (null when no path
// is involved); folder tells that the operation made a folder. Remembered for FsLastErrno.
int32_t Win32Error(int error, const char* path, bool folder);

// Records errno's number in State.LastSystemError, after an operation on path (see
// Win32Error).
void Record(const char* path, bool folder = false);

// Records the error of an operation on the last component of a path whose folders were found.
void RecordLast(bool folder = false);

}  // namespace fsposix
