// The symbol alphabets of a compressed block body: literal/length symbols with their extra
// bits, distance symbols with theirs, and which distance alphabet a match length uses.
#pragma once

#include <stdint.h>

enum : uint32_t {
    kLiteralLengthSymbols = 288,
    kEndOfTableSet = 256,
    kLongLengthSymbol = 286,          // 286 and 287 mean the same; the encoder uses 286
    kMinMatch = 2,
    kMaxMatch = 33026,
    kLongLengthBase = 259,
    kLongLengthBits = 15,
    kDistanceSymbols = 42,
    kMaxDistance = 1048576,
    kShortDistanceLimit = 64,         // alphabet 1: distances of length-2 matches
    kMediumDistanceLimit = 8192,      // alphabet 2: distances of length-3 matches when m = 3
    kCodeLengthSymbols = 21,
    kMaxCodeLength = 16,
};

// Symbols per distance alphabet 0, 1, 2.
constexpr uint32_t kAlphabetSize[3] = {42, 14, 28};
// First position of each distance alphabet in a TableSet.
constexpr uint32_t kAlphabetOffset[3] = {288, 330, 344};
inline uint32_t TableSetSize(int alphabets) { return alphabets == 3 ? 372 : 344; }

// Distance alphabet of a match of this length in a block with m distance alphabets.
inline int DistanceAlphabetFor(uint32_t length, int alphabets) {
    if (length == 2) return 1;
    if (length == 3 && alphabets == 3) return 2;
    return 0;
}

struct SymbolCode {
    uint16_t Symbol;
    uint8_t ExtraBits;
    uint32_t Extra;
};

// Length 2..33026 to its literal/length symbol and extra bits.
inline SymbolCode LengthCode(uint32_t length) {
    if (length <= 10) return {(uint16_t)(255 + length), 0, 0};
    if (length >= kLongLengthBase) {
        return {(uint16_t)kLongLengthSymbol, (uint8_t)kLongLengthBits, length - kLongLengthBase};
    }
    // 266..285: four symbols per extra-bit count 1..5, bases from 11.
    uint32_t base = 11;
    for (uint32_t bits = 1; bits <= 5; bits++) {
        uint32_t span = 4u << bits;
        if (length < base + span) {
            uint32_t index = (length - base) >> bits;
            return {(uint16_t)(266 + (bits - 1) * 4 + index), (uint8_t)bits,
                    (length - base) & ((1u << bits) - 1)};
        }
        base += span;
    }
    return {0, 0, 0};   // not reached: 259 and more were handled above
}

// Explicit distance 5..1048576 to its distance symbol (6..41) and extra bits.
inline SymbolCode DistanceCode(uint32_t distance) {
    uint32_t d = distance - 1;              // 4..1048575
    int top = 31 - __builtin_clz(d);        // 2..19
    uint32_t half = (d >> (top - 1)) & 1;   // second highest bit
    uint32_t j = (uint32_t)top - 2;
    uint32_t bits = j + 1;
    return {(uint16_t)(6 + 2 * j + half), (uint8_t)bits, d & ((1u << bits) - 1)};
}

// Base distance of an explicit distance symbol 6..41.
inline uint32_t DistanceBase(uint32_t symbol) {
    uint32_t j = (symbol - 6) / 2;
    return ((symbol & 1) ? 3u << (j + 1) : 4u << j) + 1;
}
inline uint32_t DistanceExtraBits(uint32_t symbol) { return symbol < 6 ? 0 : (symbol - 6) / 2 + 1; }
