// The LZ block decoder: one compressed block body into a window, as literals and matches
// coded with the block's TableSets. A match takes its distance from one of up to three
// distance alphabets chosen by its length, and two distance symbols repeat the two most
// recent explicit distances. The block ends when its decoded size is reached, when symbol
// 256 closes the last TableSet, when a code is not in its table, or when the input runs
// out; each of these returns the bytes produced so far.
#include "decode/lzdecode.h"

#include <string.h>

#include "decode/bits.h"
#include "decode/checks.h"
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

// The working tables of one TableSet. Primary entries of symbols are packed (PackEntry) with
// their code length and what the decoder needs of them, so that a short code costs one
// table access and nothing more has to be looked up. The literal/length codes are placed by
// their first kLiteralBits bits, the rest of a longer code in LiteralTree; builds that spend
// memory for speed widen the literal table to kLiteralTableBits (WidenLiteralTable).
static_assert(kLiteralTableBits == kLiteralBits || (kLiteralTableBits > kLiteralBits && kWideBitWord),
              "a wider literal table is built from each symbol's packed entry (Build)");

struct Tables {
    int32_t Literal[1 << kLiteralTableBits];
    int32_t Distance[kDistanceAlphabets][1 << kDistanceBits];
    DecodeNode LiteralTree[kLiteralSymbols];
    DecodeNode DistanceTree[kDistanceAlphabets][kMaxDistanceSymbols];
    uint32_t Codes[kLiteralSymbols];    // the canonical codes of the alphabet built last
    // Each symbol's entry, packed once and copied to its primary slots (wide builds: the
    // literal table is widened from them, WidenLiteralTable).
    int32_t Packed[kWideBitWord ? (uint32_t)kLiteralSymbols : 1u];
};

// Length symbols 257 to 287: base length and number of extra bits. The decoder computes both
// (LengthExtra, LengthBase), which takes less code than reading these tables; the tables stay
// as the reference that the computation is checked against at compile time.
constexpr uint16_t kLengthBase[31] = {
    2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 13, 15, 17, 19, 23, 27, 31,
    35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 259, 259,
};
constexpr uint8_t kLengthExtra[31] = {
    0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2,
    3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 15, 15,
};

// The longest fields of a literal or match: a code, the extra bits of a length and those of a
// distance (symbol 41: 18 bits).
enum : uint32_t {
    kMaxCodeBits = 16,
    kMaxLengthExtraBits = 15,
    kMaxDistanceExtraBits = 18,
};
// Symbol s (0 for 257): s < 9 has no extra bits and length s + 2; up to 28 every fourth symbol
// adds an extra bit, the bases of each group of four being 4, 5, 6 and 7 shifted by that
// count, plus 3; 29 and 30 take 15 extra bits on top of 259.
constexpr uint32_t LengthExtra(uint32_t s) { return s < 9 ? 0 : s < 29 ? (s - 5) >> 2 : 15; }
constexpr uint32_t LengthBase(uint32_t s) {
    return s < 9 ? s + 2 : s < 29 ? ((4 + ((s - 5) & 3)) << LengthExtra(s)) + 3 : 259;
}
constexpr bool LengthRuleMatchesTables() {
    for (uint32_t s = 0; s < 31; ++s)
        if (LengthExtra(s) != kLengthExtra[s] || LengthBase(s) != kLengthBase[s]) return false;
    return true;
}
static_assert(LengthRuleMatchesTables(), "the computed base and extra bits of every length symbol");
static_assert(kLengthExtra[29] == kMaxLengthExtraBits && kLengthExtra[30] == kMaxLengthExtraBits,
              "the longest length field");
static_assert((kMaxDistanceSymbols - 1 - 6) / 2 + 1 == kMaxDistanceExtraBits, "the longest distance field");

