// The LZ block decoder: one compressed block body into a window.
#pragma once

#include <stdint.h>

// Decodes count bytes to window + start (matches may read window bytes from offset 0).
// Returns the bytes produced, or a negative error code.
int32_t DecodeLzBlock(uint8_t* window, uint32_t start, uint32_t count);

// Frees the default TableSet's tables that the decoder keeps between blocks where the build
// asks for it (kKeepDefaultTables).
void ForgetKeptTables();
