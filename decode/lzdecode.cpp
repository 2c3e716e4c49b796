// The LZ block decoder: one compressed block body into a window, as literals and matches
// coded with the block's TableSets. A match takes its distance from one of up to three
// distance alphabets chosen by its length, and two distance symbols repeat the two most
// recent explicit distances. The block ends when its decoded size is reached, when symbol
// 256 closes the last TableSet, when a code is not in its table, or when the input runs
// out; each of these returns the bytes produced so far.
#include "decode/lzdecode.h"

#include <string.h>

#include "decode/bits.h"
#include "decode/codelengths.h"
#include "decode/huffman.h"
#include "decode/input.h"
#include "platform/errors.h"
#include "platform/fs.h"
#include "profile/profile.h"
#include "profile/state.h"

namespace {

enum : uint32_t {
    kLiteralSymbols = 288,
    kLiteralBits = 9,
    kDistanceBits = 7,
    kEndOfSet = 256,
    kFirstLengthSymbol = 257,
    kMaxDistanceSymbols = 42,
    kDistanceAlphabets = 3,
    kCarryBytes = 8,
};

// The working tables of one TableSet. Primary entries of symbols are packed as symbol |
// code length << 16, so that a short code costs one table access.
struct Tables {
    int32_t Literal[1 << kLiteralBits];
    int32_t Distance[kDistanceAlphabets][1 << kDistanceBits];
    DecodeNode LiteralTree[kLiteralSymbols];
    DecodeNode DistanceTree[kDistanceAlphabets][kMaxDistanceSymbols];
    uint32_t Codes[kLiteralSymbols];
};

// Length symbols 257 to 287: base length and number of extra bits.
const uint16_t kLengthBase[31] = {
    2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 13, 15, 17, 19, 23, 27, 31,
    35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 259, 259,
};
const uint8_t kLengthExtra[31] = {
    0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2,
    3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 15, 15,
};

void Build(int32_t* primary, DecodeNode* tree, uint32_t* codes, const uint8_t* lengths,
           uint32_t k, uint32_t n) {
    BuildCanonicalCodes(codes, lengths, (int)n);
    // A failed build leaves the symbols it could not place without a code; decoding goes
    // on with the table as far as it was built.
    BuildDecodeTable(primary, tree, codes, lengths, (int)k, (int)n);
    for (uint32_t i = 0; i < (1u << k); ++i)
        if (primary[i] >= 0) primary[i] |= (int32_t)lengths[primary[i]] << 16;
}

void BuildTables(Tables* t, const uint8_t* set, uint32_t alphabets) {
    Build(t->Literal, t->LiteralTree, t->Codes, set, kLiteralBits, kLiteralSymbols);
    for (uint32_t a = 0; a < alphabets; ++a)
        Build(t->Distance[a], t->DistanceTree[a], t->Codes, set + Profile.DistanceLengthOffsets[a],
              kDistanceBits, Profile.DistanceAlphabetSizes[a]);
}

// The symbol of a code longer than the primary width (entry e < 0), packed like a primary
// entry, or -1 when the code is not in the table.
__attribute__((noinline)) int32_t LookupLong(int32_t e, BitWord v, uint32_t k,
                                             const DecodeNode* tree, const uint8_t* lengths) {
    if (e == EmptyEntry) return -1;
    v >>= k;
    int32_t node = -e;
    for (;;) {
        e = tree[node].Slot[v & 1];
        v >>= 1;
        if (e <= 0) break;
        node = e;
    }
    if (e == EmptyEntry) return -1;
    return -e | (int32_t)lengths[-e] << 16;
}

inline uint32_t LowBits(BitWord v, uint32_t count) { return (uint32_t)v & ((1u << count) - 1); }

inline void Save(const uint8_t* in, uint32_t offset) {
    State.InputPointer = const_cast<uint8_t*>(in);
    State.BitOffset = (int32_t)offset;
}

// Below this pointer a whole literal or match (at most 65 bits behind up to 7 used ones)
// lies within the bytes read, so neither the refill test nor the end-of-data test can fire.
inline const uint8_t* SafeEnd(const uint8_t* dataEnd) {
    return dataEnd - State.InputBuffer > (intptr_t)kCarryBytes ? dataEnd - kCarryBytes
                                                              : State.InputBuffer;
}

// Copies a match of length bytes from distance back, byte after byte in effect, so that a
// distance shorter than the length repeats the last distance bytes. room is the space left
// up to the block's end; the part of the match beyond it is dropped. Nothing is written
// behind the match: a later match of distance 0 leaves those window bytes as they were.
inline uint32_t CopyMatch(uint8_t* out, uint32_t distance, uint32_t length, uint32_t room) {
    uint32_t n = length < room ? length : room;
    if (distance == 0) return n;
    const uint8_t* from = out - distance;
    uint32_t i = 0;
    if (distance >= 8)   // whole words, each reading only bytes written before it
        for (; i + 8 <= n; i += 8) memcpy(out + i, from + i, 8);
    for (; i < n; ++i) out[i] = from[i];
    return n;
}

}  // namespace

