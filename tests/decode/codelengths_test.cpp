// Reading the code lengths of a block's TableSets, and the default TableSet.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "decode/codelengths.h"
#include "platform/errors.h"
#include "profile/state.h"
#include "tests/support/archive_input.h"
#include "tests/support/bit_writer.h"

namespace {

typedef std::vector<uint8_t> Bytes;

// Starts a code-length stream whose 21 code-length codes are all 5 bits long, so that
// symbol s is written as the 5-bit number s.
void PutFlatClCode(BitWriter& w) {
    uint8_t cl[21];
    for (auto& l : cl) l = 5;
    WriteClCodeLengths(w, cl);
}
void PutSymbols(BitWriter& w, std::initializer_list<uint32_t> symbols) {
    for (uint32_t s : symbols) w.PutCode(s, 5);
}

struct ReadResult {
    int32_t Result;
    Bytes Sets;
    uint64_t BitsUsed;
};

ReadResult Read(const BitWriter& w, uint32_t setSize, uint32_t count, uint32_t endOffset = 100000) {
    ArchiveInput input;
    input.LoadBlock(w.Bytes());
    ReadResult r;
    r.Sets.assign(count ? count * setSize : kTableSetSizeShort, 0xCC);
    r.Result = ReadCodeLengths(r.Sets.data(), setSize, count, endOffset);
    r.BitsUsed = input.BitPosition();
    return r;
}

TEST(CodeLengths, PredictionAndDifferencesModulo17) {
    BitWriter w;
    PutFlatClCode(w);
    PutSymbols(w, {9, 0, 8, 0, 16});   // 9, 9, 0 ((9 + 8) mod 17), 0, 16
    PutSymbols(w, {18, 18, 18, 18, 18, 18, 18, 18});   // 2+4+...+256 = 510 zeros: past the end
    ReadResult r = Read(w, kTableSetSizeShort, 1);
    ASSERT_EQ(r.Result, 0);
    EXPECT_EQ(Bytes(r.Sets.begin(), r.Sets.begin() + 5), (Bytes{9, 9, 0, 0, 16}));
    for (size_t p = 5; p < 344; ++p) ASSERT_EQ(r.Sets[p], 0) << p;
    // The zero run that overshoots stops at the end, and reading ends right behind it.
    EXPECT_EQ(r.BitsUsed, w.BitCount());
}

TEST(CodeLengths, ZeroAndRepeatRunsCountInBijectiveBaseTwo) {
    BitWriter w;
    PutFlatClCode(w);
    PutSymbols(w, {4, 17, 17, 18});   // 4, then 1 + 2 + 8 = 11 zeros
    PutSymbols(w, {3, 19, 20});       // 7 (4 + 3), then 1 + 2*2 = 5 sevens
    PutSymbols(w, {17, 19});          // one zero; a new repeat run starts at 1: one more 7
    PutSymbols(w, {18, 18, 18, 18, 18, 18, 18, 18, 18});
    ReadResult r = Read(w, kTableSetSizeShort, 1);
    ASSERT_EQ(r.Result, 0);
    Bytes expect = {4};
    expect.insert(expect.end(), 11, 0);
    expect.insert(expect.end(), 6, 7);
    expect.push_back(0);
    expect.push_back(7);
    EXPECT_EQ(Bytes(r.Sets.begin(), r.Sets.begin() + expect.size()), expect);
    for (size_t p = expect.size(); p < 344; ++p) ASSERT_EQ(r.Sets[p], 0) << p;
}

TEST(CodeLengths, LaterTableSetsPredictFromThePreviousOne) {
    // First set: 5, 0, 7 at positions 100-102. Second set: 3 at position 99, then a repeat run
    // of three gives 5 (from the first set), 5 (its 0 keeps the last value), 7.
    std::vector<uint8_t> first(344, 0);
    first[99] = 2;
    first[100] = 5;
    first[102] = 7;
    // Written by the writer's own encoder, which tracks the prediction on its own.
    BitWriter w2;
    std::vector<uint8_t> sets = first;
    sets.resize(688, 0);
    sets[344 + 99] = 3;
    sets[344 + 100] = 5;
    sets[344 + 101] = 5;
    sets[344 + 102] = 7;
    WriteTableSets(w2, sets, 344);
    ReadResult r = Read(w2, 344, 2);
    ASSERT_EQ(r.Result, 0);
    EXPECT_EQ(r.Sets, sets);

    // The same second set written by hand with a repeat run: 19 19 covers three positions.
    BitWriter w3;
    PutFlatClCode(w3);
    auto zeros = [&](uint32_t n) {   // bijective base-2 digits, least significant first
        while (n > 0) {
            bool two = n % 2 == 0;
            w3.PutCode(two ? 18 : 17, 5);
            n = (n - (two ? 2 : 1)) / 2;
        }
    };
    zeros(99);
    PutSymbols(w3, {2, 3});                  // 2; 5 = 2 + 3
    PutSymbols(w3, {12});                    // 0 = (5 + 12) mod 17
    PutSymbols(w3, {7});                     // 7 = 0 + 7
    zeros(344 - 103 + 99);                   // to position 99 of the second set
    PutSymbols(w3, {1});                     // prediction 2 (first set) + 1 = 3
    PutSymbols(w3, {19, 19});                // 5, 5, 7
    zeros(344 - 103);
    ReadResult r3 = Read(w3, 344, 2);
    ASSERT_EQ(r3.Result, 0);
    EXPECT_EQ(r3.Sets, sets);
}

TEST(CodeLengths, CodeLengthCodeFields) {
    // A zero run of 30 passes the 21 fields at once: no length is read and every symbol is
    // missing, so the first length symbol finds no code.
    {
        BitWriter w;
        for (int i = 0; i < 4; ++i) w.Put(1, 5);   // 2 + 4 + 8 + 16 = 30 zeros
        w.Put(0, 16);
        ReadResult r = Read(w, 344, 1);
        EXPECT_EQ(r.Result, ErrDamaged);
        EXPECT_EQ(r.BitsUsed, 20u);
    }
    // A field of 18 or more asks for a length above 16.
    for (uint32_t value : {18u, 31u}) {
        BitWriter w;
        w.Put(value, 5);
        for (int i = 0; i < 20; ++i) w.Put(6, 5);
        EXPECT_EQ(Read(w, 344, 1).Result, ErrDamaged) << value;
    }
    // 17 (length 16) is accepted.
    BitWriter w;
    w.Put(17, 5);
    w.Put(17, 5);
    for (int i = 0; i < 4; ++i) w.Put(1, 5);
    w.PutCode(0, 16);
    w.PutCode(1, 16);
    for (int i = 0; i < 30; ++i) w.PutCode(1, 16);
    ReadResult r = Read(w, 344, 1);
    EXPECT_NE(r.Result, ErrDamaged);
}

TEST(CodeLengths, RunningOutOfInputIsReportedWithThePositionReached) {
    BitWriter w;
    PutFlatClCode(w);
    PutSymbols(w, {8, 0, 0, 0});
    ReadResult r = Read(w, 344, 1);
    EXPECT_EQ(r.Result, ErrInputExhausted);
    EXPECT_EQ(Bytes(r.Sets.begin(), r.Sets.begin() + 4), (Bytes{8, 8, 8, 8}));
    EXPECT_EQ(r.BitsUsed, w.BitCount());

    // 16-bit codes (symbols 0 and 1 only), the input cut in the middle of one, after k whole
    // ones: the position stays at the start of the cut code.
    for (uint32_t k = 10; k < 16; ++k) {
        BitWriter cut;
        cut.Put(17, 5);
        cut.Put(17, 5);
        for (int i = 0; i < 4; ++i) cut.Put(1, 5);   // 30 zeros: the rest of the fields
        for (uint32_t i = 0; i < k; ++i) cut.PutCode(1, 16);
        uint64_t whole = cut.BitCount();
        cut.Put(0, 8);
        ReadResult c = Read(cut, 344, 1);
        EXPECT_EQ(c.Result, ErrInputExhausted) << k;
        EXPECT_EQ(c.BitsUsed, whole) << k;
        for (uint32_t i = 0; i < k; ++i) ASSERT_EQ(c.Sets[i], (i + 1) % 17) << k << " " << i;
    }
}

TEST(CodeLengths, ACodeNotInTheTableStopsAtItsStart) {
    // The flat code-length code leaves the 5-bit values 21-31 without a symbol. The missing
    // code comes after k good lengths, at every place among the codes read from one load,
    // with plenty of input behind it.
    for (uint32_t k = 20; k < 30; ++k) {
        BitWriter w;
        PutFlatClCode(w);
        w.PutCode(8, 5);
        for (uint32_t i = 1; i < k; ++i) w.PutCode(i % 2, 5);   // 8, 9, 9, 10, 10, ...
        uint64_t damaged = w.BitCount();
        w.PutCode(25, 5);
        for (int i = 0; i < 64; ++i) w.PutCode(0, 5);
        ReadResult r = Read(w, 344, 1);
        EXPECT_EQ(r.Result, ErrDamaged) << k;
        EXPECT_EQ(r.BitsUsed, damaged) << k;
        for (uint32_t i = 0; i < k; ++i) ASSERT_EQ(r.Sets[i], (8 + (i + 1) / 2) % 17) << k << " " << i;
        EXPECT_EQ(r.Sets[k], 0xCC) << k;
    }
}

TEST(CodeLengths, DefaultTableSetAndItsDistanceSwitch) {
    BitWriter none;
    ReadResult r = Read(none, 344, 0, 8192);
    ASSERT_EQ(r.Result, 0);
    EXPECT_EQ(r.BitsUsed, 0u);
    EXPECT_EQ(r.Sets, DefaultTableSet(8192));
    EXPECT_EQ(r.Sets[288 + 27], 5);
    EXPECT_EQ(r.Sets[288 + 28], 0);
    ReadResult longer = Read(none, 344, 0, 8193);
    EXPECT_EQ(longer.Sets, DefaultTableSet(8193));
    EXPECT_EQ(longer.Sets[288 + 41], 6);
    // Each default code is complete.
    for (const Bytes& set : {r.Sets, longer.Sets}) {
        for (auto [first, n] : {std::pair{0, 288}, {288, 42}, {330, 14}}) {
            double kraft = 0;
            for (int s = first; s < first + n; ++s)
                if (set[s]) kraft += 1.0 / (1 << set[s]);
            EXPECT_DOUBLE_EQ(kraft, 1.0) << first;
        }
    }
}

TEST(CodeLengths, RandomTableSetsSurviveTheWriterAndTheReader) {
    std::mt19937 random(5);
    for (int round = 0; round < 40; ++round) {
        uint32_t setSize = random() % 2 ? 344 : 372;
        uint32_t count = 1 + random() % 63;
        Bytes sets(setSize * count);
        for (size_t p = 0; p < sets.size(); ++p) {
            uint32_t kind = random() % 4;
            sets[p] = kind == 0 ? 0 : kind == 1 && p >= setSize ? sets[p - setSize] : random() % 17;
        }
        BitWriter w;
        WriteTableSets(w, sets, setSize);
        ReadResult r = Read(w, setSize, count);
        ASSERT_EQ(r.Result, 0);
        ASSERT_EQ(r.Sets, sets);
        EXPECT_EQ(r.BitsUsed, w.BitCount());
    }
}

}  // namespace
