// The code-length writer against the core's code-length reader, and its bit count against
// what it really writes.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "decode/codelengths.h"
#include "pack/bit_output.h"
#include "pack/code_length_writer.h"
#include "tests/support/archive_input.h"

namespace {

typedef std::vector<uint8_t> Bytes;

// Writes the sets, reads them back with ReadCodeLengths, and checks both the lengths and
// that the reader stops exactly where the writer's bits end.
void ExpectReadBack(const Bytes& sets, uint32_t setSize) {
    uint32_t count = (uint32_t)(sets.size() / setSize);
    CodeLengthPlan plan = PlanCodeLengths(sets.data(), setSize, count);
    Bytes body;
    BitOutput bits(body);
    WriteCodeLengths(bits, plan);
    ASSERT_EQ(bits.BitCount(), plan.Bits);
    bits.AlignToByte();
    ArchiveInput input;
    input.LoadBlock(body);
    Bytes read(sets.size(), 0xEE);
    ASSERT_EQ(ReadCodeLengths(read.data(), setSize, count, 100000), 0);
    EXPECT_EQ(read, sets);
    EXPECT_EQ(input.BitPosition(), plan.Bits);
}

TEST(CodeLengthWriter, ReaderGetsBackEveryKindOfLengths) {
    std::mt19937 rng(3);
    for (uint32_t setSize : {344u, 372u}) {
        // Sparse: long zero runs.
        Bytes sparse(setSize, 0);
        sparse[65] = 1;
        sparse[setSize - 1] = 1;
        ExpectReadBack(sparse, setSize);
        // A typical literal/length code: 8s with some 9s and a few longer codes.
        Bytes typical(setSize);
        for (uint32_t i = 0; i < setSize; i++) typical[i] = (uint8_t)(8 + rng() % 3 * (rng() % 4 == 0));
        ExpectReadBack(typical, setSize);
        // Several sets: some equal to the one before (repeat runs through the prediction),
        // some zero where the one before was not, some random.
        Bytes many;
        for (int k = 0; k < 12; k++) {
            Bytes set(setSize);
            for (uint32_t i = 0; i < setSize; i++) {
                switch (k % 4) {
                    case 0: set[i] = (uint8_t)(rng() % 17); break;
                    case 1: set[i] = many.empty() ? 0 : many[many.size() - setSize + i]; break;
                    case 2: set[i] = (i % 7 == 0) ? 0 : (uint8_t)(1 + rng() % 16); break;
                    default: set[i] = (i < 100) ? 0 : many[many.size() - setSize + i]; break;
                }
            }
            many.insert(many.end(), set.begin(), set.end());
        }
        ExpectReadBack(many, setSize);
        // Sets that change in stretches: zero runs over lengths the previous set had, where
        // each run digit picks up a new prediction.
        Bytes clustered;
        Bytes set(setSize);
        for (auto& x : set) x = (uint8_t)(6 + rng() % 6);
        for (int k = 0; k < 20; k++) {
            for (int stretch = 0; stretch < 6; stretch++) {
                uint32_t at = rng() % setSize, length = 1 + rng() % 24;
                uint8_t value = (rng() % 2) ? 0 : (uint8_t)(1 + rng() % 16);
                for (uint32_t i = at; i < at + length && i < setSize; i++) set[i] = value;
            }
            clustered.insert(clustered.end(), set.begin(), set.end());
        }
        ExpectReadBack(clustered, setSize);
        // Many small sparse sets: a few lengths among zeros, where two zero runs in a row
        // would be cheapest if the reader did not add their counts together.
        for (int trial = 0; trial < 60; trial++) {
            Bytes few(setSize * (1 + rng() % 3), 0);
            for (uint32_t n = 1 + rng() % 6; n > 0; n--) few[rng() % few.size()] = (uint8_t)(1 + rng() % 16);
            ExpectReadBack(few, setSize);
        }
        // All 63 sets zero: runs that end exactly at the end, or overshoot it.
        ExpectReadBack(Bytes(setSize * 63, 0), setSize);
        ExpectReadBack(Bytes(setSize * 5, 16), setSize);
    }
}

TEST(CodeLengthWriter, PredictionMakesARepeatedSetCheap) {
    Bytes set(344);
    std::mt19937 rng(5);
    for (auto& x : set) x = (uint8_t)(1 + rng() % 12);
    Bytes twice = set;
    twice.insert(twice.end(), set.begin(), set.end());
    uint64_t one = PlanCodeLengths(set.data(), 344, 1).Bits;
    uint64_t two = PlanCodeLengths(twice.data(), 344, 2).Bits;
    EXPECT_LT(two - one, one / 10) << "the second, identical set should cost a few run digits";
}

}  // namespace
