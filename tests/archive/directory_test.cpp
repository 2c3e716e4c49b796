// The directory reader: blocks found one behind the other, compressed or stored, and
// damaged or cut directories that never deliver bytes that were not read.
#include <gtest/gtest.h>
#include <string.h>

#include <vector>

#include "archive/directory.h"
#include "decode/input.h"
#include "platform/errors.h"
#include "platform/fs.h"
#include "profile/profile.h"
#include "profile/state.h"
#include "tests/support/archive_input.h"
#include "tests/support/bit_writer.h"

namespace {

typedef std::vector<uint8_t> Bytes;

const Bytes kSignature = {'Q', 'A', 'R', 'D', 'E', 0};

Bytes Entries(size_t n, uint8_t seed) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = (uint8_t)(seed + i * 13 + (i >> 3));
    return b;
}

// A compressed directory block of literals (default TableSet), signature included.
Bytes CompressedBlock(const Bytes& content, uint32_t decodedSize = 0) {
    if (decodedSize == 0) decodedSize = (uint32_t)content.size();
    BitWriter w;
    PutBlockHeader(w, 1, false, decodedSize, 0);
    LzBlockWriter block(w, 2, {}, decodedSize);
    for (uint8_t c : content) block.Literal(c);
    Bytes bytes = w.Bytes();
    SetBlockSize(bytes, (uint32_t)bytes.size());
    bytes.insert(bytes.begin(), kSignature.begin(), kSignature.end());
    return bytes;
}

// A stored directory block: the bytes begin at byte 7 of the block.
Bytes StoredBlock(const Bytes& content, uint32_t decodedSize) {
    BitWriter w;
    PutBlockHeader(w, 0, false, decodedSize, 7 + (uint32_t)content.size());
    Bytes bytes = w.Bytes();
    bytes.resize(7, 0);
    bytes.insert(bytes.end(), content.begin(), content.end());
    bytes.insert(bytes.begin(), kSignature.begin(), kSignature.end());
    return bytes;
}
Bytes StoredBlock(const Bytes& content) { return StoredBlock(content, (uint32_t)content.size()); }

// An archive file with some stream bytes in front of the directory; the reader starts as
// the extraction loop leaves it, positioned on the directory.
struct Directory {
    explicit Directory(const Bytes& directory, uint32_t offset = 300) : Offset(offset), Input(Build(directory, offset)) {
        FsSeek(State.ArchiveFile, (int32_t)offset, kFileBegin);
        State.FilePosition = State.DirectoryPosition = (int32_t)offset;
        memset(EntryBuffer, 0x3C, sizeof EntryBuffer);
    }
    static Bytes Build(const Bytes& directory, uint32_t offset) {
        Bytes file(offset, 0x42);
        file.insert(file.end(), directory.begin(), directory.end());
        return file;
    }
    Bytes Decoded() const { return Bytes(State.EntryCursor, State.EntryEnd); }

    uint32_t Offset;
    ArchiveInput Input;
    uint8_t EntryBuffer[kEntryBufferSize];
};

TEST(Directory, TwoBlocksOneCompressedOneStored) {
    Bytes first = Entries(120, 1);
    Bytes second = Entries(77, 9);
    Bytes blockA = CompressedBlock(first);
    Bytes blockB = StoredBlock(second);
    Bytes both = blockA;
    both.insert(both.end(), blockB.begin(), blockB.end());
    Directory d(both);

    ASSERT_EQ(ReadDirectoryBlock(d.EntryBuffer), 0);
    EXPECT_EQ(State.EntryCursor, d.EntryBuffer);
    EXPECT_EQ(d.Decoded(), first);
    // The next block lies right behind the first one's last byte.
    EXPECT_EQ(State.DirectoryPosition, (int32_t)(d.Offset + blockA.size()));
    // The whole tail was read in one go, so the second call seeks back.
    EXPECT_EQ(State.FilePosition, (int32_t)(d.Offset + blockA.size() + blockB.size()));

    State.EntryCursor = State.EntryEnd - 10;   // untaken bytes are dropped
    ASSERT_EQ(ReadDirectoryBlock(d.EntryBuffer), 0);
    EXPECT_EQ(State.EntryCursor, d.EntryBuffer);
    EXPECT_EQ(d.Decoded(), second);
    EXPECT_EQ(State.DirectoryPosition, (int32_t)(d.Offset + blockA.size() + blockB.size()));

    // Behind the last block the file ends inside the signature.
    EXPECT_EQ(ReadDirectoryBlock(d.EntryBuffer), ErrDamaged);
    EXPECT_EQ(State.EntryEnd, d.EntryBuffer);
}

