// The thin file-system and memory layer. Every operation is one platform call, with the
// checks against links around it (FsSetDestination); failures
// return -1 (handles, counts, positions) or 0 (yes/no operations) and record the platform's
// error number (Win32 numbering on every platform) in State.LastSystemError.
// Back ends: fs_win32.cpp (KERNEL32) and fs_posix.cpp with fs_program_posix.cpp (Linux),
// chosen at link time.
#pragma once

#include <stdint.h>

typedef intptr_t FileHandle;
const FileHandle kInvalidHandle = -1;

enum : uint32_t {
    kGenericRead = 0x80000000u,
    kGenericWrite = 0x40000000u,
    kFileBegin = 0,
    kFileEnd = 2,
    kAttrReadOnly = 0x01,
    kAttrHidden = 0x02,
    kAttrSystem = 0x04,
    kAttrFolder = 0x10,
    kAttrArchive = 0x20,
    kAttrNormal = 0x80,
};

// Win32 error numbers that the layer records and the messages know.
enum : int32_t {
    kErrorFileNotFound = 2,
    kErrorPathNotFound = 3,
    kErrorAccessDenied = 5,
    kErrorWriteProtect = 19,
    kErrorHandleDiskFull = 39,
    kErrorNotSupported = 50,
    kErrorFileExists = 80,
    kErrorDiskFull = 112,
    kErrorBadPathname = 161,
    kErrorAlreadyExists = 183,
    kErrorStoppedOnLink = 681,   // a link (symbolic, junction or hard) where none may be
};

void* MemAlloc(uint32_t size);
void* MemRealloc(void* block, uint32_t size);   // may move; null leaves the old block valid;
                                                // a null block is a new allocation
void MemFree(void* block);

FileHandle FsCreate(const char* path, uint32_t attributes);
FileHandle FsOpen(const char* path, uint32_t access);
int FsClose(FileHandle handle);
int32_t FsRead(FileHandle handle, void* buffer, uint32_t count);
int32_t FsWrite(FileHandle handle, const void* buffer, uint32_t count);
int32_t FsSeek(FileHandle handle, int32_t distance, uint32_t method);
int FsSetTimes(FileHandle handle, uint16_t createDate, uint16_t createTime,
               uint16_t writeDate, uint16_t writeTime);
int32_t FsGetAttributes(const char* path);
int FsSetAttributes(const char* path, uint32_t attributes);
// The same for the file that handle (from FsCreate, still open) was made through under path.
// Win32: the handle, checked when it was opened and sharing no deletion, keeps path on that
// file, so nothing is opened again.
int FsSetFileAttributes(FileHandle handle, const char* path, uint32_t attributes);
int FsDelete(const char* path);
// Gives up a file that FsCreate made at path and that is not to be kept (it failed its check,
// or the run stopped while it was written): closes handle and removes what was written.
// Win32: closes and deletes the file. POSIX: beneath the run's destination the file was
// written under a temporary name, which is removed; a file that had the name stays as it was.
int FsDiscard(FileHandle handle, const char* path);
int FsMakeFolder(const char* path);

// Names the folder that a run extracts into; null ends the run. Until then no path beneath
// it is reached through a link, and a link where something is to be made or changed is
// refused with error 681 (deleting removes the name, never what a link points to). Returns 0
// (error recorded) when the folder cannot be opened, or is a link itself.
// POSIX: the folder is opened once, through no link (the `qar` tool resolves the links of
// the text the user gave before the run), and every path beneath it is walked from that
// handle without following any link (openat2, or openat a component at a time), so that a
// folder swapped for a link during the run is refused as well. Paths elsewhere are walked
// the same way from the root or the current folder. A file with other hard links is
// replaced by a new file, not written through.
// POSIX: a file made beneath the folder is written under a temporary name beside its own
// and renamed into place by FsClose (FsDiscard removes it), so that no interrupted or
// failed file ever stands under its name.
// Win32: the folder (the text that leads to it may go through links: the user chose it) and
// each folder beneath it are opened as themselves and checked once, when the run first
// makes or enters them, and then held open without delete sharing until the run ends, so
// that none can be renamed, deleted or replaced by a junction meanwhile; a junction or
// symbolic link is refused. A file that is already there is opened as itself without being
// truncated, and refused whole when its handle shows a link or other hard links; only then
// is it emptied. FsSetAttributes checks a file by opening it as itself. The folders a run
// holds are bounded (65536); one more, or no memory for its record, fails the operation with
// error 8 (not enough memory) rather than going unchecked. Paths elsewhere are not checked.
int FsSetDestination(const char* path);

// The longest file-name component that the volume holding destination takes, or 0 when it
// cannot be told. Win32: the volume of the destination's drive letter, or of the current
// folder's drive when the text has none (GetVolumeInformationA on "X:\\"). POSIX: the
// file system of the nearest existing folder of the destination.
uint32_t FsMaxComponentLength(const char* destination);

// The program a run starts is the file it wrote and verified. FsReopenToRun closes written,
// the handle that path was just written through, and opens path again for reading, sharing
// reading only: until that handle is closed nothing can write, rename or delete the file, and
// the program can still be started from it. Refused (kInvalidHandle, error recorded) when
// path no longer leads to the file written, or leads to a link or a file with other hard
// links. The caller reads the file through the handle to check that its bytes were not
// changed between the close and the reopen.
FileHandle FsReopenToRun(FileHandle written, const char* path);
// Just before the start: true when path, through no link (the destination included), still
// leads to the file held (from FsReopenToRun), which has no other hard link; 0, error
// recorded, otherwise.
int FsReadyToRun(FileHandle held, const char* path);
