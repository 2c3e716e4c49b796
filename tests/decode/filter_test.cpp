// The call filters: restoring operands, the carry between stretches, CRC and cancel.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "decode/crc32.h"
#include "decode/filter.h"
#include "platform/errors.h"
#include "platform/fs.h"
#include "profile/profile.h"
#include "profile/state.h"
#include "tests/support/archive_builder.h"

using namespace qartest;

namespace {

class FilterTest : public ::testing::Test {
protected:
    void SetUp() override {
        BuildCrcTable();
        Profile.CancelRequested = 0;
        folder_ = MakeTempFolder("filter");
        path_ = folder_ + "/out.bin";
    }
    void TearDown() override {
        Profile.CancelRequested = 0;
        RemoveTree(folder_);
    }

    // Runs a member of the given mode through FilterAndWrite in the given stretches (their
    // sizes must add up to the member's) and returns the file; crc receives the finished CRC.
    Bytes Run(const Bytes& stored, int mode, const std::vector<size_t>& stretches, uint32_t* crc,
              uint32_t bound = 0, int32_t* result = nullptr) {
        FileHandle out = FsCreate(CorePath(path_).c_str(), 0);
        EXPECT_NE(out, kInvalidHandle);
        State.FilterMode = mode;
        State.FilterCarryCount = 0;
        State.RunningCrc = 0xFFFFFFFFu;
        size_t at = 0;
        int32_t r = 0;
        for (size_t n : stretches) {
            r = FilterAndWrite(out, stored.data() + at, (uint32_t)n, (uint32_t)at,
                               bound != 0 ? bound : (uint32_t)stored.size(), at + n == stored.size());
            at += n;
            if (r < 0) break;
        }
        FsClose(out);
        if (result != nullptr) *result = r;
        *crc = ~State.RunningCrc;
        return ReadWholeFile(path_);
    }
    Bytes RunWhole(const Bytes& stored, int mode, uint32_t* crc, uint32_t bound = 0) {
        return Run(stored, mode, {stored.size()}, crc, bound);
    }

