// Linux-only parts of the file-system layer, for the `qar` tool and tests: controls, the
// name decoder and the discarding handle.
#pragma once

#include <stdint.h>

#include "platform/fs.h"

// True makes the layer walk paths one component at a time (openat with O_NOFOLLOW), as it
// does where the kernel has no openat2; false lets it use openat2 again when it can.
void FsWalkByHand(bool byHand);

// Converts a name beneath the destination, as the archive stores it (its code page, with
// backslashes), into out (room bytes with the terminator) as the name to make on disk;
// false when it does not fit.
typedef bool (*FsNameDecoder)(const char* name, char* out, uint32_t room);
// Every path beneath the run's destination is converted with decoder from then on (null:
// the bytes are used as they are, the default).
void FsSetNameDecoder(FsNameDecoder decoder);

// The errno of the last failure the layer recorded, and the error number it became (to tell
// whether a message that reports that number is about this failure).
int FsLastErrno(int32_t* number);

// A handle that takes every write and drops it without a system call: `qar test` wants only
// the members' CRC-32, not their bytes. Only FsWrite accepts it.
const FileHandle kDiscardHandle = -2;

// Removes the file that is being written beneath the destination under its temporary name,
// if there is one (FsCreate); safe in a signal handler that ends the process.
void FsRemoveStagedFile();

// Files made beneath the destination that could not be renamed to their names when closed
// (the extraction loop does not look at FsClose's result): how many, and the first one's
// path (as given to FsCreate) and errno. Taking them resets the count.
struct FsUnplacedFiles {
    uint32_t Count;
    int Errno;
    char Path[4096];
};
FsUnplacedFiles FsTakeUnplacedFiles();
