// The LZ block decoder against bodies built by the independent bit writer, and against a
// plain model of the format on random blocks.
#include <gtest/gtest.h>
#include <string.h>

#include <random>
#include <vector>

#include "decode/input.h"
#include "decode/lzdecode.h"
#include "platform/errors.h"
#include "profile/profile.h"
#include "profile/state.h"
#include "tests/support/archive_input.h"
#include "tests/support/bit_writer.h"

namespace {

typedef std::vector<uint8_t> Bytes;

struct Decoded {
    int32_t Result;
    Bytes Window;
    uint64_t BitsUsed;
};

// Decodes body (loaded as a whole block) into a window of history + count bytes, the block's
// part prefilled with fill.
Decoded Decode(const Bytes& body, const Bytes& history, uint32_t count, uint8_t fill = 0xEE) {
    ArchiveInput input;
    input.LoadBlock(body);
    Decoded d;
    d.Window = history;
    d.Window.resize(history.size() + count, fill);
    d.Result = DecodeLzBlock(d.Window.data(), (uint32_t)history.size(), count);
    d.BitsUsed = input.BitPosition();
    return d;
}

Bytes Text(const char* s) { return Bytes(s, s + strlen(s)); }

// One TableSet (m = 2) in which every literal/length symbol and every distance symbol has a
// code; some codes are longer than the primary widths so that the trees are used.
Bytes FullSet(uint32_t alphabets, uint32_t seed) {
    std::mt19937 random(seed);
    uint32_t size = alphabets == 3 ? kWriterSetLong : kWriterSetShort;
    Bytes set(size, 0);
    auto fillAlphabet = [&](uint32_t first, uint32_t n) {
        std::vector<uint64_t> f(n);
        for (auto& x : f) x = 1 + (random() % 4 == 0 ? random() % 5000 : random() % 3);
        Bytes lengths = HuffmanLengths(f, 16);
        std::copy(lengths.begin(), lengths.end(), set.begin() + first);
    };
    fillAlphabet(0, 288);
    fillAlphabet(288, 42);
    fillAlphabet(330, 14);
    if (alphabets == 3) fillAlphabet(344, 28);
    return set;
}

TEST(LzDecode, WorkedBlockDecodesToFourBytesAndEndsOnTheByteBoundary) {
    Decoded d = Decode({0x02, 0x86, 0x5F, 0x09}, {}, 4);
    EXPECT_EQ(d.Result, 4);
    EXPECT_EQ(d.Window, (Bytes{0x61, 0x61, 0x61, 0x61}));
    EXPECT_EQ(d.BitsUsed, 32u);
    EXPECT_EQ(State.BitOffset, 0);

    // The bit writer, built from the format alone, produces the same bytes.
    BitWriter w;
    LzBlockWriter block(w, 2, {}, 4);
    block.Literal(0x61);
    block.Match(3, 1);
    EXPECT_EQ(w.Bytes(), (Bytes{0x02, 0x86, 0x5F, 0x09}));
}

TEST(LzDecode, OverlappingMatchesRepeatTheLastDistanceBytes) {
    BitWriter w;
    LzBlockWriter block(w, 2, {}, 100);
    block.Literal('x');
    block.Match(10, 1);           // the previous byte ten times
    for (char c : Text("ABC")) block.Literal(c);
    block.Match(7, 3);
    for (char c : Text("0123456789")) block.Literal(c);
    block.Match(40, 10);          // longer than its distance, distance of at least a word
    block.Match(30, 5);
    Decoded d = Decode(w.Bytes(), {}, 11 + 10 + 10 + 40 + 30);
    ASSERT_EQ(d.Result, 101);
    std::string s(d.Window.begin(), d.Window.end());
    EXPECT_EQ(s.substr(0, 11), "xxxxxxxxxxx");
    EXPECT_EQ(s.substr(11, 10), "ABCABCABCA");
    EXPECT_EQ(s.substr(21, 50), "01234567890123456789012345678901234567890123456789");
    EXPECT_EQ(s.substr(71, 30), "567895678956789567895678956789");
}

TEST(LzDecode, RemembersTwoDistancesAndSwapsThem) {
    Bytes history = Text("abcdefghijklmnopqrstuvwxyz");
    BitWriter w;
    LzBlockWriter block(w, 2, {}, 200);
    block.Match(4, 10);           // explicit: last 10
    block.Match(4, 20);           // explicit: last 20, previous 10
    block.MatchSymbol(4, 1);      // previous: 10, and now last 10, previous 20
    block.MatchSymbol(4, 1);      // previous again: 20
    block.MatchSymbol(4, 0);      // last: 20
    block.MatchSymbol(4, 3);      // distance 2, leaves both alone
    block.MatchSymbol(4, 0);      // still 20
    Decoded d = Decode(w.Bytes(), history, 28);
    ASSERT_EQ(d.Result, 28);
    // Model: each match copies 4 bytes from distance d before the output position.
    Bytes expect = history;
    for (uint32_t dist : {10u, 20u, 10u, 20u, 20u, 2u, 20u})
        for (int i = 0; i < 4; ++i) expect.push_back(expect[expect.size() - dist]);
    EXPECT_EQ(d.Window, expect);
}

TEST(LzDecode, UnsetRememberedDistanceLeavesTheWindowBytesAndMovesOn) {
    BitWriter w;
    LzBlockWriter block(w, 2, {}, 16);
    block.Literal('a');
    block.MatchSymbol(5, 0);      // distance 0: no explicit distance yet
    block.Match(4, 1);            // last 1, previous 0
    block.MatchSymbol(3, 1);      // previous: 0 again
    block.Literal('z');
    Decoded d = Decode(w.Bytes(), {}, 14, 0x77);
    ASSERT_EQ(d.Result, 14);
    EXPECT_EQ(d.Window, (Bytes{'a', 0x77, 0x77, 0x77, 0x77, 0x77, 0x77, 0x77, 0x77, 0x77,
                               0x77, 0x77, 0x77, 'z'}));
}

TEST(LzDecode, LongestLengthSymbolsCarryFifteenExtraBits) {
    for (uint32_t symbol : {286u, 287u}) {
        for (uint32_t extra : {0u, 0x7FFFu}) {
            uint32_t length = 259 + extra;
            uint32_t count = 1 + length + 5;
            BitWriter w;
            LzBlockWriter block(w, 2, {}, count);
            block.Literal('q');
            // Length symbol by hand: 286 and 287 mean the same.
            std::vector<uint8_t> set = DefaultTableSet(count);
            std::vector<uint32_t> codes = CanonicalCodes(Bytes(set.begin(), set.begin() + 288));
            w.PutCode(codes[symbol], set[symbol]);
            w.Put(extra, 15);
            std::vector<uint32_t> dcodes = CanonicalCodes(Bytes(set.begin() + 288, set.begin() + 330));
            w.PutCode(dcodes[2], set[288 + 2]);   // distance 1
            Decoded d = Decode(w.Bytes(), {}, count);
            EXPECT_EQ(d.Result, (int32_t)(1 + length)) << symbol << " " << extra;
            size_t qs = 0;
            for (size_t i = 0; i < 1 + length; ++i) qs += d.Window[i] == 'q';
            EXPECT_EQ(qs, 1 + length);
            EXPECT_EQ(d.Window[1 + length], 0xEE);
        }
    }
}

TEST(LzDecode, MatchesAreCutAtTheBlockEndAndDroppedInFrontOfTheWindow) {
    Bytes history = Text("0123456789");
    {
        // Distance equal to the bytes in front (reaching offset 0) is copied; one more drops
        // the match without writing or failing, and the remembered distance still changes.
        BitWriter w;
        LzBlockWriter block(w, 2, {}, 64);
        block.Match(4, 11);
        block.Match(4, 10);
        block.MatchSymbol(4, 1);   // the dropped 11 became the previous distance
        Decoded d = Decode(w.Bytes(), history, 8);
        ASSERT_EQ(d.Result, 8);
        EXPECT_EQ(std::string(d.Window.begin() + 10, d.Window.end()), "01233456");
    }
    {
        // 40 bytes asked, room for 25: the rest of the match is lost, whatever the copy path.
        for (uint32_t distance : {3u, 10u}) {
            BitWriter w;
            LzBlockWriter block(w, 2, {}, 64);
            block.Match(40, distance);
            Decoded d = Decode(w.Bytes(), history, 25);
            ASSERT_EQ(d.Result, 25);
            for (size_t i = 10; i < 35; ++i) EXPECT_EQ(d.Window[i], d.Window[i - distance]);
        }
    }
}

TEST(LzDecode, DistanceAlphabetFollowsTheMatchLength) {
    // Three alphabets with different codes for distance 4 (symbol 5): a decoder that picks the
    // wrong alphabet reads a different distance or runs out of codes.
    Bytes set = FullSet(3, 7);
    Bytes history;
    for (int i = 0; i < 100; ++i) history.push_back((uint8_t)i);
    Bytes expect = history;
    BitWriter w;
    LzBlockWriter block(w, 3, set);
    for (auto [length, distance] : {std::pair{2u, 4u}, {3u, 4u}, {4u, 4u}, {3u, 60u}, {2u, 64u}}) {
        block.Match(length, distance);
        for (uint32_t i = 0; i < length; ++i) expect.push_back(expect[expect.size() - distance]);
    }
    Decoded d = Decode(w.Bytes(), history, 14);
    ASSERT_EQ(d.Result, 14);
    EXPECT_EQ(d.Window, expect);

    // With two alphabets a length-3 match takes alphabet 0.
    BitWriter w2;
    LzBlockWriter block2(w2, 2, Bytes(set.begin(), set.begin() + 344));
    block2.Match(3, 1000);
    block2.Match(2, 64);
    Bytes big(1000, 'k');
    big[0] = 'K';
    Decoded d2 = Decode(w2.Bytes(), big, 5);
    ASSERT_EQ(d2.Result, 5);
    EXPECT_EQ(d2.Window[1000], 'K');
}

TEST(LzDecode, TableSetsSwitchOnSymbol256AndTheLastOneRunsToTheDecodedSize) {
    Bytes sets;
    for (uint32_t i = 0; i < 6; ++i) {
        Bytes s = FullSet(2, 100 + i);
        sets.insert(sets.end(), s.begin(), s.end());
    }
    BitWriter w;
    LzBlockWriter block(w, 2, sets);
    std::string expect;
    for (int i = 0; i < 6; ++i) {
        for (int j = 0; j <= i; ++j) {
            block.Literal((uint8_t)('a' + i));
            expect += (char)('a' + i);
        }
        if (i < 5) block.EndSet();
    }
    uint32_t count = (uint32_t)expect.size();
    Decoded d = Decode(w.Bytes(), {}, count);
    ASSERT_EQ(d.Result, (int32_t)count);
    EXPECT_EQ(std::string(d.Window.begin(), d.Window.end()), expect);

    // Symbol 256 in the last TableSet ends the block short, on a byte boundary.
    block.EndSet();
    block.Literal('!');
    Decoded shortBlock = Decode(w.Bytes(), {}, count + 10);
    EXPECT_EQ(shortBlock.Result, (int32_t)count);
    EXPECT_EQ(shortBlock.BitsUsed % 8, 0u);
}

TEST(LzDecode, CodesMissingFromTheTableEndTheBlockWithTheBytesSoFar) {
    // Only 'a' and 'b' (and 256) have codes: one bit pattern of the 2-bit codes is unused.
    Bytes set(344, 0);
    set['a'] = 2;
    set['b'] = 2;
    set[256] = 2;
    set[288 + 2] = 1;
    set[330 + 2] = 1;
    BitWriter w;
    LzBlockWriter block(w, 2, set);
    block.Literal('a');
    block.Literal('b');
    w.PutCode(3, 2);   // 11: no code
    block.Literal('a');
    Decoded d = Decode(w.Bytes(), {}, 10);
    EXPECT_EQ(d.Result, 2);
    EXPECT_EQ(d.BitsUsed % 8, 0u);
}

TEST(LzDecode, HeaderErrorsAndCancel) {
    // m = 0, m = 1, and m = 3 with the default TableSet are refused.
    for (uint8_t header : {0x00, 0x01, 0x03}) {
        Decoded d = Decode({header, 0, 0, 0}, {}, 4);
        EXPECT_EQ(d.Result, ErrDamaged) << (int)header;
    }
    // Cancel is seen at the start of a TableSet.
    {
        ArchiveInput input;
        input.LoadBlock({0x02, 0x86, 0x5F, 0x09});
        Profile.CancelRequested = 1;
        uint8_t window[4];
        EXPECT_EQ(DecodeLzBlock(window, 0, 4), ErrCancelled);
    }
}

TEST(LzDecode, InputRunningOutEndsTheBlockWithoutDecodingBytesNeverRead) {
    // A block of literals cut short: the decoder returns exactly the literals whose bits were
    // all read, however the bytes behind them look.
    BitWriter w;
    LzBlockWriter block(w, 2, {}, 1000);
    for (int i = 0; i < 100; ++i) block.Literal((uint8_t)i);
    Bytes body = w.Bytes();
    for (size_t cut = 1; cut < body.size(); cut += 7) {
        Decoded d = Decode(Bytes(body.begin(), body.begin() + cut), {}, 100);
        // Header 8 bits, literals of 8 or 9 bits: count those that fit.
        uint64_t bits = 8;
        int32_t whole = 0;
        while (whole < 100 && bits + (whole < 244 ? 8 : 9) <= cut * 8) bits += 8, ++whole;
        EXPECT_EQ(d.Result, whole) << cut;
        for (int32_t i = 0; i < whole; ++i) ASSERT_EQ(d.Window[i], i);
    }
}

// A random block: ops are literals, matches (explicit or repeated distances) and TableSet
// switches; the model applies them byte by byte.
struct RandomBlock {
    Bytes Body;        // block body, starting at its header byte
    Bytes Expected;    // window after decoding: history + block
    uint32_t Count;
};

RandomBlock MakeRandomBlock(uint32_t seed, const Bytes& history, uint32_t targetSize, uint32_t alphabets,
                            uint32_t setCount, BitWriter w = BitWriter()) {
    std::mt19937 random(seed);
    Bytes sets;
    for (uint32_t i = 0; i < setCount; ++i) {
        Bytes s = FullSet(alphabets, seed * 31 + i);
        sets.insert(sets.end(), s.begin(), s.end());
    }
    uint32_t endOffset = (uint32_t)history.size() + targetSize;
    LzBlockWriter block(w, alphabets, sets, endOffset);
    RandomBlock b;
    b.Expected = history;
    uint32_t last = 0, previous = 0;
    uint32_t setsLeft = setCount > 0 ? setCount - 1 : 0;
    while (b.Expected.size() < endOffset) {
        uint32_t o = (uint32_t)b.Expected.size();
        uint32_t kind = random() % 16;
        if (kind < 8 || o == 0) {
            uint8_t byte = (uint8_t)(random() % 4 == 0 ? random() : 'a' + random() % 6);
            block.Literal(byte);
            b.Expected.push_back(byte);
            continue;
        }
        if (kind == 8 && setsLeft > 0) {
            block.EndSet();
            --setsLeft;
            continue;
        }
        uint32_t length = random() % 8 == 0 ? 2 + random() % 600 : 2 + random() % 12;
        if (random() % 64 == 0) length = 259 + random() % 3000;
        uint32_t a = block.AlphabetFor(length);
        uint32_t maxDistance = a == 1 ? 64 : a == 2 ? 8192 : (setCount == 0 && endOffset <= 8192 ? 8192 : 1048576);
        uint32_t distance;
        uint32_t r = random() % 10;
        if (r == 0) {
            block.MatchSymbol(length, 0);
            distance = last;
        } else if (r == 1) {
            block.MatchSymbol(length, 1);
            distance = previous;
            previous = last;
            last = distance;
        } else {
            uint32_t reach = std::min<uint32_t>(maxDistance, o + 2);   // sometimes one too far
            distance = 1 + random() % (random() % 2 ? std::min<uint32_t>(reach, 16) : reach);
            block.Match(length, distance);
            if (distance > 4) {
                previous = last;
                last = distance;
            }
        }
        if (distance > o) continue;   // dropped
        uint32_t n = std::min<uint32_t>(length, endOffset - o);
        for (uint32_t i = 0; i < n; ++i)
            b.Expected.push_back(distance == 0 ? 0xEE : b.Expected[o + i - distance]);
    }
    b.Body = w.Bytes();
    b.Count = targetSize;
    return b;
}

TEST(LzDecode, RandomBlocksMatchTheModel) {
    for (uint32_t seed = 1; seed <= 60; ++seed) {
        std::mt19937 random(seed);
        Bytes history(random() % 3 == 0 ? 0 : random() % 5000);
        for (auto& x : history) x = (uint8_t)random();
        uint32_t alphabets = 2 + random() % 2;
        uint32_t sets = alphabets == 3 ? 1 + random() % 4 : random() % 4;
        RandomBlock b = MakeRandomBlock(seed, history, 1 + random() % 20000, alphabets, sets);
        Decoded d = Decode(b.Body, history, b.Count);
        ASSERT_EQ(d.Result, (int32_t)b.Count) << "seed " << seed;
        for (size_t i = 0; i < d.Window.size(); ++i)
            ASSERT_EQ(d.Window[i], b.Expected[i]) << "seed " << seed << " at " << i << " of " << history.size();
        EXPECT_EQ(d.BitsUsed, (uint64_t)b.Body.size() * 8) << "seed " << seed;
    }
}

TEST(LzDecode, BlocksLargerThanTheBufferAreDecodedAcrossRefills) {
    for (uint32_t seed = 1; seed <= 4; ++seed) {
        BitWriter w;
        PutBlockHeader(w, 1, true, 0, 0);
        RandomBlock b = MakeRandomBlock(seed, {}, 150000 + seed * 20000, 2, seed % 3, w);
        Bytes file = b.Body;
        SetBlockSize(file, (uint32_t)file.size());
        // The decoded size field of the header is not used by DecodeLzBlock itself.
        ArchiveInput input(file);
        ASSERT_EQ(RefillInput(true), 0);
        State.InputPointer = State.InputBuffer + 6;
        State.BitOffset = 2;
        Bytes window(b.Count, 0xEE);
        int32_t r = DecodeLzBlock(window.data(), 0, b.Count);
        ASSERT_EQ(r, (int32_t)b.Count) << seed;
        ASSERT_EQ(window, b.Expected) << seed;
        EXPECT_EQ(State.FilePosition, (int32_t)file.size());
        EXPECT_EQ(State.InputPointer, State.InputEnd);
    }
}

}  // namespace