int32_t DecodeLzBlock(uint8_t* window, uint32_t start, uint32_t count) {
    const uint8_t* in = State.InputPointer;
    uint32_t offset = (uint32_t)State.BitOffset;
    uint32_t header = (uint32_t)PeekBits(in, offset) & 0xFF;
    SkipBits(in, offset, 8);
    Save(in, offset);
    uint32_t alphabets = header & 3;
    uint32_t setCount = header >> 2;
    uint32_t o = start;
    uint32_t end = start + count;
    if (PastData(in, offset, InputDataLimit())) goto finish;   // the block has no body
    // One distance alphabet leaves length-2 matches without a code, and the default
    // TableSet has no lengths for a third alphabet: neither can be decoded.
    if (alphabets < 2 || (alphabets == 3 && setCount == 0)) return ErrDamaged;
    {
        uint32_t setSize = alphabets == 3 ? kTableSetSizeLong : kTableSetSizeShort;
        uint32_t setBytes = setCount != 0 ? setCount * setSize : kTableSetSizeShort;
        uint8_t* storage = (uint8_t*)MemAlloc(sizeof(Tables) + setBytes);
        if (storage == nullptr) return ErrNoMemory;
        Tables* t = (Tables*)storage;
        const uint8_t* set = storage + sizeof(Tables);
        int32_t r = ReadCodeLengths(storage + sizeof(Tables), setSize, setCount, end);
        if (r < 0) {
            MemFree(storage);
            return r;
        }
        in = State.InputPointer;
        offset = (uint32_t)State.BitOffset;
        uint32_t lastDistance = 0;
        uint32_t previousDistance = 0;
        uint32_t setsLeft = setCount != 0 ? setCount : 1;
        // The profile record is packed: its words are read one by one, not through a pointer.
        const uint32_t lengthOffsets[kDistanceAlphabets] = {Profile.DistanceLengthOffsets[0],
                                                            Profile.DistanceLengthOffsets[1],
                                                            Profile.DistanceLengthOffsets[2]};
        for (;;) {
            if (Profile.CancelRequested) {
                Save(in, offset);
                MemFree(storage);
                return ErrCancelled;
            }
            if (setsLeft == 0) break;
            --setsLeft;
            const uint8_t* lengths = set;
            set += setSize;
            BuildTables(t, lengths, alphabets);

            const uint8_t* inputEnd = State.InputEnd;
            const uint8_t* dataEnd = InputDataLimit();
            const uint8_t* safeEnd = SafeEnd(dataEnd);
            bool nextSet = false;
            while (o < end) {
                // Near the end of the buffered input: refill, or check each symbol against
                // the end of the data before using it.
                bool tail = false;
                if (in >= safeEnd) {
                    if (in >= inputEnd) {
                        Save(in, offset);
                        r = RefillInput(false);
                        in = State.InputPointer;
                        if (r < 0) break;
                        inputEnd = State.InputEnd;
                        dataEnd = InputDataLimit();
                        safeEnd = SafeEnd(dataEnd);
                        continue;
                    }
                    tail = true;
                }
                BitWord v = PeekBits(in, offset);
                int32_t e = t->Literal[v & ((1 << kLiteralBits) - 1)];
                if (e < 0) {
                    e = LookupLong(e, v, kLiteralBits, t->LiteralTree, lengths);
                    if (e < 0) break;
                }
                uint32_t symbol = (uint32_t)e & 0xFFFF;
                uint32_t codeLength = (uint32_t)e >> 16;
                if (symbol < kEndOfSet) {
                    SkipBits(in, offset, codeLength);
                    if (tail && PastData(in, offset, dataEnd)) break;
                    window[o++] = (uint8_t)symbol;
                    continue;
                }
                if (symbol == kEndOfSet) {
                    SkipBits(in, offset, codeLength);
                    nextSet = !(tail && PastData(in, offset, dataEnd));
                    break;
                }
                symbol -= kFirstLengthSymbol;
                uint32_t extra = kLengthExtra[symbol];
                uint32_t length = kLengthBase[symbol];
                if (kWideBitWord) {
                    length += LowBits(v >> codeLength, extra);
                    SkipBits(in, offset, codeLength + extra);
                } else {
                    SkipBits(in, offset, codeLength);
                    length += LowBits(PeekBits(in, offset), extra);
                    SkipBits(in, offset, extra);
                }

                uint32_t a = length == 2 ? 1 : (length == 3 && alphabets == 3) ? 2 : 0;
                v = PeekBits(in, offset);
                e = t->Distance[a][v & ((1 << kDistanceBits) - 1)];
                if (e < 0) {
                    e = LookupLong(e, v, kDistanceBits, t->DistanceTree[a],
                                   lengths + lengthOffsets[a]);
                    if (e < 0) break;
                }
                symbol = (uint32_t)e & 0xFFFF;
                codeLength = (uint32_t)e >> 16;
                uint32_t distance;
                if (symbol < 6) {
                    SkipBits(in, offset, codeLength);
                    if (symbol == 0) {
                        distance = lastDistance;
                    } else if (symbol == 1) {
                        distance = previousDistance;
                        previousDistance = lastDistance;
                        lastDistance = distance;
                    } else {
                        distance = symbol - 1;
                    }
                } else {
                    // Symbol 6 + 2j has base 2^(j+2) + 1, 7 + 2j has 3 * 2^(j+1) + 1; j + 1 extra bits.
                    uint32_t j = (symbol - 6) >> 1;
                    distance = ((2 + (symbol & 1)) << (j + 1)) + 1;
                    if (kWideBitWord) {
                        distance += LowBits(v >> codeLength, j + 1);
                        SkipBits(in, offset, codeLength + j + 1);
                    } else {
                        SkipBits(in, offset, codeLength);
                        distance += LowBits(PeekBits(in, offset), j + 1);
                        SkipBits(in, offset, j + 1);
                    }
                    previousDistance = lastDistance;
                    lastDistance = distance;
                }
                if (tail && PastData(in, offset, dataEnd)) break;
                if (distance > o) continue;   // reaches in front of the window: dropped
                o += CopyMatch(window + o, distance, length, end - o);
            }
            if (!nextSet) break;
        }
        MemFree(storage);
    }
finish:
    if (offset != 0) ++in;
    Save(in, 0);
    return (int32_t)(o - start);
}
