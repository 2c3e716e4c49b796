// Linux-only control of the file-system layer, for tests.
#pragma once

// True makes the layer walk paths one component at a time (openat with O_NOFOLLOW), as it
// does where the kernel has no openat2; false lets it use openat2 again when it can.
void FsWalkByHand(bool byHand);