// A decoded symbol with its code length (at most 16), as the symbol loops use it. Negative
// entries name a tree node (the code is longer than the primary index).
//   literal/length alphabet:
//     bits 0-4    code length
//     bits 5-6    distance alphabet of a match length: 1 for length 2, 2 for length 3 when
//                 the block has three alphabets, else 0
//     bits 8-16   symbol of a literal or of 256; literals are below kFirstEndEntry, symbol
//                 256 below kFirstLengthEntry, match lengths (whose base is at least 2) above
//     bits 8-12   of a match length in builds with the fast loop: its code length plus its
//                 extra bits, so that the loop drops both with one shift and takes the extra
//                 bits from the buffer saved before it (TakeCodeAndField); in the
//                 others bits 8-16 hold the symbol
//     bits 17-20  number of extra bits of a match length
//     bits 21-29  base of a match length
//   distance alphabets:
//     bits 0-4    code length
//     bits 5-9    the repeat symbol (0 or 1), or the number of extra bits
//     bits 10-    base of an explicit distance; 0 for the repeat symbols
//     in builds with the fast loop an explicit distance keeps its code length plus its
//     extra bits in bits 5-10 (up to 34, one bit more than the extra bits need) and its
//     base from bit 11 on, for the same single shift as a match length
//   Symbols 2-5 are the distances 1-4 without extra bits, symbol 6 + 2j has base
//   2^(j+2) + 1, symbol 7 + 2j has 3 * 2^(j+1) + 1, both with j + 1 extra bits.
namespace entry {
constexpr uint32_t kCodeLengthMask = 31;
constexpr uint32_t kAlphabetShift = 5, kAlphabetMask = 3;
constexpr uint32_t kSymbolShift = 8;
constexpr uint32_t kLengthBitsShift = 8, kLengthBitsMask = 31;
constexpr uint32_t kLengthExtraShift = 17, kLengthExtraMask = 15;
constexpr uint32_t kLengthBaseShift = 21;
constexpr uint32_t kDistanceExtraShift = 5, kDistanceExtraMask = kUncheckedLoop ? 63 : 31;
constexpr uint32_t kDistanceBaseShift = kUncheckedLoop ? 11 : 10;
constexpr int32_t kFirstEndEntry = (int32_t)(kEndOfSet << kSymbolShift);
constexpr int32_t kFirstLengthEntry = (int32_t)(kFirstLengthSymbol << kSymbolShift);
constexpr int32_t kSecondRepeatEntry = 1 << kDistanceExtraShift;
constexpr int32_t kFirstExplicitEntry = 1 << kDistanceBaseShift;
static_assert(kMaxCodeBits <= kCodeLengthMask, "a code length fits its field");
static_assert(kMaxCodeBits + kMaxLengthExtraBits <= kLengthBitsMask && kLengthBitsShift + 5 <= kLengthExtraShift,
              "a length's code and extra bits fit their field");
static_assert((2 << kLengthBaseShift) > kFirstLengthEntry, "match lengths compare above symbol 256");
static_assert((kUncheckedLoop ? (uint32_t)kMaxCodeBits : 0u) + kMaxDistanceExtraBits <= kDistanceExtraMask &&
                  kDistanceExtraShift + (kUncheckedLoop ? 6 : 5) == kDistanceBaseShift,
              "a distance's extra bits (with its code length in the fast loop's builds) fit their field");
static_assert((((3u << kMaxDistanceExtraBits) + 1) << kDistanceBaseShift) <= 0x7FFFFFFFu,
              "the largest distance base leaves the entry positive");

inline uint32_t CodeLength(int32_t e) { return (uint32_t)e & kCodeLengthMask; }
inline uint8_t Literal(int32_t e) { return (uint8_t)((uint32_t)e >> kSymbolShift); }
inline uint32_t LengthBits(int32_t e) { return ((uint32_t)e >> kLengthBitsShift) & kLengthBitsMask; }
inline uint32_t LengthBase(int32_t e) { return (uint32_t)e >> kLengthBaseShift; }
inline uint32_t LengthExtraBits(int32_t e) { return ((uint32_t)e >> kLengthExtraShift) & kLengthExtraMask; }
inline uint32_t Alphabet(int32_t e) { return ((uint32_t)e >> kAlphabetShift) & kAlphabetMask; }
inline uint32_t DistanceBase(int32_t e) { return (uint32_t)e >> kDistanceBaseShift; }
// The code length plus the extra bits of an explicit distance, in builds with the fast loop.
inline uint32_t DistanceBits(int32_t e) { return ((uint32_t)e >> kDistanceExtraShift) & kDistanceExtraMask; }
inline uint32_t DistanceExtraBits(int32_t e) { return DistanceBits(e) - (kUncheckedLoop ? CodeLength(e) : 0); }
}  // namespace entry

int32_t PackEntry(uint32_t symbol, uint32_t length, bool distance, uint32_t alphabets) {
    using namespace entry;
    if (distance) {
        if (symbol < 2) return (int32_t)(symbol << kDistanceExtraShift | length);
        // Only the fast loop reads the code and extra bits together (see the match length).
        const uint32_t code = kUncheckedLoop ? length : 0;
        if (symbol < 6) return (int32_t)((symbol - 1) << kDistanceBaseShift | code << kDistanceExtraShift | length);
        uint32_t j = (symbol - 6) >> 1;
        uint32_t base = ((2 + (symbol & 1)) << (j + 1)) + 1;
        return (int32_t)(base << kDistanceBaseShift | (code + j + 1) << kDistanceExtraShift | length);
    }
    if (symbol <= kEndOfSet) return (int32_t)(symbol << kSymbolShift | length);
    symbol -= kFirstLengthSymbol;
    // Only symbol 257 gives length 2 and only symbol 258 gives length 3.
    uint32_t alphabet = symbol == 0 ? 1 : (symbol == 1 && alphabets == 3) ? 2 : 0;
    // Only the fast loop reads the code and extra bits together; the other builds keep the
    // symbol there, which costs the stubs no code.
    uint32_t extra = LengthExtra(symbol);
    uint32_t bits = kUncheckedLoop ? length + extra : symbol + kFirstLengthSymbol;
    return (int32_t)(LengthBase(symbol) << kLengthBaseShift | extra << kLengthExtraShift | bits << kLengthBitsShift |
                     alphabet << kAlphabetShift | length);
}

// Out of line: inlined into the block decoder, it calls PackEntry instead of inlining it.
__attribute__((noinline)) void Build(int32_t* primary, DecodeNode* tree, uint32_t* codes, int32_t* packed,
                                     const uint8_t* lengths, uint32_t k, uint32_t n, bool distance,
                                     uint32_t alphabets) {
    // A failed build leaves the symbols it could not place without a code; decoding goes
    // on with the table as far as it was built.
    if (kFastTableBuild) {
        BuildDecodeTableFromLengths(primary, tree, codes, lengths, (int)k, (int)n);
    } else {
        BuildCanonicalCodes(codes, lengths, (int)n);
        BuildDecodeTable(primary, tree, codes, lengths, (int)k, (int)n);
    }
    if (kWideBitWord) {
        // Each symbol packed once, then copied to its primary slots: several times fewer
        // PackEntry calls for short codes.
        for (uint32_t s = 0; s < n; ++s) packed[s] = PackEntry(s, lengths[s], distance, alphabets);
        for (uint32_t i = 0; i < (1u << k); ++i)
            if (primary[i] >= 0) primary[i] = packed[primary[i]];
        return;
    }
    for (uint32_t i = 0; i < (1u << k); ++i)
        if (primary[i] >= 0)
            primary[i] = PackEntry((uint32_t)primary[i], lengths[primary[i]], distance, alphabets);
}

