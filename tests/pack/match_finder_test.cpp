// Match finders against a brute-force search: every reported match is real and within the
// allowed reach, and the tree finder finds the longest one.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "pack/lz_symbols.h"
#include "pack/match_finder.h"

namespace {

typedef std::vector<uint8_t> Bytes;

// Data with repeats at all distances: pieces copied from earlier, small alphabet noise.
Bytes RepeatingData(size_t size, uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes b;
    while (b.size() < size) {
        if (b.size() > 16 && rng() % 2) {
            size_t from = rng() % b.size();
            size_t length = 2 + rng() % 40;
            for (size_t i = 0; i < length && b.size() < size; i++) b.push_back(b[from + i]);
        } else {
            b.push_back((uint8_t)('a' + rng() % 4));
        }
    }
    return b;
}

uint32_t LongestBrute(const Bytes& b, size_t pos, size_t lowest, uint32_t maxLength) {
    uint32_t best = 0;
    for (size_t from = lowest; from < pos; from++) {
        uint32_t n = 0;
        while (n < maxLength && b[from + n] == b[pos + n]) n++;
        if (n > best) best = n;
    }
    return best;
}

bool IsMatch(const Bytes& b, size_t pos, const Match& m) {
    if (m.Distance == 0 || m.Distance > pos) return false;
    for (uint32_t i = 0; i < m.Length; i++) {
        if (b[pos + i] != b[pos - m.Distance + i]) return false;
    }
    return true;
}

TEST(MatchFinder, TreeFinderFindsTheLongestMatchWithinReach) {
    Bytes data = RepeatingData(6000, 1);
    TreeFinder tree(data.data(), data.size(), 1u << 20, kMaxMatch);
    Match found[400];
    const size_t lowest = 1000;   // matches may not start before this
    for (size_t pos = 0; pos + 3 <= data.size(); pos++) {
        uint32_t maxLength = (uint32_t)std::min<size_t>(data.size() - pos, 100);
        size_t n = tree.Find(pos, lowest, maxLength, found);
        uint32_t previous = 2;
        for (size_t k = 0; k < n; k++) {
            ASSERT_TRUE(IsMatch(data, pos, found[k])) << pos;
            ASSERT_GE(pos - found[k].Distance, lowest);
            ASSERT_LE(found[k].Length, maxLength);
            ASSERT_GT(found[k].Length, previous) << "lengths increase";
            previous = found[k].Length;
        }
        uint32_t longest = pos > lowest ? LongestBrute(data, pos, lowest, maxLength) : 0;
        if (longest >= 3) {
            ASSERT_GT(n, 0u) << pos;
            ASSERT_EQ(found[n - 1].Length, longest) << pos;
        } else {
            ASSERT_EQ(n, 0u) << pos;
        }
    }
}

// The optimal parser cuts maxLength at each block's end and lengthens it again in the next
// block. The trees must stay in order through that: a walk skips the bytes it believes
// common with both neighbours, so a tree put out of order reports matches whose skipped
// bytes differ (this once corrupted a member of a large solid stream at the best level).
TEST(MatchFinder, TreeFinderMatchesStayRealAcrossBlockEnds) {
    const uint32_t kNice = 48;
    for (uint32_t seed = 10; seed < 14; seed++) {
        Bytes data = RepeatingData(30000, seed);
        TreeFinder tree(data.data(), data.size(), 1u << 20, kNice);
        Match found[400];
        const size_t blockSize = 211 + seed * 37;
        const size_t history = 1500;
        for (size_t pos = 0; pos + 3 <= data.size(); pos++) {
            size_t blockStart = pos - pos % blockSize;
            size_t blockEnd = std::min(blockStart + blockSize, data.size());
            size_t lowest = blockStart > history ? blockStart - history : 0;
            uint32_t maxLength = (uint32_t)std::min<size_t>(blockEnd - pos, 300);
            size_t n = tree.Find(pos, lowest, maxLength, found);
            uint32_t previous = 2;
            for (size_t k = 0; k < n; k++) {
                ASSERT_TRUE(IsMatch(data, pos, found[k]))
                    << "seed " << seed << " pos " << pos << " length " << found[k].Length
                    << " distance " << found[k].Distance;
                ASSERT_GE(pos - found[k].Distance, lowest);
                ASSERT_LE(found[k].Length, maxLength);
                ASSERT_GT(found[k].Length, previous);
                previous = found[k].Length;
            }
            // An unbounded walk still finds the longest match up to the nice length, even
            // where the block's end leaves fewer bytes than that.
            uint32_t longest = LongestBrute(data, pos, lowest, std::min(maxLength, kNice));
            if (longest >= 3) {
                ASSERT_GT(n, 0u) << pos;
                ASSERT_GE(found[n - 1].Length, longest) << pos;
            }
        }
    }
}

TEST(MatchFinder, NiceLengthStopsTheSearchButTheLongestIsExtended) {
    Bytes data = RepeatingData(3000, 2);
    Bytes again(data.begin(), data.begin() + 1500);
    data.insert(data.end(), again.begin(), again.end());
    TreeFinder tree(data.data(), data.size(), 64, 32);
    Match found[400];
    for (size_t pos = 0; pos < 3000; pos++) tree.Skip(pos, 0, (uint32_t)(data.size() - pos));
    size_t n = tree.Find(3000, 0, 1200, found);
    ASSERT_GT(n, 0u);
    EXPECT_EQ(found[n - 1].Length, 1200u);
    EXPECT_EQ(found[n - 1].Distance, 3000u);
}

TEST(MatchFinder, ChainFinderMatchesAreRealAndKeepTheirLimits) {
    Bytes data = RepeatingData(20000, 3);
    ChainFinder chains(data.data(), data.size(), 1u << 20, kMaxMatch);
    const size_t lowest = 2000;
    uint32_t longestSeen = 0;
    for (size_t pos = 0; pos < data.size(); pos += 1 + pos % 3) {
        uint32_t maxLength = (uint32_t)std::min<size_t>(data.size() - pos, 300);
        Match m = chains.Longest(pos, lowest, maxLength);
        if (m.Length == 0) continue;
        ASSERT_TRUE(IsMatch(data, pos, m)) << pos;
        ASSERT_GE(pos - m.Distance, lowest);
        ASSERT_GE(m.Length, 3u);
        ASSERT_LE(m.Length, maxLength);
        if (m.Length == 3) { ASSERT_LE(m.Distance, kMediumDistanceLimit); }
        // With an unbounded chain the longest match of 4 bytes or more is found.
        uint32_t longest = LongestBrute(data, pos, lowest, maxLength);
        if (longest >= 4) { ASSERT_EQ(m.Length, longest) << pos; }
        longestSeen = std::max(longestSeen, m.Length);
    }
    EXPECT_GT(longestSeen, 20u);
}

// A 3-byte match is worth its codes only within the medium distances; beyond them the
// finder must not offer it, while the same match closer in is found.
TEST(MatchFinder, ThreeByteMatchesStayWithinTheMediumDistances) {
    std::mt19937 rng(17);
    Bytes data(30000);
    for (auto& x : data) x = (uint8_t)rng();
    const size_t source = 100;
    for (uint32_t distance : {kMediumDistanceLimit - 1000, kMediumDistanceLimit + 1000}) {
        Bytes b = data;
        const size_t pos = source + distance;
        for (size_t i = 0; i < 3; i++) b[pos + i] = b[source + i];
        b[pos + 3] = (uint8_t)(b[source + 3] + 1);   // exactly three bytes
        ChainFinder chains(b.data(), b.size(), 1u << 20, kMaxMatch);
        Match m = chains.Longest(pos, 0, 100);
        if (distance <= kMediumDistanceLimit) {
            EXPECT_EQ(m.Length, 3u);
            EXPECT_EQ(m.Distance, distance);
        } else {
            EXPECT_FALSE(m.Length == 3 && m.Distance > kMediumDistanceLimit) << m.Distance;
        }
    }
}

TEST(MatchFinder, PairFinderGivesTheNearestEarlierPair) {
    Bytes data = {'a', 'b', 'x', 'a', 'b', 'a', 'b'};
    PairFinder pairs(data.data());
    std::vector<uint32_t> got;
    for (size_t pos = 0; pos + 2 <= data.size(); pos++) got.push_back(pairs.FindAndInsert(pos));
    EXPECT_EQ(got, (std::vector<uint32_t>{0, 0, 0, 3, 0, 2}));
}

}  // namespace
