// CRC-32: known values, and the table and folding paths against the plain definition.
#include <gtest/gtest.h>
#include <string.h>

#include <random>
#include <vector>

#include "decode/crc32.h"
#include "profile/state.h"

namespace {

// The checksum straight from its definition, one bit at a time.
uint32_t BitwiseCrc(const uint8_t* data, size_t length, uint32_t crc) {
    for (size_t i = 0; i < length; ++i) {
        crc ^= data[i];
        for (int k = 0; k < 8; ++k) crc = (crc & 1) ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
    }
    return crc;
}

uint32_t Checksum(const void* data, uint32_t length) {
    return ~Crc32(static_cast<const uint8_t*>(data), length, 0xFFFFFFFFu);
}

class Crc32Test : public ::testing::Test {
protected:
    void SetUp() override { BuildCrcTable(); }
};

}  // namespace

TEST_F(Crc32Test, TableEntries) {
    for (uint32_t n = 0; n < 256; ++n) {
        uint8_t byte = (uint8_t)n;
        EXPECT_EQ(State.CrcTable[n], BitwiseCrc(&byte, 1, 0)) << n;
    }
    EXPECT_EQ(State.CrcTable[1], 0x77073096u);
    EXPECT_EQ(State.CrcTable[255], 0x2D02EF8Du);
}

TEST_F(Crc32Test, KnownStrings) {
    EXPECT_EQ(Checksum("123456789", 9), 0xCBF43926u);
    EXPECT_EQ(Checksum("", 0), 0u);
    EXPECT_EQ(Checksum("The quick brown fox jumps over the lazy dog", 43), 0x414FA339u);
    // No preset and no inversion inside: the register passes through untouched for no bytes.
    EXPECT_EQ(Crc32(nullptr, 0, 0x12345678u), 0x12345678u);
}

TEST_F(Crc32Test, EveryLengthAndAlignmentMatchesTheDefinition) {
    std::mt19937 random(7);
    std::vector<uint8_t> data(64 + 16);
    for (uint8_t& b : data) b = (uint8_t)random();
    for (uint32_t offset = 0; offset < 8; ++offset) {
        for (uint32_t length = 0; length <= 64; ++length) {
            const uint8_t* p = data.data() + offset;
            for (uint32_t start : {0xFFFFFFFFu, 0u, 0x89ABCDEFu}) {
                ASSERT_EQ(Crc32(p, length, start), BitwiseCrc(p, length, start))
                    << "offset " << offset << " length " << length;
            }
        }
    }
}

TEST_F(Crc32Test, SplitAnywhereGivesTheSameChecksum) {
    std::mt19937 random(11);
    std::vector<uint8_t> data(5000);
    for (uint8_t& b : data) b = (uint8_t)random();
    const uint32_t whole = Checksum(data.data(), (uint32_t)data.size());
    EXPECT_EQ(whole, ~BitwiseCrc(data.data(), data.size(), 0xFFFFFFFFu));
    for (uint32_t cut : {1u, 7u, 8u, 9u, 2500u, 4993u, 4999u}) {
        uint32_t crc = Crc32(data.data(), cut, 0xFFFFFFFFu);
        crc = Crc32(data.data() + cut, (uint32_t)data.size() - cut, crc);
        EXPECT_EQ(~crc, whole) << cut;
    }
}

// Lengths around the folding path's thresholds (64-byte blocks, 16-byte pieces, the table
// tail) at every alignment, and long data started from different registers.
TEST_F(Crc32Test, FoldedLengthsMatchTheDefinition) {
    std::mt19937 random(13);
    std::vector<uint8_t> data(70000);
    for (uint8_t& b : data) b = (uint8_t)random();
    for (uint32_t offset = 0; offset < 16; offset += 3) {
        for (uint32_t length = 100; length <= 300; ++length) {
            const uint8_t* p = data.data() + offset;
            ASSERT_EQ(Crc32(p, length, 0xFFFFFFFFu), BitwiseCrc(p, length, 0xFFFFFFFFu))
                << "offset " << offset << " length " << length;
        }
    }
    for (uint32_t length : {4096u, 65537u, 69999u}) {
        for (uint32_t start : {0xFFFFFFFFu, 0u, 0x89ABCDEFu})
            EXPECT_EQ(Crc32(data.data() + 1, length, start), BitwiseCrc(data.data() + 1, length, start))
                << length;
    }
}
