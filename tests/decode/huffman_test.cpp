// Canonical codes and the two-level decode tables.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "decode/codelengths.h"
#include "decode/huffman.h"
#include "platform/errors.h"
#include "tests/support/bit_writer.h"

namespace {

struct Table {
    std::vector<int32_t> Primary;
    std::vector<DecodeNode> Tree;
    std::vector<uint32_t> Codes;
    int32_t Result;
    bool GuardIntact;   // the node just past the n the build was given was left alone
};

Table Build(const std::vector<uint8_t>& lengths, int k, bool oneStep = false) {
    int n = (int)lengths.size();
    Table t;
    t.Primary.assign(1u << k, 12345);
    t.Tree.assign(n + 1, DecodeNode{{12345, 12345}});
    t.Codes.assign(n, 0xDEADBEEF);
    if (oneStep) {
        t.Result =
            BuildDecodeTableFromLengths(t.Primary.data(), t.Tree.data(), t.Codes.data(), lengths.data(), k, n);
    } else {
        BuildCanonicalCodes(t.Codes.data(), lengths.data(), n);
        t.Result = BuildDecodeTable(t.Primary.data(), t.Tree.data(), t.Codes.data(), lengths.data(), k, n);
    }
    t.GuardIntact = t.Tree[n].Slot[0] == 12345 && t.Tree[n].Slot[1] == 12345;
    t.Tree.pop_back();
    return t;
}

// The lookup a decoder performs: the symbol for the stream bits v, or -1 when not in the table.
int Lookup(const Table& t, uint32_t v, int k) {
    int32_t e = t.Primary[v & ((1u << k) - 1)];
    if (e >= 0) return e;
    if (e == EmptyEntry) return -1;
    v >>= k;
    int32_t node = -e;
    for (;;) {
        e = t.Tree[node].Slot[v & 1];
        v >>= 1;
        if (e <= 0) break;
        node = e;
    }
    return e == EmptyEntry ? -1 : -e;
}

uint32_t Reverse(uint32_t code, int length) {
    uint32_t r = 0;
    for (int i = 0; i < length; ++i) r = (r << 1) | ((code >> i) & 1);
    return r;
}

TEST(Huffman, SmallCodeAndItsTwoLevelTable) {
    Table t = Build({2, 1, 3, 3}, 2);
    EXPECT_EQ(t.Codes, (std::vector<uint32_t>{1, 0, 3, 7}));
    EXPECT_EQ(t.Result, 0);
    EXPECT_EQ(t.Primary, (std::vector<int32_t>{1, 0, 1, -1}));
    EXPECT_EQ(t.Tree[1].Slot[0], -2);
    EXPECT_EQ(t.Tree[1].Slot[1], -3);
    // A symbol with length 0 keeps whatever its code word held.
    Table z = Build({0, 1, 1}, 2);
    EXPECT_EQ(z.Codes[0], 0xDEADBEEFu);
}

TEST(Huffman, DefaultLiteralCodesAndEveryCodeDecodesToItsSymbol) {
    uint8_t set[344];
    SetDefaultCodeLengths(set, 100000);
    std::vector<uint8_t> lengths(set, set + 288);
    Table t = Build(lengths, 9);
    EXPECT_EQ(t.Codes[0], 0u);
    EXPECT_EQ(t.Codes[287], 0x7FFu);
    EXPECT_EQ(t.Result, 0);
    // Each code, as it comes off the stream (followed by arbitrary bits), finds its symbol,
    // both for one-access codes and for codes that walk the tree.
    for (int s = 0; s < 288; ++s) {
        if (lengths[s] == 0) continue;
        for (uint32_t junk : {0u, 0xFFFFFFFFu, 0x5A5A5A5Au})
            ASSERT_EQ(Lookup(t, t.Codes[s] | (junk << lengths[s]), 9), s) << s;
    }
    // The stored codes are the bit-reversed canonical codes of an independent builder.
    std::vector<uint32_t> canonical = CanonicalCodes(lengths);
    for (int s = 0; s < 288; ++s) {
        if (lengths[s] != 0) {
            EXPECT_EQ(t.Codes[s], Reverse(canonical[s], lengths[s])) << s;
        }
    }
}

TEST(Huffman, EdgeShapesOfTheTable) {
    // A code exactly k long fills one entry; k + 1 takes one node and no deeper level.
    Table t = Build({1, 2, 3, 4, 4}, 3);
    EXPECT_EQ(t.Result, 0);
    int direct = 0;
    for (int32_t e : t.Primary) direct += e == 2;
    EXPECT_EQ(direct, 1);
    EXPECT_EQ(t.Primary[7], -1);
    EXPECT_EQ(t.Tree[1].Slot[0], -3);
    EXPECT_EQ(t.Tree[1].Slot[1], -4);
    int nodes = 0;   // entries that lead into the tree
    for (int32_t e : t.Primary) nodes += e < 0 && e != EmptyEntry;
    EXPECT_EQ(nodes, 1);

    // No codes at all: every entry is empty.
    Table none = Build(std::vector<uint8_t>(21, 0), 6);
    for (int32_t e : none.Primary) EXPECT_EQ(e, EmptyEntry);

    // A single code of length 1 is 0: odd indexes stay empty.
    std::vector<uint8_t> one(21, 0);
    one[5] = 1;
    Table single = Build(one, 6);
    for (int i = 0; i < 64; ++i) EXPECT_EQ(single.Primary[i], i % 2 ? EmptyEntry : 5);

    // An incomplete code leaves patterns without a code, in the primary table and in a tree slot.
    Table incomplete = Build({1, 0, 0, 8}, 6);
    EXPECT_EQ(Lookup(incomplete, 0, 6), 0);
    EXPECT_EQ(Lookup(incomplete, 1 | 0x80, 6), -1);
    EXPECT_EQ(Lookup(incomplete, Reverse(0x80, 8), 6), 3);
}

TEST(Huffman, ExhaustedTreeGivesDamagedAndLeavesLaterSymbolsOut) {
    std::vector<uint8_t> lengths = {8, 9, 10, 11, 12, 12, 16, 0, 0, 0, 0, 0, 0, 0};
    Table t = Build(lengths, 7);
    EXPECT_EQ(t.Result, ErrDamaged);
    for (int s = 0; s < 6; ++s) EXPECT_EQ(Lookup(t, t.Codes[s], 7), s) << s;
    EXPECT_EQ(Lookup(t, t.Codes[6], 7), -1);
    EXPECT_TRUE(t.GuardIntact) << "a node past the tree's capacity was written";

    Table deep = Build(std::vector<uint8_t>(21, 16), 6);
    EXPECT_EQ(deep.Result, ErrDamaged);
    EXPECT_TRUE(deep.GuardIntact) << "a node past the tree's capacity was written";
}

TEST(Huffman, OverSubscribedLengths) {
    // Three codes of length 1: the third gets code 0 again and takes over its entries.
    Table t = Build({1, 1, 1}, 6);
    EXPECT_EQ(t.Result, 0);
    EXPECT_EQ(t.Codes[2], 0u);
    for (int i = 0; i < 64; ++i) EXPECT_EQ(t.Primary[i], i % 2 ? 1 : 2);

    // A long code whose first k bits select an entry that holds a shorter code's symbol has
    // no place: the build stops with ErrDamaged and leaves the shorter codes intact.
    Table clash = Build({1, 1, 1, 7}, 6);
    EXPECT_EQ(clash.Result, ErrDamaged);
    for (int i = 0; i < 64; ++i) EXPECT_EQ(clash.Primary[i], i % 2 ? 1 : 2);
}

// Code lengths of a code built by splitting random leaves: complete, with m codes of at most
// 16 bits placed on random symbols of n.
std::vector<uint8_t> CompleteLengths(std::mt19937& rng, int n, int m) {
    std::vector<uint8_t> leaves = {0};
    while ((int)leaves.size() < m) {
        size_t i = rng() % leaves.size();
        if (leaves[i] == 16) continue;
        ++leaves[i];
        leaves.push_back(leaves[i]);
    }
    std::vector<uint8_t> lengths(n, 0);
    std::vector<int> symbols(n);
    for (int s = 0; s < n; ++s) symbols[s] = s;
    std::shuffle(symbols.begin(), symbols.end(), rng);
    for (int i = 0; i < m; ++i) lengths[symbols[i]] = leaves[i];
    return lengths;
}

TEST(Huffman, OneStepBuildGivesTheSymbolOrderTable) {
    // Filled by code length, the primary entries, the tree nodes and the result are those of
    // the two-step, symbol-order build: for complete codes, incomplete ones,
    // over-subscribed ones (later codes overwrite earlier ones) and trees that run out of nodes.
    std::mt19937 rng(23);
    int shapes[4] = {0, 0, 0, 0};   // complete, incomplete, over-subscribed, damaged
    for (int round = 0; round < 3000; ++round) {
        const int sizes[3][2] = {{21, 6}, {42, 7}, {288, 9}};
        int n = sizes[round % 3][0], k = sizes[round % 3][1];
        std::vector<uint8_t> lengths = CompleteLengths(rng, n, 2 + (int)(rng() % (n - 1)));
        int kind = (round / 3) % 4;
        if (kind == 1) {   // some codes dropped
            for (int drop = 1 + (int)(rng() % 4); drop > 0; --drop) lengths[rng() % n] = 0;
        } else if (kind == 2) {   // one code added or shortened
            int s = (int)(rng() % n);
            lengths[s] = lengths[s] > 1 ? (uint8_t)(lengths[s] - 1 - rng() % 2) : (uint8_t)(1 + rng() % 16);
        } else if (kind == 3) {   // anything from 0 to 16
            for (uint8_t& l : lengths) l = (uint8_t)(rng() % 17);
        }
        Table fast = Build(lengths, k, true);
        Table reference = Build(lengths, k);
        ASSERT_EQ(fast.Result, reference.Result) << round;
        ASSERT_EQ(fast.Primary, reference.Primary) << round;
        for (int i = 0; i < n; ++i) {
            ASSERT_EQ(fast.Tree[i].Slot[0], reference.Tree[i].Slot[0]) << round << " node " << i;
            ASSERT_EQ(fast.Tree[i].Slot[1], reference.Tree[i].Slot[1]) << round << " node " << i;
        }
        ASSERT_TRUE(fast.GuardIntact);
        uint32_t space = 0;
        for (uint8_t l : lengths) space += l ? 1u << (16 - l) : 0;
        ++shapes[reference.Result != 0 ? 3 : space == 65536 ? 0 : space < 65536 ? 1 : 2];
    }
    for (int count : shapes) EXPECT_GT(count, 100);
}

}  // namespace
