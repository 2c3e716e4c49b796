// Member extraction from solid streams: continuing and restarting streams, blocks in between,
// headers across blocks, history trimming (also over many small blocks), and streams that
// end early.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string.h>
#include <string>
#include <vector>

#include "decode/crc32.h"
#include "decode/member.h"
#include "platform/errors.h"
#include "platform/fs.h"
#include "profile/profile.h"
#include "profile/state.h"
#include "tests/support/archive_builder.h"

using namespace qartest;

namespace {

class MemberTest : public ::testing::Test {
protected:
    void SetUp() override {
        BuildCrcTable();
        folder_ = MakeTempFolder("member");
        State.InputBuffer = (uint8_t*)MemAlloc(kInputBufferSize + kInputBufferSlack);
        memset(State.InputBuffer, 0, kInputBufferSize + kInputBufferSlack);
        ReleaseStream();
    }
    void TearDown() override {
        ReleaseStream();
        MemFree(State.InputBuffer);
        State.InputBuffer = nullptr;
        UnloadArchive();
        Profile.CancelRequested = 0;
        RemoveTree(folder_);
    }

    void Load(ArchiveBuilder& b, bool layout = true) {
        if (layout) b.Layout();
        ASSERT_TRUE(LoadArchive(b.Write(), folder_));
    }

    // Extracts entry i of b into a file; returns the file's bytes, result in *r.
    Bytes Extract(const ArchiveBuilder& b, size_t i, int32_t* r) {
        const DirectoryEntry& e = b.Entries[i].Fields;
        return ExtractFields(e.StreamOffset, e.MemberOffset, e.MemberSize, e.Flags, r);
    }
    Bytes ExtractFields(uint32_t stream, uint32_t offset, uint32_t size, uint8_t flags, int32_t* r) {
        std::string path = folder_ + "/out" + std::to_string(++outputs_);
        FileHandle out = FsCreate(CorePath(path).c_str(), 0);
        EXPECT_NE(out, kInvalidHandle);
        *r = ExtractMember(out, stream, offset, size, flags);
        FsClose(out);
        return ReadWholeFile(path);
    }
    // Extracts entry i and expects it intact.
    void ExpectIntact(const ArchiveBuilder& b, size_t i) {
        int32_t r;
        Bytes got = Extract(b, i, &r);
        ASSERT_EQ(r, 0) << b.Entries[i].Name;
        EXPECT_EQ(got, b.Entries[i].Plain) << b.Entries[i].Name;
        EXPECT_EQ(State.RunningCrc, b.Entries[i].Fields.MemberCrc) << b.Entries[i].Name;
    }

