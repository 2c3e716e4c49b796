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

    uint32_t p = 0;
    uint8_t last = 0;
    uint32_t zeroWeight = 1;
    uint32_t repeatWeight = 1;
    while (p < total) {
        r = reader.Ensure();
        if (r < 0) return r;
        int32_t symbol = LookupClSymbol(primary, tree, PeekBits(reader.In, reader.Offset));
        if (symbol < 0) return ErrDamaged;
        if (!reader.Skip(clLengths[symbol])) return ErrInputExhausted;
        if (p >= setSize && sets[p - setSize] != 0) last = sets[p - setSize];
        if (symbol <= kMaxLength) {
            uint32_t length = last + (uint32_t)symbol;
            if (length > kMaxLength) length -= kMaxLength + 1;
            sets[p++] = (uint8_t)length;
            last = (uint8_t)length;
            zeroWeight = repeatWeight = 1;
        } else if (symbol <= kZeroRunTwo) {
            uint32_t n = symbol == kZeroRunOne ? zeroWeight : 2 * zeroWeight;
            if (n > total - p) n = total - p;
            memset(sets + p, 0, n);
            p += n;
            zeroWeight <<= 1;
            repeatWeight = 1;
        } else {
            uint32_t n = symbol == kRepeatRunOne ? repeatWeight : 2 * repeatWeight;
            for (; n > 0 && p < total; --n, ++p) {
                if (p >= setSize && sets[p - setSize] != 0) last = sets[p - setSize];
                sets[p] = last;
            }
            repeatWeight <<= 1;
            zeroWeight = 1;
        }
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