// Widens the literal table from 2^kLiteralBits entries to 2^kLiteralTableBits: each entry is
// what a lookup through the narrow table and the tree gives for those index bits. A code of
// up to kLiteralTableBits bits is then found in one access; where the walk needs more bits,
// or finds no code, the entry keeps the narrow one, and LookupLong goes on from there. So
// every bit pattern decodes as through the narrow table, damaged table sets included (a
// symbol found in the tree is packed with its own length, as LookupLong packs it). packed
// holds each symbol's entry.
void WidenLiteralTable(int32_t* table, const DecodeNode* tree, const int32_t* packed) {
    const uint32_t narrow = 1u << kLiteralBits;
    for (uint32_t i = narrow; i < (1u << kLiteralTableBits); i += narrow)
        memcpy(table + i, table, narrow * sizeof *table);
    for (uint32_t j = 0; j < narrow; ++j) {
        const int32_t e = table[j];
        if (e >= 0 || e == EmptyEntry) continue;
        for (uint32_t i = j; i < (1u << kLiteralTableBits); i += narrow) {
            int32_t node = -e;
            for (uint32_t bits = i >> kLiteralBits, left = kLiteralTableBits - kLiteralBits; left != 0;
                 --left, bits >>= 1) {
                int32_t next = tree[node].Slot[bits & 1];
                if (next > 0) {
                    node = next;
                    continue;
                }
                if (next != EmptyEntry) table[i] = packed[-next];
                break;
            }
        }
    }
}

void BuildTables(Tables* t, const uint8_t* set, uint32_t alphabets) {
    Build(t->Literal, t->LiteralTree, t->Codes, t->Packed, set, kLiteralBits, kLiteralSymbols, false,
          alphabets);
    if (kLiteralTableBits > kLiteralBits) WidenLiteralTable(t->Literal, t->LiteralTree, t->Packed);
    for (uint32_t a = 0; a < alphabets; ++a)
        Build(t->Distance[a], t->DistanceTree[a], t->Codes, t->Packed, set + Profile.DistanceLengthOffsets[a],
              kDistanceBits, Profile.DistanceAlphabetSizes[a], true, alphabets);
}

// The symbol of a code longer than the primary width (entry e < 0), packed like a primary
// entry, or -1 when the code is not in the table.
template <typename Word>
__attribute__((noinline)) int32_t LookupLong(int32_t e, Word v, uint32_t k, const DecodeNode* tree,
                                             const uint8_t* lengths, bool distance,
                                             uint32_t alphabets) {
    if (e == EmptyEntry) return -1;
    const int32_t symbol = WalkDecodeTree(tree, e, v >> k);
    if (symbol < 0) return -1;
    return PackEntry((uint32_t)symbol, lengths[symbol], distance, alphabets);
}

// What one fill of the bit buffer pays for. A fill leaves at least Filled bits counted, and
// all Word bits of the buffer hold stream bits (those above the count are the bytes from
// Next on). With 64-bit words a fill pays for a whole half of a match, its code and its
// extra bits, and the primary index of the next code is already in the bits left behind:
// the table is read while the buffer is topped up. With 32-bit words (24 bits) every field
// has a fill of its own.
template <typename Word>
struct Budget {
    static constexpr uint32_t kWordBits = 8 * sizeof(Word);
    static constexpr uint32_t kFilled = kWordBits - 8;
    static constexpr bool kFillPerHalf = kFilled >= kMaxCodeBits + kMaxDistanceExtraBits;
    // Literals behind a literal taken from the same fill, without a refill between them: as
    // many primary codes as the fill holds behind the longest code.
    static constexpr uint32_t kMoreLiterals = kFillPerHalf ? (kFilled - kMaxCodeBits) / kLiteralTableBits : 0;
    // The fast loop (DecodeFast, without a test of the input or the window per symbol) is
    // worth its code only where a fill covers a half, and only in builds that spend code for
    // speed.
    static constexpr bool kFastLoop = kFillPerHalf && kUncheckedLoop;
};

static_assert(Budget<uint32_t>::kFilled >= kMaxCodeBits && Budget<uint32_t>::kFilled >= kMaxLengthExtraBits &&
                  Budget<uint32_t>::kFilled >= kMaxDistanceExtraBits,
              "a narrow fill holds any one field");

inline uint32_t LowBits(uint32_t v, uint32_t count) { return v & ((1u << count) - 1); }

// The symbol loop reads through a bit buffer: Count bits not yet consumed, the next one at bit
// 0 of Buffer, and Next the first byte not yet loaded, so that the position reached is Next
// minus Count bits. Bits above Count in Buffer already hold the bytes from Next on; a fill
// ORs the same bits in again, which is why it needs no branch.
template <typename Word>
struct BitReader {
    const uint8_t* Next;
    Word Buffer;
    uint32_t Count;