    std::string folder_, path_;
};

Bytes CallAt(size_t size, size_t at, uint32_t operand, int width) {
    Bytes b(size, 0x90);
    b[at] = 0xE8;
    for (int i = 0; i < width; ++i) b[at + 1 + i] = (uint8_t)(operand >> (8 * i));
    return b;
}

uint32_t OperandAt(const Bytes& b, size_t at, int width) {
    uint32_t v = 0;
    for (int i = 0; i < width; ++i) v |= (uint32_t)b[at + 1 + i] << (8 * i);
    return v;
}

TEST_F(FilterTest, Restores32BitOperandsInsideMirroredAndOutsideTheMember) {
    struct Case {
        uint32_t stored, bound, expected;
    } cases[] = {
        {512, 115200, 411},               // inside the member: minus the position 101
        {0xFFFFFFFFu, 1000, 899},         // -1 mirrors to the bound
        {(uint32_t)-101, 1000, 999},      // -pos mirrors to bound + pos - 1
        {(uint32_t)-102, 1000, (uint32_t)-102},   // below -pos: as stored
        {0x7FFFFFFFu, 1000, 0x7FFFFFFFu},         // not below the bound: as stored
        {1000, 1000, 1000},
        {999, 1000, 999 - 101},
    };
    for (const Case& c : cases) {
        uint32_t crc;
        Bytes out = RunWhole(CallAt(200, 100, c.stored, 4), 4, &crc, c.bound);
        EXPECT_EQ(OperandAt(out, 100, 4), c.expected) << "stored " << c.stored;
        EXPECT_EQ(crc, ReferenceCrc32(out));
    }
}

TEST_F(FilterTest, Restores16BitOperandsWithoutExceptions) {
    uint32_t crc;
    Bytes out = RunWhole(CallAt(40, 10, 5, 2), 2, &crc);
    EXPECT_EQ(OperandAt(out, 10, 2), 0xFFFAu);
    out = RunWhole(CallAt(40, 10, 0xFFFF, 2), 2, &crc);
    EXPECT_EQ(OperandAt(out, 10, 2), 0xFFFFu - 11);
    EXPECT_EQ(crc, ReferenceCrc32(out));
}

TEST_F(FilterTest, OperandBytesAreNotOpcodes) {
    // E8 E8 00 00 00: the second E8 is the first operand byte of the first call.
    Bytes b(32, 0);
    b[4] = 0xE8;
    b[5] = 0xE8;
    uint32_t crc;
    Bytes out = RunWhole(b, 4, &crc, 1000);
    EXPECT_EQ(OperandAt(out, 4, 4), 0xE8u - 5);
    for (size_t i = 9; i < out.size(); ++i) EXPECT_EQ(out[i], 0) << i;
}

TEST_F(FilterTest, CallsWhoseOperandRunsPastTheMemberStayAsStored) {
    for (int width : {2, 4}) {
        for (size_t size = 1; size <= 12; ++size) {
            for (size_t at = 0; at < size; ++at) {
                Bytes b(size, 0x11);
                b[at] = 0xE8;
                uint32_t crc;
                Bytes out = RunWhole(b, width, &crc, 0x7FFFFFF0u);
                if (at + width < size) {
                    EXPECT_NE(out, b) << "width " << width << " size " << size << " at " << at;
                } else {
                    EXPECT_EQ(out, b) << "width " << width << " size " << size << " at " << at;
                }
                EXPECT_EQ(crc, ReferenceCrc32(out));
            }
        }
    }
}

TEST_F(FilterTest, CallsNearEveryStretchEndGiveTheSameFile) {
    // An 0xE8 at each position around a stretch boundary, for both widths: the boundary may
    // cut the opcode from its operand anywhere.
    for (int width : {2, 4}) {
        for (size_t call = 20; call < 32; ++call) {
            Bytes plain(64, 0x33);
            plain[call] = 0xE8;
            for (int i = 1; i <= width; ++i) plain[call + i] = (uint8_t)(0x40 + i);
            Bytes stored = width == 2 ? ApplyCallFilter16(plain) : ApplyCallFilter32(plain);
            for (size_t cut = 18; cut <= 34; ++cut) {
                uint32_t crc;
                Bytes out = Run(stored, width, {cut, stored.size() - cut}, &crc);
                ASSERT_EQ(out, plain) << "width " << width << " call " << call << " cut " << cut;
                EXPECT_EQ(crc, ReferenceCrc32(plain));
            }
        }
    }
}

TEST_F(FilterTest, EachFilterCountsTheOperandBytesItReadPastItsLength) {
    // Continuing behind the bytes a call reports as read must give the whole member: a
    // count too small restores operand bytes twice, one too large skips bytes.
    for (uint32_t width : {kCallOperand16, kCallOperand32}) {
        for (size_t call = 20; call < 32; ++call) {
            Bytes plain(64, 0x33);
            plain[call] = 0xE8;
            Bytes stored = width == kCallOperand16 ? ApplyCallFilter16(plain) : ApplyCallFilter32(plain);
            const uint32_t bound = (uint32_t)stored.size();
            for (uint32_t cut = 18; cut <= 34; ++cut) {
                FileHandle out = FsCreate(CorePath(path_).c_str(), 0);
                ASSERT_NE(out, kInvalidHandle);
                State.FilterMode = width;
                State.RunningCrc = 0xFFFFFFFFu;
                int32_t past = width == kCallOperand16 ? CallFilter16(out, stored.data(), cut, 0)
                                                       : CallFilter32(out, stored.data(), cut, 0, bound);
                ASSERT_GE(past, 0);
                uint32_t at = cut + (uint32_t)past;
                // The rest, with the operand of a call at its end held back as a member's
                // last bytes are: they are copied as they are.
                uint32_t rest = (uint32_t)stored.size() - at - width;
                int32_t tail = width == kCallOperand16
                                   ? CallFilter16(out, stored.data() + at, rest, at)
                                   : CallFilter32(out, stored.data() + at, rest, at, bound);
                ASSERT_GE(tail, 0);
                at += rest + (uint32_t)tail;
                ASSERT_GE(FsWrite(out, stored.data() + at, (uint32_t)stored.size() - at), 0);
                FsClose(out);
                ASSERT_EQ(ReadWholeFile(path_), plain) << "width " << width << " call " << call << " cut " << cut;
            }
        }
    }
}

TEST_F(FilterTest, OneByteAtATimeMatchesWholeAndChunkBoundaries) {
    // Larger than two filter chunks, with calls everywhere, including at the chunk limits.
    for (int width : {2, 4}) {
        Bytes plain = CodeLikeBytes(40000, 7 + width);
        for (size_t at : {16378u, 16379u, 16380u, 16381u, 32758u, 39995u, 39996u, 39999u}) plain[at] = 0xE8;
        Bytes stored = width == 2 ? ApplyCallFilter16(plain) : ApplyCallFilter32(plain);
        uint32_t wholeCrc, byteCrc, oddCrc;
        Bytes whole = RunWhole(stored, width, &wholeCrc);
        EXPECT_EQ(whole, plain);
        EXPECT_EQ(wholeCrc, ReferenceCrc32(plain));

        std::vector<size_t> ones(stored.size(), 1);
        Bytes bytewise = Run(stored, width, ones, &byteCrc);
        EXPECT_EQ(bytewise, plain);
        EXPECT_EQ(byteCrc, wholeCrc);

        std::vector<size_t> odd;
        for (size_t left = stored.size(), n = 1; left > 0; n = n * 3 % 1013 + 1) {
            size_t take = std::min(n, left);
            odd.push_back(take);
            left -= take;
        }
        EXPECT_EQ(Run(stored, width, odd, &oddCrc), plain);
        EXPECT_EQ(oddCrc, wholeCrc);
    }
}

TEST_F(FilterTest, CarryIsDroppedWhenTheMemberNeverEnds) {
    // A member cut short after a stretch that ends in an 0xE8: the held-back byte is neither
    // written nor checksummed, so the CRC check that follows fails.
    Bytes b(10, 0x22);
    b[9] = 0xE8;
    FileHandle out = FsCreate(CorePath(path_).c_str(), 0);
    State.FilterMode = 4;
    State.FilterCarryCount = 0;
    State.RunningCrc = 0xFFFFFFFFu;
    ASSERT_EQ(FilterAndWrite(out, b.data(), 10, 0, 100, false), 0);
    FsClose(out);
    EXPECT_EQ(State.FilterCarryCount, 1u);
    Bytes written = ReadWholeFile(path_);
    EXPECT_EQ(written, Bytes(9, 0x22));
    EXPECT_EQ(~State.RunningCrc, ReferenceCrc32(written));
}

TEST_F(FilterTest, CancelStopsBeforeAChunkIsWritten) {
    Bytes plain = CodeLikeBytes(20000, 3);
    Bytes stored = ApplyCallFilter32(plain);
    Profile.CancelRequested = 1;
    uint32_t crc;
    int32_t r = 0;
    Bytes out = Run(stored, 4, {stored.size()}, &crc, 0, &r);
    EXPECT_EQ(r, ErrCancelled);
    EXPECT_TRUE(out.empty());
}

TEST_F(FilterTest, WriteFailureIsReported) {
    // A handle open for reading only refuses writes.
    WriteWholeFile(path_, Bytes(4, 0));
    FileHandle in = FsOpen(CorePath(path_).c_str(), kGenericRead);
    ASSERT_NE(in, kInvalidHandle);
    Bytes b = CodeLikeBytes(100, 1);
    State.FilterMode = 2;
    State.FilterCarryCount = 0;
    State.RunningCrc = 0xFFFFFFFFu;
    EXPECT_EQ(FilterAndWrite(in, b.data(), 100, 0, 100, true), ErrWrite);
    FsClose(in);
}

}  // namespace
