// The forward call filters against a restore written here from the extractor's rule: scan
// the stored bytes, restore the operand behind each 0xE8 that has w bytes behind it in the
// member, skip the operand, leave the rest alone.
#include <gtest/gtest.h>

#include <stdio.h>
#include <unistd.h>

#include <algorithm>
#include <random>
#include <vector>

#include "archive/records.h"
#include "archive_walk.h"
#include "decode/crc32.h"
#include "decode/filter.h"
#include "pack/call_filter_forward.h"
#include "platform/fs.h"
#include "profile/profile.h"
#include "profile/state.h"

namespace {

// The extractor's restore rule, written independently of decode/filter.cpp.
std::vector<uint8_t> Restore(const std::vector<uint8_t>& d, int w) { return archive_walk::Unfilter(d, w); }

std::vector<uint8_t> Forward(std::vector<uint8_t> d, int w) {
    if (w == 2) ApplyCallFilter16(d.data(), d.size());
    else ApplyCallFilter32(d.data(), d.size());
    return d;
}

// Bytes rich in 0xE8, with operands aimed inside, just past and far outside the member.
std::vector<uint8_t> CallHeavy(size_t size, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> d(size);
    for (size_t i = 0; i < size; ++i) {
        const uint32_t r = rng();
        if (r % 7 == 0 && i + 5 <= size) {
            d[i] = 0xE8;
            const uint32_t pos = (uint32_t)(i + 1);
            uint32_t operand;
            switch (rng() % 5) {
            case 0: operand = (uint32_t)(rng() % size) - pos; break;           // inside
            case 1: operand = (uint32_t)size + (rng() % (pos + 1)) - pos; break; // mirrored range
            case 2: operand = rng(); break;
            case 3: operand = 0xE8E8E8E8u; break;
            default: operand = (uint32_t)(-(int32_t)(rng() % 64)); break;
            }
            WriteLe32(&d[i + 1], operand);
            i += 4;
        } else {
            d[i] = (uint8_t)(r % 3 == 0 ? 0xE8 : r >> 8);
        }
    }
    return d;
}

}  // namespace

TEST(CallFilterForward, RoundTripsRandomMembersOfEverySmallSize) {
    for (int w : {2, 4}) {
        for (size_t size = 0; size < 40; ++size) {
            for (uint32_t seed = 0; seed < 20; ++seed) {
                const std::vector<uint8_t> original = CallHeavy(size, seed * 100 + (uint32_t)size);
                ASSERT_EQ(Restore(Forward(original, w), w), original) << "w " << w << " size " << size;
            }
        }
        const std::vector<uint8_t> big = CallHeavy(200000, 7);
        const std::vector<uint8_t> filtered = Forward(big, w);
        EXPECT_NE(filtered, big);
        EXPECT_EQ(Restore(filtered, w), big);
    }
}

TEST(CallFilterForward, StoresTargetsAndMirrorsTheRangeBehindTheMember) {
    // Member of 1000 bytes, 0xE8 at offset 100: pos 101.
    std::vector<uint8_t> d(1000, 0x90);
    d[100] = 0xE8;
    auto storedFor = [&](uint32_t operand) {
        WriteLe32(&d[101], operand);
        return ReadLe32(&Forward(d, 4)[101]);
    };
    EXPECT_EQ(storedFor(411), 512u);                 // target 512 inside the member
    EXPECT_EQ(storedFor(899), 0xFFFFFFFFu);          // target 1000 = bound: -1
    EXPECT_EQ(storedFor(899 + 100), (uint32_t)-101); // target bound + 100 = bound + pos - 1
    EXPECT_EQ(storedFor(899 + 101), 899u + 101);     // target bound + pos: unchanged
    EXPECT_EQ(storedFor((uint32_t)-101), 0u);        // target 0
    EXPECT_EQ(storedFor((uint32_t)-102), (uint32_t)-102);   // target before the member
    EXPECT_EQ(storedFor(0x7FFFFFFF), 0x7FFFFFFFu);
    for (uint32_t operand : {411u, 899u, 999u, 1000u, (uint32_t)-101, (uint32_t)-102, 0x80000000u}) {
        WriteLe32(&d[101], operand);
        EXPECT_EQ(Restore(Forward(d, 4), 4), d) << operand;
    }
}

TEST(CallFilterForward, SixteenBitAddsThePosition) {
    std::vector<uint8_t> d(20, 0);
    d[10] = 0xE8;
    WriteLe16(&d[11], 0xFFFA);
    EXPECT_EQ(ReadLe16(&Forward(d, 2)[11]), 5);     // 0xFFFA + 11 mod 65536
}

