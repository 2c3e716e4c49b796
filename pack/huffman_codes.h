// Length-limited prefix codes (package-merge, optimal for the limit) and the canonical code
// assignment the decoder uses.
#pragma once

#include <stdint.h>

// Fills lengths[0..n-1] with code lengths of at most maxLength bits that minimise the total
// of frequency times length. Unused symbols (frequency 0) get 0. A single used symbol gets
// length 1. Requires the used symbols to fit: count <= 2^maxLength.
void BuildLimitedLengths(const uint32_t* frequencies, int n, int maxLength, uint8_t* lengths);

// Canonical codes for the lengths, as the decoder assigns them: shorter codes first, equal
// lengths in symbol order. The codes are stored bit-reversed, ready to be written least
// significant bit first.
void AssignCanonicalCodes(const uint8_t* lengths, int n, uint32_t* codes);