    // Tops the buffer up to at least Budget<Word>::kFilled bits.
    void Fill() {
        Word word;
        __builtin_memcpy(&word, Next, sizeof word);
        Buffer |= word << Count;
        Next += (Budget<Word>::kWordBits - 1 - Count) >> 3;
        Count |= Budget<Word>::kFilled;
    }
    void Drop(uint32_t n) {
        Buffer >>= n;
        Count -= n;
    }
    // Drops a literal's code (entry e). The buffer is shifted by the entry itself, the
    // machine's shift taking its low 6 bits, which keeps an AND off the chain from one table
    // load to the next; only the count needs the code length alone.
    void DropLiteral(int32_t e) {
        static_assert(entry::kCodeLengthMask < 64 && entry::kSymbolShift >= 6,
                      "a literal's entry has nothing but its code length in its low 6 bits");
        Buffer >>= (uint32_t)e & 63;
        Count -= entry::CodeLength(e);
    }
    // The next count bits (at most 31), consumed.
    uint32_t Take(uint32_t count) {
        uint32_t v = LowBits((uint32_t)Buffer, count);
        Drop(count);
        return v;
    }
    // Looks the next code up in a primary table of 2^k entries. The caller tops the buffer
    // up for the fields behind the code.
    int32_t Look(const int32_t* primary, uint32_t k) {
        if constexpr (Budget<Word>::kFillPerHalf) {
            int32_t e = primary[(uint32_t)Buffer & ((1u << k) - 1)];
            Fill();
            return e;
        } else {
            Fill();
            return primary[(uint32_t)Buffer & ((1u << k) - 1)];
        }
    }
    // Before an extra-bits field: narrow words need a fill of their own.
    void FillForField() {
        if constexpr (!Budget<Word>::kFillPerHalf) Fill();
    }
    // True when the position lies at or behind limit (a byte boundary).
    bool Reached(const uint8_t* limit) const { return (intptr_t)(Next - limit) * 8 >= (intptr_t)Count; }
    // True when the position lies behind limit: the bits consumed were not all read.
    bool PastEnd(const uint8_t* limit) const { return (intptr_t)(Next - limit) * 8 > (intptr_t)Count; }
};

template <typename Word>
BitReader<Word> LoadReader() {
    BitReader<Word> b = {State.InputPointer, 0, 0};
    b.Fill();
    b.Drop((uint32_t)State.BitOffset);
    return b;
}

template <typename Word>
void SaveReader(const BitReader<Word>& b) {
    State.InputPointer = const_cast<uint8_t*>(b.Next) - ((b.Count + 7) >> 3);
    State.BitOffset = (int32_t)((0u - b.Count) & 7);
}

// Below this load pointer a whole literal or match (at most 65 bits behind up to 7 used
// ones) lies within the bytes read, so neither the refill test nor the end-of-data test can
// fire.
static_assert(kMaxCodeBits + kMaxLengthExtraBits + kMaxCodeBits + kMaxDistanceExtraBits + 7 <=
                  8 * (kCarryBytes + 1),
              "a whole match lies within the carried bytes");
inline const uint8_t* SafeEnd(const uint8_t* dataEnd) {
    return dataEnd - State.InputBuffer > (intptr_t)kCarryBytes + 1 ? dataEnd - kCarryBytes - 1
                                                                  : State.InputBuffer;
}

// Copies a match of at most 32 bytes from a distance of at least 8 back, where the window
// has at least 64 bytes of room: four words whatever the length, without a branch on it.
// The 32 bytes behind the match are saved first and put back, so the window is as if only
// the match had been written (a later match of distance 0 leaves those bytes as they were).
const uint32_t kShortMatch = 32;
const uint32_t kShortMatchRoom = 2 * kShortMatch;
// The most CopyMatchPastEnd writes behind a match, and the room it needs behind it.
const uint32_t kPastEnd = kShortMatch;
inline void CopyShortMatch(uint8_t* out, uint32_t distance, uint32_t length) {
    DECODE_ASSERT(distance >= 8 && length <= kShortMatch);
    const uint8_t* from = out - distance;
    uint8_t behind[kShortMatch];
    memcpy(behind, out + length, kShortMatch);
    memcpy(out, from, 8);
    memcpy(out + 8, from + 8, 8);
    memcpy(out + 16, from + 16, 8);
    memcpy(out + 24, from + 24, 8);
    memcpy(out + length, behind, kShortMatch);
}

// Copies a match from a distance of at least 8 back by whole words, four of them whatever
// the length, then more while the match goes on: up to 7 bytes (32 - length for a match of
// at most 32) are written behind its end. That is for the caller to allow: the window must
// have room for them, and no later match may still show the bytes behind this one as they
// were (a match of distance 0 leaves the window's bytes in place).
inline void CopyMatchPastEnd(uint8_t* out, uint32_t distance, uint32_t length) {
    DECODE_ASSERT(distance >= 8);
    const uint8_t* from = out - distance;
    uint8_t* const end = out + length;
    memcpy(out, from, 8);
    memcpy(out + 8, from + 8, 8);
    memcpy(out + 16, from + 16, 8);
    memcpy(out + 24, from + 24, 8);
    if (length > kShortMatch) {
        out += kShortMatch;
        from += kShortMatch;
        do {
            memcpy(out, from, 8);
            out += 8;
            from += 8;
        } while (out < end);
    }
}

