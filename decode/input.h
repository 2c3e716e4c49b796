// The InputBuffer, its bit order and the block framing shared by every decoder.
#pragma once

#include <stdint.h>

// Empties the InputBuffer: nothing read, nothing left of any block. Whoever starts reading
// afresh (a restarted stream, the directory reader, a test) starts from here.
void ResetInput();

int32_t ReadArchive(void* destination, uint32_t count);
// start = true begins the next block of the current stream; false continues the current one.
int32_t RefillInput(bool start);
int32_t CopyStored(uint8_t* destination, uint32_t count);
