// Member extraction from solid streams through the history window.
#pragma once

#include <stdint.h>

#include "platform/fs.h"

// Writes the member's memberSize bytes to output and leaves their CRC-32 in State.RunningCrc.
// Returns 0, ErrCrc when its stream ended before memberSize bytes came out, or another
// negative error code.
int32_t ExtractMember(FileHandle output, uint32_t streamOffset, uint32_t memberOffset,
                      uint32_t memberSize, uint8_t flags);
// Releases the window of the current stream and forgets the stream (end of a run).
void ReleaseStream();

// The InputBuffer of a run, for the installer's extraction loop and the host's commands
// alike: allocated with its slack zeroed and no stream started (false when memory is
// short), and released together with the stream.
bool AllocateInput();
void ReleaseInput();