// Copies a match of length bytes from distance back, byte after byte in effect, so that a
// distance shorter than the length repeats the last distance bytes. room is the space left
// up to the block's end; the part of the match beyond it is dropped. Nothing is written
// behind the match: a later match of distance 0 leaves those window bytes as they were.
template <typename Word>
inline uint32_t CopyMatch(uint8_t* out, uint32_t distance, uint32_t length, uint32_t room) {
    const uint8_t* from = out - distance;
    constexpr bool kWide = sizeof(Word) >= 8;
    if (kWide && distance >= 8 && length <= kShortMatch && room >= kShortMatchRoom) {
        CopyShortMatch(out, distance, length);   // most matches
        return length;
    }
    uint32_t n = length < room ? length : room;
    if (distance >= 8) {
        // Whole words, each reading only bytes written before it; the last word is placed to
        // end exactly at the match's end, rewriting some bytes with the values they have.
        if (n >= 8) {
            uint32_t i = 0;
            do {
                memcpy(out + i, from + i, 8);
                i += 8;
            } while (i + 8 <= n);
            if (i < n) memcpy(out + n - 8, from + n - 8, 8);
        } else if (n >= 4) {
            memcpy(out, from, 4);
            memcpy(out + n - 4, from + n - 4, 4);
        } else {
            for (uint32_t i = 0; i < n; ++i) out[i] = from[i];
        }
    } else if (kWide && n >= 16 && distance != 0) {
        // A repeating pattern: its first 8 bytes one by one, then words from a multiple of
        // the distance of at least 8 back, which holds the same bytes and is already written.
        for (uint32_t i = 0; i < 8; ++i) out[i] = from[i];
        uint32_t step = distance;
        while (step < 8) step += distance;
        uint32_t i = 8;
        for (; i + 8 <= n; i += 8) memcpy(out + i, out + i - step, 8);
        if (i < n) memcpy(out + n - 8, out + n - 8 - step, 8);
    } else if (distance != 0) {   // distance 0 leaves the window bytes as they are
        for (uint32_t i = 0; i < n; ++i) out[i] = from[i];
    }
    return n;
}

// What one TableSet's symbol loops consult now and then; the values used for every symbol
// are passed on their own so that they can stay in registers.
struct SymbolState {
    const uint8_t* Lengths;          // the current TableSet
    uint32_t LengthOffsets[kDistanceAlphabets];
    uint32_t Alphabets;
    const uint8_t* Window;
    const uint8_t* DataEnd;
};

enum : int {
    kSymbolDone = 0,   // a literal or match was decoded (or a match dropped)
    kBlockEnds = 1,    // a code not in its table, or bits that were never read
    kSetEnds = 2,      // symbol 256
};

// The two remembered distances after a match at distance: distances 1-4 are not
// remembered, every longer one is. Selected without a branch, as the two kinds alternate
// unpredictably.
inline void Remember(uint32_t distance, uint32_t& lastDistance, uint32_t& previousDistance) {
    bool remembered = distance > 4;
    previousDistance = remembered ? lastDistance : previousDistance;
    lastDistance = remembered ? distance : lastDistance;
}

// The repeat distances and the explicit ones: distance symbol entry e (already dropped from
// the buffer) with its extra bits taken from b (narrow words fill for them first).
template <typename Word>
inline uint32_t TakeDistance(int32_t e, BitReader<Word>& b, uint32_t& lastDistance,
                             uint32_t& previousDistance) {
    if (e < entry::kFirstExplicitEntry) {
        if (e < entry::kSecondRepeatEntry) return lastDistance;   // symbol 0
        uint32_t distance = previousDistance;     // symbol 1
        previousDistance = lastDistance;
        lastDistance = distance;
        return distance;
    }
    b.FillForField();
    uint32_t distance = entry::DistanceBase(e) + b.Take(entry::DistanceExtraBits(e));
    Remember(distance, lastDistance, previousDistance);
    return distance;
}

// The fast loop's fields behind a code, where a fill holds the code and its extra bits
// together: entry e's code and extra bits (bits in all, its code-plus-extra field at
// fieldShift) are dropped with one shift, and the extra bits come from the buffer saved
// before it. The buffer is shifted by the entry's bits from that field on, the machine's
// shift taking their low 6 bits (the field, and for a match length the unused bit above
// it), which keeps an AND off the chain to the next lookup.
static_assert(entry::kLengthBitsShift + 6 <= entry::kLengthExtraShift,
              "the bit above a match length's code-plus-extra field is unused");
static_assert(!kUncheckedLoop || entry::kDistanceExtraMask == 63, "the fast loop's distance field has 6 bits");
template <typename Word>
inline uint32_t TakeCodeAndField(BitReader<Word>& b, int32_t e, uint32_t fieldShift, uint32_t bits) {
    static_assert(Budget<Word>::kFillPerHalf, "a fill holds a code and its extra bits");
    const Word saved = b.Buffer;
    b.Buffer >>= ((uint32_t)e >> fieldShift) & 63;
    b.Count -= bits;
    return (uint32_t)((saved & (((Word)1 << bits) - 1)) >> entry::CodeLength(e));
}

// TakeDistance for the fast loop: e's code is not yet dropped.
template <typename Word>
inline uint32_t TakeCodeAndDistance(int32_t e, BitReader<Word>& b, uint32_t& lastDistance,
                                    uint32_t& previousDistance) {
    if (e < entry::kFirstExplicitEntry) {
        b.Drop(entry::CodeLength(e));
        return TakeDistance(e, b, lastDistance, previousDistance);
    }
    uint32_t distance =
        entry::DistanceBase(e) + TakeCodeAndField(b, e, entry::kDistanceExtraShift, entry::DistanceBits(e));
    Remember(distance, lastDistance, previousDistance);
    return distance;
}