// Matches long enough to be copied by words, at distances shorter than a word and longer,
// cut at the block's end or ending a few bytes before it, with input behind so that the
// fast loop decodes them where it can; once two distances are remembered a copy may write
// behind the match, within the block. Each byte repeats the one distance back, and nothing
// is written behind the block.
TEST(LzDecode, WordCopiedMatchesAreExactAndStopAtTheBlockEnd) {
    const std::string front = "abcdefghijklmnopqrstuvwxyz0123456789ABCD";
    for (bool remembered : {false, true}) {
        for (uint32_t distance : {1u, 2u, 3u, 4u, 5u, 6u, 7u, 8u, 9u, 16u, 40u}) {
            for (uint32_t length = 14; length <= 110; length += length < 42 ? 1 : 3) {
                for (int32_t end : {-7, -1, 0, 1, 6, 7}) {
                    std::string expect = front;
                    BitWriter w;
                    uint32_t count = (uint32_t)((int32_t)(front.size() + (remembered ? 8 : 0) + length) + end);
                    LzBlockWriter block(w, 2, {}, count);
                    for (char c : front) block.Literal((uint8_t)c);
                    if (remembered) {
                        for (uint32_t d : {20u, 30u}) {
                            block.Match(4, d);
                            for (int i = 0; i < 4; ++i) expect += expect[expect.size() - d];
                        }
                    }
                    block.Match(length, distance);
                    for (uint32_t i = 0; i < length; ++i) expect += expect[expect.size() - distance];
                    for (uint32_t i = 0; i < 80; ++i) {
                        block.Literal((uint8_t)('a' + i % 7));
                        expect += (char)('a' + i % 7);
                    }
                    ArchiveInput input;
                    input.LoadBlock(w.Bytes());
                    Bytes window(count + 16, 0xEE);
                    ASSERT_EQ(DecodeLzBlock(window.data(), 0, count), (int32_t)count);
                    ASSERT_EQ(std::string(window.begin(), window.begin() + count), expect.substr(0, count))
                        << "distance " << distance << " length " << length << " end " << end;
                    for (uint32_t i = count; i < window.size(); ++i)
                        ASSERT_EQ(window[i], 0xEE) << "distance " << distance << " length " << length << " end " << end;
                }
            }
        }
    }
}

// A long run of literals whose block ends inside it, with plenty of input behind: the
// decoder stops at the decoded size wherever the end falls in a group of literals taken
// together, and writes nothing behind the block.
TEST(LzDecode, LiteralRunsStopAtTheBlockEnd) {
    for (uint32_t count = 90; count <= 100; ++count) {
        BitWriter w;
        LzBlockWriter block(w, 2, {}, count);
        std::string text;
        for (uint32_t i = 0; i < 400; ++i) text += (char)('a' + (i * 7) % 26);
        for (char c : text) block.Literal((uint8_t)c);
        ArchiveInput input;
        input.LoadBlock(w.Bytes());
        Bytes window(count + 16, 0xEE);
        ASSERT_EQ(DecodeLzBlock(window.data(), 0, count), (int32_t)count) << count;
        EXPECT_EQ(std::string(window.begin(), window.begin() + count), text.substr(0, count));
        for (uint32_t i = count; i < window.size(); ++i) ASSERT_EQ(window[i], 0xEE) << count;
    }
}
