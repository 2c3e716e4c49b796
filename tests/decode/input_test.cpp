// The InputBuffer: block starts, refills across the fill boundary, stored blocks, and the
// file running out, always handing out only bytes read for the current block.
#include <gtest/gtest.h>
#include <string.h>

#include <vector>

#include "decode/input.h"
#include "platform/errors.h"
#include "profile/profile.h"
#include "profile/state.h"
#include "tests/support/archive_input.h"
#include "tests/support/bit_writer.h"

namespace {

typedef std::vector<uint8_t> Bytes;

// A stored block of blockSize bytes in all whose bytes behind the header count 0, 1, 2, ...
// (DecodedSize as given, normally blockSize - 6).
Bytes StoredBlock(uint32_t blockSize, uint32_t decodedSize, bool last = false) {
    BitWriter w;
    PutBlockHeader(w, 0, last, decodedSize, blockSize);
    Bytes block = w.Bytes();
    block.resize(6);
    for (uint32_t i = 6; i < blockSize; ++i) block.push_back((uint8_t)(i * 7 + 3));
    return block;
}
Bytes StoredBlock(uint32_t blockSize) { return StoredBlock(blockSize, blockSize - 6); }

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

// Moves past the 45 header bits, as the member extractor does before CopyStored.
void SkipHeader() {
    State.InputPointer = State.InputBuffer + 5;
    State.BitOffset = 5;
}

TEST(Input, FillBoundaryAt61432Bytes) {
    {
        Bytes block = StoredBlock(61432);
        ArchiveInput input(block);
        ASSERT_EQ(RefillInput(true), 0);
        EXPECT_EQ(State.BlockBytesLeft, 0u);
        EXPECT_EQ(State.InputEnd, State.InputBuffer + 61432);
        EXPECT_EQ(State.InputPointer, State.InputBuffer);
        EXPECT_EQ(State.NextBlockPosition, 61432);
        EXPECT_EQ(0, memcmp(State.InputBuffer, block.data(), block.size()));
    }
    {
        Bytes block = StoredBlock(61433);
        ArchiveInput input(block);
        ASSERT_EQ(RefillInput(true), 0);
        EXPECT_EQ(State.BlockBytesLeft, 1u);
        EXPECT_EQ(State.InputEnd, State.InputBuffer + 61424);
        // A decoder that ran 3 bytes and 5 bits past InputEnd continues at the same bit.
        State.InputPointer = State.InputEnd + 3;
        State.BitOffset = 5;
        ASSERT_EQ(RefillInput(false), 0);
        EXPECT_EQ(State.InputPointer, State.InputBuffer + 3);
        EXPECT_EQ(State.BitOffset, 5);
        EXPECT_EQ(0, memcmp(State.InputBuffer, block.data() + 61424, 9));
        EXPECT_EQ(State.InputEnd, State.InputBuffer + 9);
        EXPECT_EQ(State.BlockBytesLeft, 0u);
        State.InputPointer = State.InputEnd;
        EXPECT_EQ(RefillInput(false), ErrInputExhausted);
    }
}

TEST(Input, ShortBlocksTakeNoByteOfTheNextBlock) {
    for (uint32_t size : {6u, 7u, 8u}) {
        Bytes first = StoredBlock(size);
        Bytes second = StoredBlock(20);
        ArchiveInput input(Concat({first, second}));
        ASSERT_EQ(RefillInput(true), 0);
        EXPECT_EQ(State.InputEnd, State.InputBuffer + size) << size;
        EXPECT_EQ(State.FilePosition, (int32_t)size);
        // Asking for more than the block holds gives only its own bytes.
        SkipHeader();
        uint8_t out[8];
        memset(out, 0x55, sizeof out);
        EXPECT_EQ(CopyStored(out, 4), (int32_t)(size - 6)) << size;
        for (uint32_t i = 0; i < size - 6; ++i) EXPECT_EQ(out[i], first[6 + i]);
        EXPECT_EQ(out[size - 6], 0x55);
        // The next block is found where it begins.
        State.Stream.StreamStarted = 1;
        ASSERT_EQ(RefillInput(true), 0);
        EXPECT_EQ(0, memcmp(State.InputBuffer, second.data(), second.size())) << size;
    }
}

TEST(Input, StoredBlocks) {
    // DecodedSize 0: nothing is delivered and nothing is read behind the header.
    {
        ArchiveInput input(Concat({StoredBlock(6), StoredBlock(100)}));
        ASSERT_EQ(RefillInput(true), 0);
        SkipHeader();
        uint8_t out[1];
        EXPECT_EQ(CopyStored(out, 0), 0);
        EXPECT_EQ(State.FilePosition, 6);
    }
    // Larger than the buffer: the buffered part is copied, the rest read straight into place,
    // and the file then stands at the next block.
    {
        Bytes big = StoredBlock(100006);
        Bytes next = StoredBlock(30);
        ArchiveInput input(Concat({big, next}));
        ASSERT_EQ(RefillInput(true), 0);
        SkipHeader();
        Bytes out(100000);
        ASSERT_EQ(CopyStored(out.data(), 100000), 100000);
        EXPECT_EQ(0, memcmp(out.data(), big.data() + 6, 100000));
        EXPECT_EQ(State.FilePosition, 100006);
        State.Stream.StreamStarted = 1;
        State.NextBlockPosition = State.FilePosition;
        ASSERT_EQ(RefillInput(true), 0);
        EXPECT_EQ(0, memcmp(State.InputBuffer, next.data(), next.size()));
    }
    // Cancel is seen after the buffered bytes were copied.
    {
        ArchiveInput input(StoredBlock(100));
        ASSERT_EQ(RefillInput(true), 0);
        SkipHeader();
        Profile.CancelRequested = 1;
        uint8_t out[94];
        EXPECT_EQ(CopyStored(out, 94), ErrCancelled);
    }
}

TEST(Input, DamagedFraming) {
    // The file ends inside the header, or the header claims a block shorter than itself.
    {
        ArchiveInput input(Bytes{1, 2, 3, 4, 5});
        EXPECT_EQ(RefillInput(true), ErrDamaged);
    }
    {
        Bytes block = StoredBlock(20);
        SetBlockSize(block, 5);
        ArchiveInput input(block);
        EXPECT_EQ(RefillInput(true), ErrDamaged);
    }
    // A failing read is passed up as -1 and leaves FilePosition alone.
    {
        ArchiveInput input(StoredBlock(20));
        FileHandle saved = State.ArchiveFile;
        State.ArchiveFile = kInvalidHandle;
        uint8_t b[4];
        EXPECT_EQ(ReadArchive(b, 4), -1);
        EXPECT_EQ(RefillInput(true), -1);
        EXPECT_EQ(State.FilePosition, 0);
        State.ArchiveFile = saved;
    }
}

TEST(Input, FileEndingInsideABlockStopsTheRefillsAfterTheLastBytes) {
    Bytes block = StoredBlock(200000);
    Bytes file(block.begin(), block.begin() + 70000);
    ArchiveInput input(file);
    ASSERT_EQ(RefillInput(true), 0);
    int calls = 0;
    int32_t r = 0;
    size_t delivered = State.InputEnd - State.InputBuffer;
    while (r == 0 && calls < 10) {
        State.InputPointer = State.InputEnd;
        r = RefillInput(false);
        ++calls;
        if (r == 0) delivered += State.InputEnd - State.InputBuffer;   // carried bytes included
    }
    EXPECT_EQ(r, ErrInputExhausted);
    EXPECT_LE(calls, 3);
    // Every byte of the file was made available before InputEnd exactly once, the last 8
    // through the final carry.
    EXPECT_EQ(delivered, file.size());
    EXPECT_EQ(0, memcmp(State.InputBuffer, file.data() + file.size() - 8, 8));
}

TEST(Input, StartSeeksBackWhenTheFileWasMovedAndRefillPollsCancel) {
    {
        Bytes a = StoredBlock(10);
        Bytes b = StoredBlock(12);
        ArchiveInput input(Concat({a, b, Bytes(50, 0x11)}));
        ASSERT_EQ(RefillInput(true), 0);
        State.Stream.StreamStarted = 1;
        // Someone else reads further on.
        uint8_t scratch[20];
        ASSERT_EQ(ReadArchive(scratch, 20), 20);
        ASSERT_EQ(RefillInput(true), 0);
        EXPECT_EQ(0, memcmp(State.InputBuffer, b.data(), b.size()));
        EXPECT_EQ(State.FilePosition, 22);
    }
    Bytes big = StoredBlock(70000);
    ArchiveInput second(big);
    ASSERT_EQ(RefillInput(true), 0);
    Profile.CancelRequested = 1;
    State.InputPointer = State.InputEnd;
    EXPECT_EQ(RefillInput(false), ErrCancelled);
}

}  // namespace