// Decodes one literal or match and writes it to the window at out, checking it against the
// end of the data: a symbol that reaches beyond the bytes read is not used, and the position
// goes back to its start.
template <typename Word>
__attribute__((always_inline)) inline int DecodeSymbol(const SymbolState& s, const Tables* t,
                                                       BitReader<Word>& b, uint8_t*& out,
                                                       uint8_t* outEnd, uint32_t& lastDistance,
                                                       uint32_t& previousDistance) {
    DECODE_ASSERT(out < outEnd);
    const BitReader<Word> mark = b;
    int32_t e = b.Look(t->Literal, kLiteralTableBits);
    if (e < 0) {
        e = LookupLong(e, b.Buffer, kLiteralBits, t->LiteralTree, s.Lengths, false, s.Alphabets);
        if (e < 0) return kBlockEnds;
    }
    b.Drop(entry::CodeLength(e));
    if (e < entry::kFirstEndEntry) {
        if (b.PastEnd(s.DataEnd)) {
            b = mark;
            return kBlockEnds;
        }
        *out++ = entry::Literal(e);
        return kSymbolDone;
    }
    if (e < entry::kFirstLengthEntry) {   // symbol 256
        if (b.PastEnd(s.DataEnd)) {
            b = mark;
            return kBlockEnds;
        }
        return kSetEnds;
    }
    if constexpr (Budget<Word>::kFillPerHalf) {
        static_assert(Budget<Word>::kFilled >= kMaxCodeBits + kMaxLengthExtraBits, "a length's code and extra bits");
        static_assert(Budget<Word>::kWordBits - kMaxCodeBits - kMaxLengthExtraBits >= kDistanceBits,
                      "the distance code's primary index is left in the buffer");
    }
    b.FillForField();
    uint32_t length = entry::LengthBase(e) + b.Take(entry::LengthExtraBits(e));

    uint32_t a = entry::Alphabet(e);
    e = b.Look(t->Distance[a], kDistanceBits);
    if (e < 0) {
        e = LookupLong(e, b.Buffer, kDistanceBits, t->DistanceTree[a], s.Lengths + s.LengthOffsets[a],
                       true, s.Alphabets);
        if (e < 0) return kBlockEnds;
    }
    b.Drop(entry::CodeLength(e));
    if constexpr (Budget<Word>::kFillPerHalf) {
        static_assert(Budget<Word>::kFilled >= kMaxCodeBits + kMaxDistanceExtraBits, "a distance's code and extra bits");
        static_assert(Budget<Word>::kWordBits - kMaxCodeBits - kMaxDistanceExtraBits >= kLiteralTableBits,
                      "the next code's primary index is left in the buffer");
    }
    uint32_t distance = TakeDistance(e, b, lastDistance, previousDistance);
    if (b.PastEnd(s.DataEnd)) {
        b = mark;
        return kBlockEnds;
    }
    if (distance <= (uint32_t)(out - s.Window)) {   // reaching in front of the window: dropped
        out += CopyMatch<Word>(out, distance, length, (uint32_t)(outEnd - out));
        DECODE_ASSERT(out <= outEnd);
    }
    return kSymbolDone;
}

// Room the fast loop keeps in the window: a literal with the literals taken behind it from
// the same fill, or a short match written as whole words with the bytes behind it saved.
// Longer matches are cut to the room left, as in the checked loop.
const uint32_t kFastOutMargin = kShortMatchRoom;

