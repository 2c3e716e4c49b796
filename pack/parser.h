// Parsers: turn the bytes of one block into tokens. They keep their match finder across the
// blocks of a stream, so each block can reach back into the history the extractor keeps.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <memory>
#include <vector>

#include "pack/lz_tokens.h"

struct ParsedBlock {
    std::vector<Token> Tokens;
    uint32_t Reach = 0;   // how far the block's matches reach in front of the block
};

class BlockParser {
public:
    virtual ~BlockParser() = default;
    // Parses data[start, start + size); matches may begin at `lowest` at the earliest.
    // Blocks must be parsed in stream order.
    virtual void Parse(size_t start, uint32_t size, size_t lowest, ParsedBlock& out) = 0;
};

// Levels 1..6: greedy (1) or lazy matching over hash chains.
std::unique_ptr<BlockParser> MakeLazyParser(const uint8_t* data, size_t size, int level);
// Levels 7..9: near-optimal parsing over binary trees with prices from the block's codes.
// maxTableSets: the parse prices each stretch with the code of its own TableSet.
std::unique_ptr<BlockParser> MakeOptimalParser(const uint8_t* data, size_t size, int level,
                                               int maxTableSets);

// Records a match into the tokens, choosing its distance symbol and updating the remembered
// distances; also widens the reach.
void EmitMatch(ParsedBlock& out, uint32_t length, uint32_t distance, uint8_t symbol,
               uint32_t offsetInBlock, RememberedDistances& remembered);
