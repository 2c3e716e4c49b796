// A bound on what one run may decode and write, kept by the Linux tools (`qar test` and
// `qar extract`, --max-output): the decoded size of every block the stream decoder starts,
// a restarted stream counting again, and the member bytes written, each against the same
// limit. The installer keeps no bound (its user sees the progress and can cancel): there
// both counts are empty functions that vanish from its code.
#pragma once

#include <stdint.h>

// Counts count bytes that the stream decoder is about to decode. False when they would pass
// the bound: the caller then gives up with ErrLimit.
bool CountDecoded(uint32_t count);
// Counts count member bytes just written; false when they passed the bound (the run stops
// there, at most one block's bytes beyond it).
bool CountWritten(uint32_t count);

// The Linux tools' side (decode/work_limit_posix.cpp).
struct WorkLimit {
    uint64_t Limit;     // bytes; the default is no bound at all
    uint64_t Decoded;
    uint64_t Written;
    bool Reached;       // a count was refused
};
extern WorkLimit TheWorkLimit;

// Starts a run with the given bound and nothing counted.
void StartWorkLimit(uint64_t limit);
