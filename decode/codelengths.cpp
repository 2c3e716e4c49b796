// The code lengths of a compressed block's TableSets. They are Huffman-coded in the
// 21-symbol code-length alphabet, whose own lengths come first in 5-bit fields. Each length
// is coded as a difference (modulo 17) from a prediction, the last length written or, from
// the second TableSet on, the same position of the previous set when that is not zero.
// Runs of zeros and of predicted values are counted in bijective base 2, digit by digit.
#include "decode/codelengths.h"

#include <string.h>

#include "decode/bits.h"
#include "decode/huffman.h"
#include "decode/input.h"
#include "platform/errors.h"

namespace {

enum : int {
    kClSymbols = 21,
    kClPrimaryBits = 6,
    kMaxLength = 16,
    kZeroRunOne = 17,
    kZeroRunTwo = 18,
    kRepeatRunOne = 19,
};

// Blocks that end within the first 8192 window bytes get the short default distance code.
const uint32_t kShortDistanceEnd = 8192;

// The reader's position, kept in locals while reading and stored back around refills.
struct Reader {
    const uint8_t* In;
    uint32_t Offset;

    void Save() const {
        State.InputPointer = const_cast<uint8_t*>(In);
        State.BitOffset = (int32_t)Offset;
    }
    // Refills when the position has reached InputEnd. Returns 0 or the refill's error.
    int32_t Ensure() {
        if (In < State.InputEnd) return 0;
        Save();
        int32_t r = RefillInput(false);
        In = State.InputPointer;
        return r;
    }
    // Consumes count bits; false, without moving, when they reach beyond the bytes read.
    bool Skip(uint32_t count) {
        const uint8_t* in = In;
        uint32_t offset = Offset;
        SkipBits(in, offset, count);
        if (PastData(in, offset, InputDataLimit())) return false;
        In = in;
        Offset = offset;
        return true;
    }
};

// Reads the 21 code lengths of the code-length alphabet.
int32_t ReadClLengths(Reader& reader, uint8_t* lengths) {
    memset(lengths, 0, kClSymbols);
    int i = 0;
    uint32_t runWeight = 1;
    while (i < kClSymbols) {
        int32_t r = reader.Ensure();
        if (r < 0) return r;
        uint32_t v = (uint32_t)PeekBits(reader.In, reader.Offset) & 31;
        if (!reader.Skip(5)) return ErrInputExhausted;
        if (v >= 2) {
            lengths[i++] = (uint8_t)(v - 1);
            runWeight = 1;
        } else {
            i += (int)(runWeight << v);   // 0 passes w lengths, 1 passes 2w
            runWeight <<= 1;
        }
    }
    for (i = 0; i < kClSymbols; ++i)
        if (lengths[i] > kMaxLength) return ErrDamaged;
    return 0;
}

// Looks up one code-length symbol; -1 when its code is not in the table.
int32_t LookupClSymbol(const int32_t* primary, const DecodeNode* tree, BitWord v) {
    int32_t e = primary[v & ((1 << kClPrimaryBits) - 1)];
    if (e >= 0) return e;
    if (e == EmptyEntry) return -1;
    return WalkDecodeTree(tree, e, v >> kClPrimaryBits);
}

// The reading of one TableSet's lengths so far: the next position, the last length written
// and the weights of the next digits of a zero run and of a repeat run.
struct LengthRun {
    uint32_t P;
    uint8_t Last;
    uint32_t ZeroWeight;
    uint32_t RepeatWeight;
};

// Applies one code-length symbol at position r.P (below total).
__attribute__((always_inline)) inline void ApplySymbol(LengthRun& r, uint8_t* sets, uint32_t setSize,
                                                       uint32_t total, int32_t symbol) {
    uint32_t p = r.P;
    uint8_t last = r.Last;
    if (p >= setSize && sets[p - setSize] != 0) last = sets[p - setSize];
    if (symbol <= kMaxLength) {
        uint32_t length = last + (uint32_t)symbol;
        if (length > kMaxLength) length -= kMaxLength + 1;
        sets[p++] = (uint8_t)length;
        last = (uint8_t)length;
        r.ZeroWeight = r.RepeatWeight = 1;
    } else if (symbol <= kZeroRunTwo) {
        uint32_t n = symbol == kZeroRunOne ? r.ZeroWeight : 2 * r.ZeroWeight;
        if (n > total - p) n = total - p;
        memset(sets + p, 0, n);
        p += n;
        r.ZeroWeight <<= 1;
        r.RepeatWeight = 1;
    } else {
        uint32_t n = symbol == kRepeatRunOne ? r.RepeatWeight : 2 * r.RepeatWeight;
        for (; n > 0 && p < total; --n, ++p) {
            if (p >= setSize && sets[p - setSize] != 0) last = sets[p - setSize];
            sets[p] = last;
        }
        r.RepeatWeight <<= 1;
        r.ZeroWeight = 1;
    }
    r.P = p;
    r.Last = last;
}

// Symbols decoded from one peek of a wide word without an end test between them: each code
// has at most kMaxLength bits, and the peek holds at least 57 bits behind the offset.
const uint32_t kSymbolsPerPeek = kWideBitWord ? (8 * sizeof(BitWord) - 7) / kMaxLength : 1;
// Bytes the position moves at most over one such group of symbols.
const uint32_t kPeekAdvance = (7 + kSymbolsPerPeek * kMaxLength) / 8;

// Reads lengths while the input holds a whole group of symbols before InputEnd (builds that
// spend code for speed): a group cannot reach the refill point or the end of the data, so
// neither is tested for each symbol, and what it decodes is what the checked loop decodes.
// Stops at the end of the lengths or the input's margin, or with ErrDamaged for a code not
// in the table.
int32_t ReadLengthsFast(Reader& reader, LengthRun& run, uint8_t* sets, uint32_t setSize, uint32_t total,
                        const int32_t* primary, const DecodeNode* tree, const uint8_t* clLengths) {
    static_assert(kSymbolsPerPeek * kMaxLength <= 8 * sizeof(BitWord) - 7, "a group of codes fits one peek");
    const uint8_t* in = reader.In;
    uint32_t offset = reader.Offset;
    const uint8_t* const inputEnd = State.InputEnd;
    int32_t result = 0;
    // The group's last code ends before InputEnd, which lies at or before the end of the data.
    while (run.P < total && inputEnd - in > (intptr_t)kPeekAdvance) {
        BitWord v = PeekBits(in, offset);
        uint32_t used = 0;
        for (uint32_t k = 0; k < kSymbolsPerPeek && run.P < total; ++k) {
            int32_t symbol = LookupClSymbol(primary, tree, v);
            if (symbol < 0) {
                result = ErrDamaged;
                break;
            }
            uint32_t bits = clLengths[symbol];
            v >>= bits;
            used += bits;
            ApplySymbol(run, sets, setSize, total, symbol);
        }
        SkipBits(in, offset, used);
        if (result < 0) break;
    }
    reader.In = in;
    reader.Offset = offset;
    return result;
}

// Out of line: inlined into the block decoder, it costs the i686 stub some 500 bytes.
__attribute__((noinline)) int32_t ReadLengths(Reader& reader, uint8_t* sets, uint32_t setSize, uint32_t total) {
    uint8_t clLengths[kClSymbols];
    int32_t r = ReadClLengths(reader, clLengths);
    if (r < 0) return r;
    uint32_t codes[kClSymbols];
    int32_t primary[1 << kClPrimaryBits];
    DecodeNode tree[kClSymbols];
    BuildCanonicalCodes(codes, clLengths, kClSymbols);
    BuildDecodeTable(primary, tree, codes, clLengths, kClPrimaryBits, kClSymbols);

    LengthRun run = {0, 0, 1, 1};
    while (run.P < total) {
        if (kUncheckedLoop) {
            r = ReadLengthsFast(reader, run, sets, setSize, total, primary, tree, clLengths);
            if (r < 0) return r;
            if (run.P >= total) break;
        }
        r = reader.Ensure();
        if (r < 0) return r;
        int32_t symbol = LookupClSymbol(primary, tree, PeekBits(reader.In, reader.Offset));
        if (symbol < 0) return ErrDamaged;
        if (!reader.Skip(clLengths[symbol])) return ErrInputExhausted;
        ApplySymbol(run, sets, setSize, total, symbol);
    }
    return 0;
}

}  // namespace

int32_t ReadCodeLengths(uint8_t* sets, uint32_t setSize, uint32_t count, uint32_t endOffset) {
    if (count == 0) {
        SetDefaultCodeLengths(sets, endOffset);
        return 0;
    }
    Reader reader = {State.InputPointer, (uint32_t)State.BitOffset};
    int32_t r = ReadLengths(reader, sets, setSize, count * setSize);
    reader.Save();
    return r;
}

void SetDefaultCodeLengths(uint8_t* set, uint32_t endOffset) {
    memset(set, 8, 244);
    memset(set + 244, 9, 12);
    set[256] = 0;
    memset(set + 257, 9, 4);
    memset(set + 261, 10, 5);
    memset(set + 266, 11, 22);
    uint8_t* distance = set + 288;
    if (endOffset > kShortDistanceEnd) {
        memset(distance, 5, 22);
        memset(distance + 22, 6, 20);
    } else {
        // No match of such a block reaches further back than 8192 bytes (symbol 27).
        memset(distance, 4, 4);
        memset(distance + 4, 5, 24);
        memset(distance + 28, 0, 14);
    }
    memset(set + 330, 3, 2);
    memset(set + 332, 4, 12);
}