TEST(CallFilterForward, OperandsAreSkippedAndTheTailIsLeftAlone) {
    for (int w : {2, 4}) {
        // Two 0xE8 in a row: the second is operand, not opcode.
        std::vector<uint8_t> d(16, 0x00);
        d[0] = 0xE8;
        d[1] = 0xE8;
        std::vector<uint8_t> f = Forward(d, w);
        EXPECT_EQ(f[0], 0xE8);
        EXPECT_EQ(Restore(f, w), d);
        // 16-bit: the pair E8 00 behind the first 0xE8 is its operand 0x00E8, stored + pos 1.
        if (w == 2) {
            EXPECT_EQ(ReadLe16(&f[1]), 0xE9);
        }
        // An 0xE8 among the last w bytes stays as it is, and so do the bytes behind it.
        for (size_t at = d.size() - w; at < d.size(); ++at) {
            std::vector<uint8_t> t(d.size(), 0x11);
            t[at] = 0xE8;
            EXPECT_EQ(Forward(t, w), t) << "w " << w << " at " << at;
        }
        // One byte earlier it has a whole operand and is changed.
        std::vector<uint8_t> t(d.size(), 0x00);
        t[d.size() - w - 1] = 0xE8;
        EXPECT_NE(Forward(t, w), t);
        // A member no longer than w bytes is never changed.
        std::vector<uint8_t> tiny((size_t)w, 0xE8);
        EXPECT_EQ(Forward(tiny, w), tiny);
    }
}

// The extractor's own filter, fed the way member extraction feeds it (stretches of any
// size, the last one final), restores every filtered member and its CRC-32.
// A member filtered piece by piece, each piece beginning with what the one before left
// unfinished, comes out as the member filtered at once, whatever the pieces' sizes.
TEST(CallFilterForward, PiecesGiveTheWholeMembersResult) {
    std::mt19937 rng(17);
    for (int w : {2, 4}) {
        for (int round = 0; round < 50; ++round) {
            std::vector<uint8_t> member(1 + rng() % 3000);
            for (auto& b : member) b = rng() % 3 ? 0xE8 : (uint8_t)rng();
            std::vector<uint8_t> pieces, held;
            uint64_t at = 0;
            for (size_t next = 0; next < member.size() || !held.empty();) {
                const size_t n = std::min<size_t>(member.size() - next, rng() % 9);
                held.insert(held.end(), member.begin() + next, member.begin() + next + n);
                next += n;
                const bool end = next == member.size();
                size_t ready = ApplyCallFilterPiece(held.data(), held.size(), at, member.size(), w, 0);
                if (end) ready = held.size();
                pieces.insert(pieces.end(), held.begin(), held.begin() + ready);
                held.erase(held.begin(), held.begin() + ready);
                at += ready;
                if (end) break;
            }
            ASSERT_EQ(pieces, Forward(member, w)) << "w " << w << " round " << round;
        }
    }
}

TEST(CallFilterForward, TheExtractorsFilterRestoresIt) {
    BuildCrcTable();
    Profile.CancelRequested = 0;
    char path[] = "/tmp/qar-filter-XXXXXX";
    close(mkstemp(path));
    std::mt19937 rng(11);
    for (int w : {2, 4}) {
        for (size_t size : {0, 1, 4, 5, 6, 100, 16379, 16384, 40000}) {
            const std::vector<uint8_t> original = CallHeavy(size, (uint32_t)(size * 3 + w));
            const std::vector<uint8_t> stored = Forward(original, w);
            FileHandle out = FsCreate(path, kAttrNormal);
            ASSERT_NE(out, kInvalidHandle);
            State.FilterMode = w;
            State.FilterCarryCount = 0;
            State.RunningCrc = 0xFFFFFFFFu;
            size_t done = 0;
            do {
                const size_t n = std::min<size_t>(size - done, 1 + rng() % (rng() % 2 ? 7 : 20000));
                ASSERT_EQ(FilterAndWrite(out, stored.data() + done, (uint32_t)n, (uint32_t)done,
                                         (uint32_t)size, done + n == size),
                          0);
                done += n;
            } while (done < size);
            FsClose(out);
            FILE* f = fopen(path, "rb");
            std::vector<uint8_t> back(size + 1);
            EXPECT_EQ(fread(back.data(), 1, back.size(), f), size);
            fclose(f);
            back.resize(size);
            EXPECT_EQ(back, original) << "w " << w << " size " << size;
            uint32_t crc = Crc32(original.data(), (uint32_t)size, 0xFFFFFFFFu);
            EXPECT_EQ(State.RunningCrc, crc) << "w " << w << " size " << size;
        }
    }
    unlink(path);
}