    std::string folder_;
    int outputs_ = 0;
};

TEST_F(MemberTest, ContinuesAStreamWithoutReadingTheFileAgain) {
    ArchiveBuilder b;
    b.AddFile("first.bin", RandomBytes(3000, 1));
    b.AddFile("second.bin", RandomBytes(2000, 2));
    b.AddFile("third.bin", RandomBytes(500, 3));
    Load(b);
    ExpectIntact(b, 0);
    // The whole stream is one block, now in the window: the next members must come from
    // there. With the archive closed, any read would fail.
    FileHandle archive = State.ArchiveFile;
    State.ArchiveFile = kInvalidHandle;
    ExpectIntact(b, 1);
    ExpectIntact(b, 2);
    State.ArchiveFile = archive;
}

TEST_F(MemberTest, RestartsForAnEarlierMemberAndForAnotherStream) {
    ArchiveBuilder b;
    b.BlockSize = 700;
    b.AddFile("a", RandomBytes(1500, 4));
    b.AddFile("b", RandomBytes(1500, 5));
    b.AddFile("c", RandomBytes(900, 6), 0, 1);
    Load(b);
    ExpectIntact(b, 1);
    ExpectIntact(b, 0);   // before the current block: decoded again from the first block
    ExpectIntact(b, 2);   // the other stream
    ExpectIntact(b, 1);
    ExpectIntact(b, 2);
}

TEST_F(MemberTest, MembersSeveralBlocksOnAndHeadersAcrossBlocks) {
    // Block sizes that put a block boundary at every position of the second member's
    // LocalHeader and variable part, and members that begin several blocks further on.
    for (uint32_t cut = 1; cut < 11 + 6; ++cut) {
        ArchiveBuilder b;
        b.AddFile("x", RandomBytes(40, cut));
        b.AddFile("name6", RandomBytes(90, 100 + cut));
        b.AddFile("", RandomBytes(30, 200 + cut));   // no variable part at all
        b.BlockSize = 11 + 1 + 40 + 4 + cut;
        Load(b);
        ExpectIntact(b, 1);
        ExpectIntact(b, 2);
        ReleaseStream();
        ExpectIntact(b, 2);
        UnloadArchive();
    }
}

TEST_F(MemberTest, EmptyMemberTouchesNothing) {
    ArchiveBuilder b;
    b.AddFile("a", RandomBytes(100, 9));
    Load(b);
    ExpectIntact(b, 0);
    int32_t before = State.Stream.StreamPosition;
    uint32_t history = State.Stream.HistoryLength;
    int32_t r;
    // Another stream and an impossible offset: nothing is read for a member of size 0.
    Bytes got = ExtractFields(999999, 12345, 0, 0, &r);
    EXPECT_EQ(r, 0);
    EXPECT_TRUE(got.empty());
    EXPECT_EQ(State.RunningCrc, 0u);
    EXPECT_EQ(State.Stream.StreamPosition, before);
    EXPECT_EQ(State.Stream.HistoryLength, history);
}

TEST_F(MemberTest, BothFilterBitsMeanThe16BitFilter) {
    Bytes plain = CodeLikeBytes(3000, 11);
    ArchiveBuilder b;
    size_t i = b.AddFile("code.exe", plain, FlagCallFilter16);
    b.Layout();
    b.Entries[i].Fields.Flags = FlagCallFilter16 | FlagCallFilter32;
    Load(b, false);
    ExpectIntact(b, i);
}

TEST_F(MemberTest, FilteredMembersAcrossManyBlocks) {
    ArchiveBuilder b;
    b.BlockSize = 333;
    b.AddFile("a.exe", CodeLikeBytes(5000, 12), FlagCallFilter32);
    b.AddFile("b.dll", CodeLikeBytes(4000, 13), FlagCallFilter16);
    b.AddFile("c.txt", RandomBytes(100, 14));
    Load(b);
    for (size_t i = 0; i < 3; ++i) ExpectIntact(b, i);
}

// A stream made of given blocks whose decoded bytes are decoded; the member is entry 0.
struct CustomStream {
    ArchiveBuilder b;
    Bytes decoded;
    CustomStream(const Bytes& plain) {
        b.AddFile("m", plain);
        b.Layout();
        decoded = b.Streams[0].Decoded;
        b.Streams[0].Blocks.clear();
    }
    void Add(const Bytes& block) { b.Streams[0].Blocks.push_back(block); }
    Bytes Part(size_t from, size_t to) const { return Bytes(decoded.begin() + from, decoded.begin() + to); }
};

TEST_F(MemberTest, CompressedBlockTrimsHistoryByWindowClass) {
    Bytes plain = RandomBytes(100000 + 5000, 21);
    struct Case {
        uint32_t windowClass, index, history;
    } cases[] = {{2, 0, 32768}, {0, 1, 65536}, {3, 7, 100012}, {3, 0, 32768}};
    for (const Case& c : cases) {
        CustomStream s(plain);
        const size_t first = 100012;   // the stored block: the LocalHeader, the name, the data
        s.Add(StoredBlock(s.Part(0, first), false));
        // The second block repeats bytes 30000 back, then decodes the rest literally.
        std::vector<LzOp> ops = {Match(10, 30000)};
        Bytes rest = s.Part(first + 10, s.decoded.size());
        for (uint8_t x : rest) ops.push_back(Literal(x));
        // Make the first 10 bytes of the second block equal to those 30000 bytes back.
        for (size_t k = 0; k < 10; ++k) s.decoded[first + k] = s.decoded[first - 30000 + k];
        Bytes member = s.Part(11 + 1, 11 + 1 + plain.size());
        s.b.Entries[0].Plain = member;
        s.b.Entries[0].Fields.MemberCrc = ReferenceCrc32(member);
        s.Add(CompressedBlock(ops, (uint32_t)(s.decoded.size() - first), true, c.windowClass, c.index,
                              (uint32_t)std::min<size_t>(first, c.history) + (uint32_t)(s.decoded.size() - first)));
        s.b.PlaceStreams();
        Load(s.b, false);
        ExpectIntact(s.b, 0);
        ASSERT_EQ(State.Stream.HistoryLength, c.history) << c.windowClass << "/" << c.index;
        // The history kept is the last bytes before the block, now at the window's start.
        EXPECT_EQ(0, memcmp(State.Stream.Window, s.decoded.data() + first - c.history, c.history));
        ReleaseStream();
        UnloadArchive();
    }
}

// Many small blocks that all ask for the largest window, behind a history that fills it:
// each block trims the history at its front, and now and then the history goes back to the
// front of the window's memory. Matches reach as far back as the window allows, also into
// history from before such a move; the member must come out as from a plain decoder that
// keeps the whole stream in one array.
TEST_F(MemberTest, ManySmallBlocksWithTheLargestWindow) {
    const uint32_t window = Profile.WindowSizes[2][7];
    std::mt19937 random(91);
    // The stored block fills the window; behind it, blocks of 1 to 3000 bytes, about three
    // windows in all.
    const size_t first = window + 3000;
    std::vector<size_t> sizes;
    size_t total = first;
    while (total < first + 3 * window) {
        sizes.push_back(1 + random() % 3000);
        total += sizes.back();
    }
    CustomStream s(RandomBytes(total - 11 - 1 - 4, 92));   // LocalHeader, name "m", CRC
    s.Add(StoredBlock(s.Part(0, first), false));
    // The reference: literals keep the stream's random bytes, matches copy from the bytes
    // the same array already holds.
    Bytes& ref = s.decoded;
    size_t at = first;
    for (size_t b = 0; b < sizes.size(); ++b) {
        std::vector<LzOp> ops;
        const size_t start = at, end = at + sizes[b];
        while (at < end) {
            uint32_t length = 3 + random() % 8;
            uint32_t pick = random() % 4;
            if (pick == 0 || end - at < length) {
                ops.push_back(Literal(ref[at++]));
                continue;
            }
            // The farthest reach (the window's first byte), one just inside it, or any.
            uint32_t reach = window + (uint32_t)(at - start);
            uint32_t distance = pick == 1 ? reach : pick == 2 ? reach - 1 - random() % 16 : 1 + random() % reach;
            ops.push_back(Match(length, distance));
            for (uint32_t k = 0; k < length; ++k, ++at) ref[at] = ref[at - distance];
        }
        s.Add(CompressedBlock(ops, (uint32_t)sizes[b], b + 1 == sizes.size(), 2, 7, window + (uint32_t)sizes[b]));
    }
    Bytes member = s.Part(11 + 1, total - 4);
    s.b.Entries[0].Plain = member;
    s.b.Entries[0].Fields.MemberCrc = ReferenceCrc32(member);
    Load(s.b, false);
    ExpectIntact(s.b, 0);
    EXPECT_EQ(State.Stream.HistoryLength, window);
}

TEST_F(MemberTest, StoredLastBlockDropsHistory) {
    Bytes plain = RandomBytes(5000, 31);
    CustomStream s(plain);
    s.Add(StoredBlock(s.Part(0, 3000), false));
    s.Add(StoredBlock(s.Part(3000, s.decoded.size()), true));
    Load(s.b, false);
    ExpectIntact(s.b, 0);
    EXPECT_EQ(State.Stream.HistoryLength, 0u);
    EXPECT_EQ(0, memcmp(State.Stream.Window, s.decoded.data() + 3000, s.decoded.size() - 3000));
}

TEST_F(MemberTest, StoredBlockKeepsHistoryUpToTheLimit) {
    // 600000 stored bytes leave no room for history in front of them; 100000 leave room
    // for 424288 bytes, bounded by the window.
    Bytes plain = RandomBytes(800000, 41);
    CustomStream s(plain);
    s.Add(StoredBlock(s.Part(0, 100000), false));
    s.Add(StoredBlock(s.Part(100000, 700000), false));
    s.Add(StoredBlock(s.Part(700000, s.decoded.size()), false));
    s.Add(StoredBlock(Bytes(), true));
    Load(s.b, false);
    ExpectIntact(s.b, 0);
    EXPECT_LE(State.Stream.HistoryLength + State.Stream.BlockDecodedSize, State.Stream.WindowCapacity);
    EXPECT_LE(State.Stream.HistoryLength, 524288u);
}

// A stored block as long as the largest window keeps no history; one 3 bytes shorter keeps
// those 3, which move to the buffer's front from an offset that is no multiple of any
// alignment: the window, with its whole capacity, must still lie inside the buffer.
TEST_F(MemberTest, WindowStaysInsideItsBufferWhenLittleHistoryMoves) {
    const uint32_t window = Profile.WindowSizes[2][7];
    const size_t header = CustomStream(Bytes(10)).decoded.size() - 10;
    CustomStream s(RandomBytes(2 * window - 3 - header, 43));
    s.Add(StoredBlock(s.Part(0, window), false));
    s.Add(StoredBlock(s.Part(window, s.decoded.size()), false));
    s.Add(StoredBlock(Bytes(), true));
    Load(s.b, false);
    ExpectIntact(s.b, 0);
    ASSERT_EQ(State.Stream.HistoryLength, 3u);
    size_t start = (size_t)(State.Stream.Window - State.Stream.WindowBuffer);
    EXPECT_LE(start + State.Stream.WindowCapacity, State.Stream.WindowBufferSize);
}

TEST_F(MemberTest, StreamEndingShortFailsTheCrcWithoutReadingBeyond) {
    ArchiveBuilder b;
    b.AddFile("a", RandomBytes(400, 51));
    size_t bogus = b.AddFile("b", RandomBytes(300, 52));
    b.AddFile("other", RandomBytes(300, 53), 0, 1);
    b.Layout();
    // Member b claims more bytes than its stream holds, and a member that lies wholly
    // behind the stream's end follows it.
    b.Entries[bogus].Fields.MemberSize += 100;
    uint32_t streamEnd = (uint32_t)b.Streams[0].Decoded.size();
    Load(b, false);
    int32_t r;
    Bytes got = Extract(b, bogus, &r);
    EXPECT_EQ(r, ErrCrc);
    // What the stream held (the data and the 4 CRC bytes behind it), then the end.
    ASSERT_EQ(got.size(), b.Entries[bogus].Plain.size() + 4);
    EXPECT_TRUE(std::equal(b.Entries[bogus].Plain.begin(), b.Entries[bogus].Plain.end(), got.begin()));

    // The stream has ended: the next StreamMarker is not decoded as a block of it. Nothing
    // came out, whose CRC-32 is 0: a member declaring 1 GiB with CRC 0 must still fail.
    got = ExtractFields(b.Entries[0].Fields.StreamOffset, streamEnd + 20, 1u << 30, 0, &r);
    EXPECT_EQ(r, ErrCrc);
    EXPECT_TRUE(got.empty());
    EXPECT_EQ(State.RunningCrc, 0u);
    // The same through the call filter, which holds back bytes that may start a call.
    got = ExtractFields(b.Entries[0].Fields.StreamOffset, streamEnd, 1u << 30, FlagCallFilter32, &r);
    EXPECT_EQ(r, ErrCrc);
    EXPECT_TRUE(got.empty());
    // Bytes still in the window are served as before.
    ExpectIntact(b, 0);
    ExpectIntact(b, 2);
}

// A filtered member whose stream ends right behind an 0xE8 leaves that byte held back
// for an operand that never came; the next filtered member must not begin with it.
TEST_F(MemberTest, HeldBackCallByteDoesNotReachTheNextMember) {
    Bytes plain = RandomBytes(300, 71);
    for (uint8_t& c : plain) c &= 0x7F;   // no call opcode but the one placed below
    plain[199] = 0xE8;
    ArchiveBuilder b;
    b.AddFile("cut.exe", plain, FlagCallFilter32);
    size_t next = b.AddFile("next.exe", CodeLikeBytes(500, 72), FlagCallFilter32, 1);
    b.Layout();
    Bytes& decoded = b.Streams[0].Decoded;
    size_t cut = decoded.size() - 4 - plain.size() + 200;   // just behind the 0xE8
    b.Streams[0].Blocks = {StoredBlock(decoded.data(), cut, true)};
    b.PlaceStreams();
    Load(b, false);
    int32_t r;
    Bytes got = Extract(b, 0, &r);
    EXPECT_EQ(r, ErrCrc);
    EXPECT_TRUE(std::equal(got.begin(), got.end(), plain.begin()));
    ExpectIntact(b, next);
}

TEST_F(MemberTest, CompressedBlockDecodingShortEndsTheStream) {
    Bytes plain = RandomBytes(200, 61);
    CustomStream s(plain);
    // The header promises 50 bytes more than the block decodes to, and another block
    // follows: it must not be read.
    Bytes all = s.decoded;
    s.Add(LiteralBlock(s.Part(0, 100), false, 0, 0, 100));
    Bytes shortBlock = LiteralBlock(s.Part(100, all.size() - 50), false, 0, 0, 200);
    PutBlockHeader(shortBlock.data(), 1, false, (uint32_t)(all.size() - 100), (uint32_t)shortBlock.size());
    s.Add(shortBlock);
    s.Add(StoredBlock(s.Part(all.size() - 50, all.size()), true));
    // The bytes that did come out are declared intact: only the shortfall fails the member.
    s.b.Entries[0].Fields.MemberCrc = ReferenceCrc32(s.Part(12, all.size() - 50));
    Load(s.b, false);
    int32_t r;
    Bytes got = Extract(s.b, 0, &r);
    EXPECT_EQ(r, ErrCrc);
    EXPECT_EQ(got, s.Part(12, all.size() - 50));
}

TEST_F(MemberTest, BytesADamagedBlockLeavesUnwrittenAreZero) {
    // A first stream fills a window with 0xFF; the second stream's block repeats the
    // remembered distance before any was set, which writes nothing over 6 bytes.
    ArchiveBuilder b;
    b.AddFile("ff", Bytes(5000, 0xFF));
    size_t m = b.AddFile("m", Bytes(10, 0x41), 0, 1);
    b.Layout();
    Bytes decoded = b.Streams[1].Decoded;
    std::vector<LzOp> ops;
    for (size_t k = 0; k < 12 + 3; ++k) ops.push_back(Literal(decoded[k]));
    ops.push_back(Match(6, 0));
    for (size_t k = 12 + 9; k < decoded.size(); ++k) ops.push_back(Literal(decoded[k]));
    b.Streams[1].Blocks = {CompressedBlock(ops, (uint32_t)decoded.size(), true, 0, 0, (uint32_t)decoded.size())};
    b.PlaceStreams();
    Load(b, false);
    ExpectIntact(b, 0);
    ReleaseStream();
    int32_t r;
    Bytes got = Extract(b, m, &r);
    ASSERT_EQ(r, 0);
    EXPECT_EQ(got, Bytes({0x41, 0x41, 0x41, 0, 0, 0, 0, 0, 0, 0x41}));
}

// Block types 2 to 15 are damage, the lowest of them as much as the highest.
TEST_F(MemberTest, DamagedBlockRefusesTheStreamUntilRestarted) {
    for (uint8_t type : {2, 7, 15}) {
        ArchiveBuilder b;
        b.BlockSize = 200;
        b.AddFile("a", RandomBytes(150, 71));
        b.AddFile("b", RandomBytes(600, 72));
        b.AddFile("c", RandomBytes(100, 73), 0, 1);
        b.Layout();
        b.Streams[0].Blocks[2][0] = (uint8_t)((b.Streams[0].Blocks[2][0] & 0xF0) | type);
        SCOPED_TRACE((int)type);
        Load(b, false);
        ExpectIntact(b, 0);
        int32_t r;
        Extract(b, 1, &r);
        EXPECT_EQ(r, ErrDamaged);
        Extract(b, 1, &r);   // the same stream, continued: still refused
        EXPECT_EQ(r, ErrDamaged);
        ExpectIntact(b, 2);  // another stream restarts cleanly
        ExpectIntact(b, 0);  // and so does this one, from its first block
    }
}

TEST_F(MemberTest, CancelIsSeenBeforeTheNextBlock) {
    ArchiveBuilder b;
    b.BlockSize = 100;
    b.AddFile("a", RandomBytes(1000, 81));
    Load(b);
    Profile.CancelRequested = 1;
    int32_t r;
    Extract(b, 0, &r);
    EXPECT_EQ(r, ErrCancelled);
}

}  // namespace
