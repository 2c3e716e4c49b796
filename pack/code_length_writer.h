// Writes the code lengths of a block's TableSets in their compact form: each length
// predicted from the previous TableSet, zero runs and repeat runs as base-2 digit sequences,
// all of it Huffman-coded with a 21-symbol code whose own lengths come first in 5-bit fields.
// The choices (symbol or run, where runs end, the code-length code) minimise the bits.
#pragma once

#include <stdint.h>

#include <vector>

class BitOutput;

struct CodeLengthPlan {
    uint8_t CodeLengths[21] = {};
    std::vector<uint8_t> Symbols;   // code-length symbols 0..20 in order
    uint64_t Bits = 0;              // fields plus symbols
};

// lengths: count TableSets of setSize lengths each, back to back (count >= 1).
// rounds: how often the choice is re-made with the code the previous choice gave (1..3).
CodeLengthPlan PlanCodeLengths(const uint8_t* lengths, uint32_t setSize, uint32_t count,
                               int rounds = 3);
void WriteCodeLengths(BitOutput& bits, const CodeLengthPlan& plan);
