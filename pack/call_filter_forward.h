// The forward x86 call filters: rewrite the operand behind every 0xE8 (CALL rel) byte of a
// member into a position-independent form that compresses better. The extractor's filters
// undo them exactly; both walk the bytes the same way (an operand is never examined for
// 0xE8, and an 0xE8 among the last w bytes of the member is left alone).
#pragma once

#include <stddef.h>
#include <stdint.h>

// The 32-bit filter needs the member size as its bound, and is one-to-one only while
// bound + operand position stays within 32 bits: members up to this size can take it.
const uint64_t kMaxCallFilter32Size = 0x80000000u;

// 16-bit operands: stored = operand + position (mod 65536).
void ApplyCallFilter16(uint8_t* data, size_t size);

// 32-bit operands with bound = size: targets inside the member are stored as
// operand + position, targets from size to size + position - 1 in the mirrored negative
// form, all other operands unchanged. size must not exceed kMaxCallFilter32Size.
void ApplyCallFilter32(uint8_t* data, size_t size);

// The same rewrite over a member that arrives in pieces, width 2 or 4: data[0, size) are the
// member's bytes from offset `at`, and looking starts at data[from]. Rewrites every call
// whose operand lies wholly in data; returns where looking goes on: the bytes in front of it
// are final, the rest must come again at the front of the next piece, with from = 0.
size_t ApplyCallFilterPiece(uint8_t* data, size_t size, uint64_t at, uint64_t memberSize,
                            int width, size_t from);
