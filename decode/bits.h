// Bit-level reading of the InputBuffer, shared by the code-length reader and the LZ block
// decoder. The stream is least significant bit first: the next bits are the little-endian
// word at the input pointer shifted right by the bit offset (0..7). Decoders keep the
// pointer and the offset in locals and write them back to State around refills.
#pragma once

#include <stdint.h>

#include "profile/state.h"

// The widest word a peek loads, BitWord: 64 bits on 64-bit hosts, 32 bits on the i686 stub.
// A peek at a bit offset of up to 7 leaves at least 57 or 25 valid bits; the code-length
// reader takes one code (at most 16 bits) per peek, the symbol loop has its own budget
// (lzdecode.cpp). The build picks the width, and where the decoder may spend memory and code
// for speed (kKeepDefaultTables, kLiteralTableBits, kUncheckedLoop), by the folder of
// bit_word.h on the include path (decode/bitword/).
// Both targets are little-endian, so one unaligned load gives the little-endian value; the
// buffer is padded so it never leaves it.
#include <bit_word.h>

static_assert(sizeof(BitWord) == 4 || sizeof(BitWord) == 8, "the bit reader has 32- or 64-bit words");
const bool kWideBitWord = sizeof(BitWord) >= 8;
static_assert(8 * sizeof(BitWord) - 7 >= 16, "a peek holds the longest code of the code-length reader");

inline BitWord PeekBits(const uint8_t* in, uint32_t offset) {
    BitWord word;
    __builtin_memcpy(&word, in, sizeof word);
    return word >> offset;
}

inline void SkipBits(const uint8_t*& in, uint32_t& offset, uint32_t count) {
    offset += count;
    in += offset >> 3;
    offset &= 7;
}

// End of the bytes that were read from the archive for the current block. While more of
// the block is still in the file, the 8 bytes behind InputEnd hold it; otherwise InputEnd
// is the end of the data itself.
inline const uint8_t* InputDataLimit() {
    return State.InputEnd + (State.BlockBytesLeft > 0 ? 8 : 0);
}

// True when the bits up to (in, offset) reach beyond limit: they were not read for this
// block, so whatever was decoded from them must be discarded.
inline bool PastData(const uint8_t* in, uint32_t offset, const uint8_t* limit) {
    return in > limit || (in == limit && offset != 0);
}
