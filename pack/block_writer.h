// Turns a parsed block into a compressed block: chooses the TableSets (where the statistics
// change, up to the allowed count), the number of distance alphabets (2 or 3), or the default
// TableSet when that is cheaper, and writes header, code lengths and symbols.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <vector>

#include "pack/lz_tokens.h"

struct SymbolCounts {
    uint32_t Main[288];
    uint32_t Distance[3][42];
};

// Counts the symbols of tokens [begin, end) as a block with `alphabets` distance alphabets
// sends them.
void CountSymbols(const Token* tokens, size_t count, int alphabets, SymbolCounts& counts);
// Extra bits of lengths and distances, the same whatever the codes.
uint64_t ExtraBits(const Token* tokens, size_t count);
// Code lengths (a TableSet) for the counts, limited to 16 bits.
void BuildTableSet(const SymbolCounts& counts, int alphabets, uint8_t* set);
// The default TableSet for a block ending at `endOffset` in the window (344 lengths).
void DefaultTableSet(uint32_t endOffset, uint8_t* set);

struct CompressedBlockInput {
    const Token* Tokens;
    size_t TokenCount;
    uint32_t DecodedSize;
    bool Last;
    uint32_t WindowBits;      // bits 45-49
    uint32_t EndOffset;       // history kept in front of the block plus its decoded size
    int MaxTableSets;         // 1..63
    int ForceAlphabets;       // 0: choose, or 2 or 3
    bool AllowDefaultTables;
    int Level;                // 1..9: how much effort goes into the choices
};

// Where the statistics of the tokens change enough to pay for a new TableSet, its lengths and
// the decoder's building of its tables: the first token of each set (the first is 0), by an
// entropy estimate.
std::vector<size_t> EstimateTableSetStarts(const Token* tokens, size_t count, int alphabets,
                                           int maxSets);

// Appends the whole compressed block to out. Returns its size in bytes.
size_t WriteCompressedBlock(std::vector<uint8_t>& out, const CompressedBlockInput& input);