// The fast loop: decodes symbols of one TableSet while the load pointer lies below safeEnd
// (a whole literal or match is then in the bytes read, SafeEnd) and the window has at least
// kFastOutMargin bytes of room, without testing either for each symbol. Whatever it cannot
// finish it leaves to the checked loop: it returns kSymbolDone when a margin is reached, or
// how the TableSet ended. Each refill is unconditional, and the next literal/length entry is
// read before a match is copied, from bits the fill has already brought in.
template <typename Word>
int DecodeFast(const SymbolState& s, const Tables* t, BitReader<Word>& reader, uint8_t*& outRef,
               uint8_t* outEnd, const uint8_t* safeEnd, uint32_t& lastDistance,
               uint32_t& previousDistance) {
    using B = Budget<Word>;
    static_assert(B::kFillPerHalf, "one fill pays for a code and its extra bits");
    static_assert(B::kFilled >= kMaxCodeBits + B::kMoreLiterals * kLiteralTableBits,
                  "the fill holds a code and the primary codes of the literals behind it");
    static_assert(B::kWordBits - kMaxCodeBits - B::kMoreLiterals * kLiteralTableBits >= kLiteralTableBits,
                  "after the literals, the next code's primary index is left in the buffer");
    static_assert(B::kWordBits - kMaxCodeBits - kMaxDistanceExtraBits >= kLiteralTableBits,
                  "after a match, the next code's primary index is left in the buffer");
    static_assert(kFastOutMargin >= 1 + B::kMoreLiterals, "a literal and those behind it");
    static_assert(kFastOutMargin >= kShortMatchRoom, "a short match and the bytes behind it");
    const uint32_t literalMask = (1u << kLiteralTableBits) - 1;
    BitReader<Word> b = reader;
    uint8_t* out = outRef;
    uint8_t* const fastOutEnd = outEnd - kFastOutMargin;
    DECODE_ASSERT(b.Next < safeEnd && out < fastOutEnd);
    int outcome = kSymbolDone;
    b.Fill();
    int32_t e = t->Literal[(uint32_t)b.Buffer & literalMask];
    do {
        b.Fill();
        // Literals first, with one test: a negative entry (a longer code) compares above
        // every literal as unsigned.
        if ((uint32_t)e < (uint32_t)entry::kFirstEndEntry) {
            b.DropLiteral(e);
            *out++ = entry::Literal(e);
            // The literals that follow are taken from the same fill.
            e = t->Literal[(uint32_t)b.Buffer & literalMask];
#pragma GCC unroll 4
            for (uint32_t more = 0; more < B::kMoreLiterals; ++more) {
                if ((uint32_t)e >= (uint32_t)entry::kFirstEndEntry) break;
                b.DropLiteral(e);
                *out++ = entry::Literal(e);
                e = t->Literal[(uint32_t)b.Buffer & literalMask];
            }
            continue;
        }
        if (e < 0) {
            e = LookupLong(e, b.Buffer, kLiteralBits, t->LiteralTree, s.Lengths, false, s.Alphabets);
            if (e < 0) {
                outcome = kBlockEnds;
                break;
            }
            if (e < entry::kFirstEndEntry) {
                b.Drop(entry::CodeLength(e));
                *out++ = entry::Literal(e);
                e = t->Literal[(uint32_t)b.Buffer & literalMask];
                continue;
            }
        }
        if (e < entry::kFirstLengthEntry) {   // symbol 256
            b.Drop(entry::CodeLength(e));
            outcome = kSetEnds;
            break;
        }
        uint32_t length = entry::LengthBase(e) + TakeCodeAndField(b, e, entry::kLengthBitsShift, entry::LengthBits(e));
        uint32_t a = entry::Alphabet(e);
        e = b.Look(t->Distance[a], kDistanceBits);
        if (e < 0) {
            e = LookupLong(e, b.Buffer, kDistanceBits, t->DistanceTree[a], s.Lengths + s.LengthOffsets[a],
                           true, s.Alphabets);
            if (e < 0) {
                outcome = kBlockEnds;
                break;
            }
        }
        uint32_t distance = TakeCodeAndDistance(e, b, lastDistance, previousDistance);
        e = t->Literal[(uint32_t)b.Buffer & literalMask];
        if (distance > (uint32_t)(out - s.Window)) continue;   // reaching in front of the window: dropped
        // Once both remembered distances are set, no match of distance 0 can follow in this
        // block: what a copy writes behind the match is overwritten before anything reads it.
        // A match at a distance of 8 or more has just made it the last distance, so the
        // previous one is the one to test.
        // The window has room for a short match and what the copy writes behind it.
        static_assert(kFastOutMargin >= kShortMatch + kPastEnd, "a short match copied past its end");
        if (distance >= 8 && (length <= kShortMatch || length + kPastEnd <= (uint32_t)(outEnd - out))) {
            if (previousDistance != 0)
                CopyMatchPastEnd(out, distance, length);
            else if (length <= kShortMatch)
                CopyShortMatch(out, distance, length);
            else
                length = CopyMatch<Word>(out, distance, length, (uint32_t)(outEnd - out));
        } else {
            length = CopyMatch<Word>(out, distance, length, (uint32_t)(outEnd - out));
        }
        out += length;
    } while (b.Next < safeEnd && out < fastOutEnd);
    DECODE_ASSERT(out <= outEnd);
    reader = b;
    outRef = out;
    return outcome;
}

// Decodes the symbols of one TableSet until it ends (kSetEnds), the block's bytes are all
// there, or the block ends early (kBlockEnds, also when the input fails to refill). Builds
// that spend code for speed run the fast loop wherever its margins hold, and the checked
// loop near the end of the buffered input and of the block.
template <typename Word>
int DecodeSet(SymbolState& st, const Tables* t, BitReader<Word>& b, uint8_t*& out,
              uint8_t* outEnd, uint32_t& lastDistance, uint32_t& previousDistance) {
    const uint8_t* inputEnd = State.InputEnd;
    st.DataEnd = InputDataLimit();
    const uint8_t* safeEnd = SafeEnd(st.DataEnd);
    int outcome = kBlockEnds;
    while (out < outEnd) {
        if constexpr (Budget<Word>::kFastLoop) {
            if (b.Next < safeEnd && (uint32_t)(outEnd - out) > kFastOutMargin) {
                outcome = DecodeFast(st, t, b, out, outEnd, safeEnd, lastDistance, previousDistance);
                if (outcome != kSymbolDone) break;
                continue;
            }
        }
        // Near the end of the buffered input: refill when the position has reached
        // InputEnd, otherwise check each symbol against the end of the data.
        if (b.Next >= safeEnd && b.Reached(inputEnd)) {
            SaveReader(b);
            int32_t r = RefillInput(false);
            b = LoadReader<Word>();
            if (r < 0) return kBlockEnds;
            inputEnd = State.InputEnd;
            st.DataEnd = InputDataLimit();
            safeEnd = SafeEnd(st.DataEnd);
            continue;
        }
        outcome = DecodeSymbol<Word>(st, t, b, out, outEnd, lastDistance, previousDistance);
        if (outcome != kSymbolDone) break;
    }
    return outcome;
}

