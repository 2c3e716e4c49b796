// Match finders over a whole stream held in memory. Positions are absolute offsets into the
// stream; every call names the lowest position a match may start at (the history the
// extractor keeps for the current block) and the longest length allowed (the block's end).
// Both finders look at positions in increasing order and see each position once.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <vector>

struct Match {
    uint32_t Length;
    uint32_t Distance;
};

// Length of the common prefix of a and b, at most limit.
inline uint32_t CommonLength(const uint8_t* a, const uint8_t* b, uint32_t limit) {
    uint32_t n = 0;
    while (n + 8 <= limit) {
        uint64_t x, y;
        __builtin_memcpy(&x, a + n, 8);
        __builtin_memcpy(&y, b + n, 8);
        if (x != y) return n + (uint32_t)(__builtin_ctzll(x ^ y) >> 3);
        n += 8;
    }
    while (n < limit && a[n] == b[n]) n++;
    return n;
}

enum : uint32_t {
    kFinderWindowBits = 21,   // cyclic tables cover 2 MB, more than the largest distance
};

// Hash chains over 4-byte prefixes and a table of recent 3-byte prefixes, for the lazy parser.
class ChainFinder {
public:
    ChainFinder(const uint8_t* data, size_t size, uint32_t depth, uint32_t niceLength);
    // Longest match of at least 3 bytes at pos (Length 0 if none), preferring nearer ones;
    // a 3-byte match only within 8192 bytes. Positions before pos are inserted first.
    // depth: chain entries to look at, 0 for the finder's own depth.
    Match Longest(size_t pos, size_t lowest, uint32_t maxLength, uint32_t depth = 0);
    // Inserts the positions before end without searching.
    void InsertBefore(size_t end);

private:
    const uint8_t* data_;
    size_t size_;
    uint32_t depth_, nice_;
    uint32_t mask_, hashBits_;
    size_t inserted_ = 0;   // positions below this are in the chains
    std::vector<uint32_t> head_;
    std::vector<uint32_t> head3_;
    std::vector<uint32_t> previous_;
};

// Binary trees over 3-byte hash buckets: all useful matches at a position, for the optimal
// parser. Each position must be passed to Find or Skip exactly once, in order.
class TreeFinder {
public:
    TreeFinder(const uint8_t* data, size_t size, uint32_t cycles, uint32_t niceLength);
    // Writes matches of increasing length (>= 3) to out, returns their count. The longest
    // one is extended past the nice length up to maxLength.
    size_t Find(size_t pos, size_t lowest, uint32_t maxLength, Match* out);
    void Skip(size_t pos, size_t lowest, uint32_t maxLength);

private:
    size_t Walk(size_t pos, size_t lowest, uint32_t maxLength, Match* out);

    const uint8_t* data_;
    size_t size_;
    uint32_t cycles_, nice_;
    uint32_t mask_, hashBits_;
    std::vector<uint32_t> head_;
    std::vector<uint32_t> tree_;
};

// The most recent position of every 2-byte pair, for length-2 matches within 64 bytes.
class PairFinder {
public:
    explicit PairFinder(const uint8_t* data) : data_(data), last_(65536, UINT32_MAX) {}
    // Distance to the previous occurrence of the pair at pos (0 if none), then records pos.
    uint32_t FindAndInsert(size_t pos) {
        uint32_t key = data_[pos] | (uint32_t)data_[pos + 1] << 8;
        uint32_t previous = last_[key];
        last_[key] = (uint32_t)pos;
        return previous == UINT32_MAX ? 0 : (uint32_t)(pos - previous);
    }

private:
    const uint8_t* data_;
    std::vector<uint32_t> last_;
};
