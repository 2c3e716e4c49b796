// Linux-only parts of the file-system layer: a control for tests, and the discarding handle.
#pragma once

#include "platform/fs.h"

// True makes the layer walk paths one component at a time (openat with O_NOFOLLOW), as it
// does where the kernel has no openat2; false lets it use openat2 again when it can.
void FsWalkByHand(bool byHand);

// A handle that takes every write and drops it without a system call: `qar test` wants only
// the members' CRC-32, not their bytes. Only FsWrite accepts it.
const FileHandle kDiscardHandle = -2;