// The tables of the default TableSet, kept between blocks where the build asks for it
// (kKeepDefaultTables): a stream of small blocks that use the default set would otherwise
// build the same tables for each of them. They are found again by the default lengths of
// the block at hand and the profile's distance alphabets, which is all that they are built
// from; blocks with TableSets of their own build theirs elsewhere.
struct DefaultTables {
    Tables Built;
    uint32_t DistanceSizes[2];
    uint32_t DistanceOffsets[2];
    uint8_t Lengths[kTableSetSizeShort];
};

const DefaultTables* KeptDefaultTables(uint32_t end) {
    DefaultTables* kept = (DefaultTables*)State.KeptTables;
    if (kept == nullptr) {
        kept = (DefaultTables*)MemAlloc(sizeof(DefaultTables));
        if (kept == nullptr) return nullptr;
        State.KeptTables = kept;
        kept->DistanceSizes[0] = 0;   // matches no profile: the first use builds
    }
    uint8_t lengths[kTableSetSizeShort];
    SetDefaultCodeLengths(lengths, end);
    uint32_t sizes[2] = {Profile.DistanceAlphabetSizes[0], Profile.DistanceAlphabetSizes[1]};
    uint32_t offsets[2] = {Profile.DistanceLengthOffsets[0], Profile.DistanceLengthOffsets[1]};
    if (memcmp(kept->Lengths, lengths, sizeof lengths) != 0 ||
        memcmp(kept->DistanceSizes, sizes, sizeof sizes) != 0 ||
        memcmp(kept->DistanceOffsets, offsets, sizeof offsets) != 0) {
        memcpy(kept->Lengths, lengths, sizeof lengths);
        memcpy(kept->DistanceSizes, sizes, sizeof sizes);
        memcpy(kept->DistanceOffsets, offsets, sizeof offsets);
        BuildTables(&kept->Built, kept->Lengths, 2);
    }
    return kept;
}

template <typename Word>
int32_t DecodeBlock(uint8_t* window, uint32_t start, uint32_t count) {
    const uint8_t* in = State.InputPointer;
    uint32_t offset = (uint32_t)State.BitOffset;
    uint32_t header = (uint32_t)PeekBits(in, offset) & 0xFF;
    SkipBits(in, offset, 8);
    if (PastData(in, offset, InputDataLimit())) {   // the block has no body
        State.InputPointer = const_cast<uint8_t*>(in) + (offset != 0);
        State.BitOffset = 0;
        return 0;
    }
    State.InputPointer = const_cast<uint8_t*>(in);
    State.BitOffset = (int32_t)offset;
    uint32_t alphabets = header & 3;
    uint32_t setCount = header >> 2;
    uint32_t end = start + count;
    // One distance alphabet leaves length-2 matches without a code, and the default
    // TableSet has no lengths for a third alphabet: neither can be decoded.
    if (alphabets < 2 || (alphabets == 3 && setCount == 0)) return ErrDamaged;

    uint32_t setSize = alphabets == 3 ? kTableSetSizeLong : kTableSetSizeShort;
    uint8_t* storage = nullptr;
    Tables* t;
    const uint8_t* set;
    bool built = false;
    if (kKeepDefaultTables && setCount == 0) {
        const DefaultTables* kept = KeptDefaultTables(end);
        if (kept == nullptr) return ErrNoMemory;
        t = const_cast<Tables*>(&kept->Built);
        set = kept->Lengths;
        built = true;
    } else {
        uint32_t setBytes = setCount != 0 ? setCount * setSize : kTableSetSizeShort;
        storage = (uint8_t*)MemAlloc(sizeof(Tables) + setBytes);
        if (storage == nullptr) return ErrNoMemory;
        t = (Tables*)storage;
        set = storage + sizeof(Tables);
        int32_t r = ReadCodeLengths(storage + sizeof(Tables), setSize, setCount, end);
        if (r < 0) {
            MemFree(storage);
            return r;
        }
    }
    uint32_t setsLeft = setCount != 0 ? setCount : 1;
    // The profile record is packed: its words are read one by one, not through a pointer.
    SymbolState st = {nullptr,
                      {Profile.DistanceLengthOffsets[0], Profile.DistanceLengthOffsets[1],
                       Profile.DistanceLengthOffsets[2]},
                      alphabets, window, nullptr};
    uint8_t* out = window + start;
    uint8_t* const outEnd = window + end;
    uint32_t lastDistance = 0;
    uint32_t previousDistance = 0;
    BitReader<Word> b = LoadReader<Word>();
    int32_t result = 0;
    for (;;) {
        if (Profile.CancelRequested) {
            result = ErrCancelled;
            break;
        }
        if (setsLeft == 0) break;
        --setsLeft;
        st.Lengths = set;
        set += setSize;
        if (!built) BuildTables(t, st.Lengths, alphabets);
        if (DecodeSet(st, t, b, out, outEnd, lastDistance, previousDistance) != kSetEnds) break;
    }
    MemFree(storage);
    if (result < 0) {
        SaveReader(b);
        return result;
    }
    // The block ends on a whole byte.
    State.InputPointer = const_cast<uint8_t*>(b.Next) - (b.Count >> 3);
    State.BitOffset = 0;
    return (int32_t)(out - window - start);
}

}  // namespace

int32_t DecodeLzBlock(uint8_t* window, uint32_t start, uint32_t count) {
    return DecodeBlock<BitWord>(window, start, count);
}

void ForgetKeptTables() {
    MemFree(State.KeptTables);
    State.KeptTables = nullptr;
}
