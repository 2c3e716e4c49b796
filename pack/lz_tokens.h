// A parsed block: literals and matches with the distance symbol each match is sent with, and
// the two remembered distances that decide which symbols are available.
#pragma once

#include <stdint.h>

#include "pack/lz_symbols.h"

struct Token {
    uint32_t Length;          // 0 for a literal
    uint32_t Distance;        // matches only
    uint8_t DistanceSymbol;   // matches only: 0..41
    uint8_t Literal;          // literals only
};

inline Token LiteralToken(uint8_t byte) { return {0, 0, 0, byte}; }

struct RememberedDistances {
    uint32_t Last = 0;
    uint32_t Previous = 0;
};

// Distance symbol a match at `distance` would take: a remembered distance when it is one,
// then the short distances 1-4, then an explicit distance.
inline uint8_t PreferredDistanceSymbol(uint32_t distance, const RememberedDistances& r) {
    if (distance == r.Last) return 0;
    if (distance == r.Previous) return 1;
    if (distance <= 4) return (uint8_t)(distance + 1);
    return (uint8_t)DistanceCode(distance).Symbol;
}

// Applies a match's effect on the remembered distances, as the decoder does.
inline void UpdateRemembered(uint8_t symbol, uint32_t distance, RememberedDistances& r) {
    if (symbol == 1) {
        r.Previous = r.Last;
        r.Last = distance;
    } else if (symbol >= 6) {
        r.Previous = r.Last;
        r.Last = distance;
    }
}

// Whether a match of this length can be sent with this distance symbol. Length-3 matches are
// kept within alphabet 2 (symbols below 28) so that either count of alphabets stays open.
inline bool SymbolFitsLength(uint32_t length, uint8_t symbol) {
    if (length == 2) return symbol < 14;
    if (length == 3) return symbol < 28;
    return true;
}
