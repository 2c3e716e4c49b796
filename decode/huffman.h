// Canonical prefix codes from code lengths, and the two-level decode tables.
#pragma once

#include <stdint.h>

#include "decode/bits.h"
#include "profile/state.h"

const int32_t EmptyEntry = -288;

void BuildCanonicalCodes(uint32_t* codes, const uint8_t* lengths, int n);
// Fills primary (2^k entries) and tree (n nodes) from the codes of n symbols, in symbol
// order; ErrDamaged when the lengths leave a code without a place.
int32_t BuildDecodeTable(int32_t* primary, DecodeNode* tree, const uint32_t* codes,
                         const uint8_t* lengths, int k, int n);
// Both steps at once, with the same result, for builds that spend code for speed
// (kFastTableBuild); codes is scratch.
int32_t BuildDecodeTableFromLengths(int32_t* primary, DecodeNode* tree, uint32_t* codes,
                                    const uint8_t* lengths, int k, int n);

// The second level of a lookup: e is a primary entry naming a tree node (negative, not
// EmptyEntry) and v the stream bits behind the primary index. Returns the symbol, or -1
// when the code is not in the table.
inline int32_t WalkDecodeTree(const DecodeNode* tree, int32_t e, BitWord v) {
    int32_t node = -e;
    for (;;) {
        e = tree[node].Slot[v & 1];
        v >>= 1;
        if (e <= 0) break;
        node = e;
    }
    return e == EmptyEntry ? -1 : -e;
}