TEST(Directory, DamagedBlocksAreRefused) {
    Bytes good = CompressedBlock(Entries(50, 3));
    {
        Bytes bad = good;
        bad[2] = 'X';
        Directory d(bad);
        EXPECT_EQ(ReadDirectoryBlock(d.EntryBuffer), ErrDamaged);
    }
    {
        Bytes bad = good;
        bad[6] = (uint8_t)((bad[6] & 0xF0) | 2);   // BlockType 2
        Directory d(bad);
        EXPECT_EQ(ReadDirectoryBlock(d.EntryBuffer), ErrDamaged);
    }
    {
        // Declares more than the EntryBuffer holds.
        Directory d(StoredBlock(Entries(100, 1), 8193));
        EXPECT_EQ(ReadDirectoryBlock(d.EntryBuffer), ErrDamaged);
        EXPECT_EQ(State.EntryEnd, d.EntryBuffer);
    }
    {
        // Ends inside the block header.
        Directory d(Bytes(good.begin(), good.begin() + 6 + 5));
        EXPECT_EQ(ReadDirectoryBlock(d.EntryBuffer), ErrDamaged);
    }
    {
        Directory d(StoredBlock(Entries(100, 1)));
        Profile.CancelRequested = 1;
        EXPECT_EQ(ReadDirectoryBlock(d.EntryBuffer), ErrCancelled);
        EXPECT_EQ(State.EntryEnd, d.EntryBuffer);
    }
}

TEST(Directory, CutBlocksDeliverOnlyTheBytesRead) {
    // The InputBuffer still holds bytes of an earlier, longer read: none of them may show.
    Bytes content = Entries(300, 5);
    {
        Bytes stored = StoredBlock(content);
        Directory d(Bytes(stored.begin(), stored.begin() + 6 + 7 + 100));
        memset(State.InputBuffer, 0x99, kInputBufferSize);
        ASSERT_EQ(ReadDirectoryBlock(d.EntryBuffer), 0);
        EXPECT_EQ(d.Decoded(), Bytes(content.begin(), content.begin() + 100));
        EXPECT_EQ(d.EntryBuffer[100], 0x3C);
    }
    {
        // Exactly the literals whose codes lie wholly in the bytes read come out.
        Bytes set = DefaultTableSet(300);
        Bytes compressed = CompressedBlock(content);
        for (size_t body : {1u, 2u, 40u, 250u}) {
            size_t cut = 6 + 6 + body;   // signature, 48 header bits, then body bytes from bit 50
            Directory d(Bytes(compressed.begin(), compressed.begin() + cut));
            memset(State.InputBuffer, 0x00, kInputBufferSize);   // zeros would decode as literals
            ASSERT_EQ(ReadDirectoryBlock(d.EntryBuffer), 0) << body;
            // 6 + body block bytes; the body begins at bit 50 with its 8-bit m/u byte.
            long bits = (long)(6 + body) * 8 - 50 - 8;
            size_t whole = 0;
            while (whole < content.size() && set[content[whole]] <= bits) bits -= set[content[whole++]];
            EXPECT_EQ(d.Decoded(), Bytes(content.begin(), content.begin() + whole)) << body;
        }
    }
    {
        // A stored block that reaches past the 8184 bytes read stops at them.
        Bytes stored = StoredBlock(Entries(8192, 7));
        Directory d(stored);
        ASSERT_EQ(ReadDirectoryBlock(d.EntryBuffer), 0);
        EXPECT_EQ(d.Decoded(), Bytes(stored.begin() + 13, stored.begin() + 6 + 8184));
    }
}

}  // namespace
