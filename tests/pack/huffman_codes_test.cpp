// Length-limited codes against a brute-force optimum, and their shape (complete, within the
// limit); canonical codes against the decoder's own assignment.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "decode/huffman.h"
#include "pack/huffman_codes.h"

namespace {

uint64_t Cost(const std::vector<uint32_t>& f, const uint8_t* lengths) {
    uint64_t c = 0;
    for (size_t i = 0; i < f.size(); i++) c += (uint64_t)f[i] * lengths[i];
    return c;
}

// Smallest cost over every assignment of lengths 1..limit to the used symbols that
// satisfies the Kraft inequality.
uint64_t BruteForce(const std::vector<uint32_t>& f, int limit) {
    std::vector<size_t> used;
    for (size_t i = 0; i < f.size(); i++) if (f[i]) used.push_back(i);
    std::vector<int> lengths(used.size(), 1);
    uint64_t best = UINT64_MAX;
    while (true) {
        double kraft = 0;
        uint64_t cost = 0;
        for (size_t k = 0; k < used.size(); k++) {
            kraft += 1.0 / (1 << lengths[k]);
            cost += (uint64_t)f[used[k]] * lengths[k];
        }
        if (kraft <= 1.0 && cost < best) best = cost;
        size_t k = 0;
        while (k < used.size() && lengths[k] == limit) lengths[k++] = 1;
        if (k == used.size()) break;
        lengths[k]++;
    }
    return best;
}

double Kraft(const uint8_t* lengths, int n) {
    double sum = 0;
    for (int i = 0; i < n; i++) if (lengths[i]) sum += 1.0 / (1 << lengths[i]);
    return sum;
}

TEST(HuffmanCodes, PackageMergeMatchesTheBruteForceOptimum) {
    std::mt19937 rng(11);
    for (int round = 0; round < 300; round++) {
        int n = 2 + (int)(rng() % 6);
        int limit = 2 + (int)(rng() % 3);
        if ((1 << limit) < n) limit = 3;
        std::vector<uint32_t> f(n);
        for (auto& x : f) x = (rng() % 4 == 0) ? 0 : 1 + rng() % (round % 2 ? 1000 : 10);
        int used = 0;
        for (auto x : f) used += x != 0;
        uint8_t lengths[8];
        BuildLimitedLengths(f.data(), n, limit, lengths);
        for (int i = 0; i < n; i++) {
            EXPECT_EQ(lengths[i] == 0, f[i] == 0);
            EXPECT_LE(lengths[i], limit);
        }
        if (used >= 2) {
            EXPECT_EQ(Cost(f, lengths), BruteForce(f, limit)) << "round " << round;
            EXPECT_DOUBLE_EQ(Kraft(lengths, n), 1.0);
        }
    }
}

TEST(HuffmanCodes, SkewedFrequenciesStayWithinSixteenBitsAndComplete) {
    // Fibonacci frequencies would give an unlimited Huffman code 287 levels deep.
    std::vector<uint32_t> f(288);
    uint32_t a = 1, b = 1;
    for (int i = 0; i < 30; i++) { f[i] = a; uint32_t c = a + b; a = b; b = c; }
    for (int i = 30; i < 288; i++) f[i] = 1;
    uint8_t lengths[288];
    BuildLimitedLengths(f.data(), 288, 16, lengths);
    for (int i = 0; i < 288; i++) {
        EXPECT_GE(lengths[i], 1);
        EXPECT_LE(lengths[i], 16);
    }
    EXPECT_DOUBLE_EQ(Kraft(lengths, 288), 1.0);
}

TEST(HuffmanCodes, OneOrNoSymbolInUse) {
    uint32_t one[5] = {0, 0, 7, 0, 0};
    uint8_t lengths[5];
    BuildLimitedLengths(one, 5, 16, lengths);
    EXPECT_EQ(std::vector<uint8_t>(lengths, lengths + 5), (std::vector<uint8_t>{0, 0, 1, 0, 0}));
    uint32_t none[5] = {};
    BuildLimitedLengths(none, 5, 16, lengths);
    EXPECT_EQ(std::vector<uint8_t>(lengths, lengths + 5), std::vector<uint8_t>(5, 0));
}

TEST(HuffmanCodes, CanonicalCodesAgreeWithTheDecoder) {
    std::mt19937 rng(2);
    for (int round = 0; round < 50; round++) {
        std::vector<uint32_t> f(288);
        for (auto& x : f) x = rng() % 3 ? rng() % 5000 : 0;
        uint8_t lengths[288];
        BuildLimitedLengths(f.data(), 288, 16, lengths);
        uint32_t mine[288], theirs[288];
        AssignCanonicalCodes(lengths, 288, mine);
        BuildCanonicalCodes(theirs, lengths, 288);
        for (int s = 0; s < 288; s++) {
            if (lengths[s]) { EXPECT_EQ(mine[s], theirs[s]) << "symbol " << s; }
        }
    }
}

}  // namespace
