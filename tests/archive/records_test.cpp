// Container records: field positions in the bytes, round trips, block header bits and DOS
// date/time conversion.
#include <gtest/gtest.h>
#include <string.h>

#include <random>
#include <vector>

#include "archive/dircheck.h"
#include "archive/records.h"

namespace {

// Packs value into bits [first, first + count) of bytes, least significant bit first: an
// encoder written independently of the reader's shifts and masks.
void PutBits(std::vector<uint8_t>& bytes, uint32_t first, uint32_t count, uint32_t value) {
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t bit = first + i;
        if ((value >> i) & 1) bytes[bit / 8] |= (uint8_t)(1u << (bit % 8));
    }
}

}  // namespace

TEST(Records, Signatures) {
    EXPECT_EQ(0, memcmp(kArchiveMagic, "QAR\n", 4));
    EXPECT_EQ(0, memcmp(kStreamMarker, "QARLH\0", 6));
    EXPECT_EQ(0, memcmp(kDirectorySignature, "QARDE\0", 6));
}

TEST(Records, ArchiveHeaderFieldsAndReservedBytes) {
    ArchiveHeader header;
    memcpy(header.Magic, kArchiveMagic, 4);
    header.DirectoryOffset = 68212;
    header.EntryCount = 2;
    header.ArchiveSize = 68308;
    header.StreamsSize = 68170;
    header.ArchiverWord = 0x70DC;
    std::vector<uint8_t> bytes(kArchiveHeaderSize + 2, 0xEE);
    WriteArchiveHeader(header, bytes.data());
    const uint8_t expected[42] = {
        'Q', 'A', 'R', '\n', 0x74, 0x0A, 0x01, 0x00, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
        0xD4, 0x0A, 0x01, 0x00, 0x4A, 0x0A, 0x01, 0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
        0xDC, 0x70};
    EXPECT_EQ(0, memcmp(bytes.data(), expected, 42));
    EXPECT_EQ(bytes[42], 0xEE) << "written past the header";

    // Reading ignores the reserved bytes and the magic is taken as it stands.
    bytes[0] = 'X';
    bytes[13] = bytes[30] = 0x55;
    ArchiveHeader read;
    ReadArchiveHeader(bytes.data(), &read);
    EXPECT_EQ(read.Magic[0], 'X');
    EXPECT_EQ(read.DirectoryOffset, 68212u);
    EXPECT_EQ(read.EntryCount, 2u);
    EXPECT_EQ(read.ArchiveSize, 68308u);
    EXPECT_EQ(read.StreamsSize, 68170u);
    EXPECT_EQ(read.ArchiverWord, 0x70DC);
}

TEST(Records, LocalHeaderLayout) {
    const uint8_t bytes[11] = {0x00, 0xC2, 0x01, 0x00, 11, 0, 0x5A, 0x20, 0x34, 0x12, 0x04};
    LocalHeader header;
    ReadLocalHeader(bytes, &header);
    EXPECT_EQ(header.MemberSize, 115200u);
    EXPECT_EQ(header.VariableLength, 11);
    EXPECT_EQ(header.Reserved6, 0x205A);
    EXPECT_EQ(header.Reserved8, 0x1234);
    EXPECT_EQ(header.Flags, FlagCallFilter32);
    uint8_t again[12];
    again[11] = 0xEE;
    WriteLocalHeader(header, again);
    EXPECT_EQ(0, memcmp(bytes, again, 11));
    EXPECT_EQ(again[11], 0xEE);
}

TEST(Records, DirectoryEntryLayout) {
    // Each field gets a value whose bytes name their own offsets, so a field read from the
    // wrong place or in the wrong order shows.
    uint8_t bytes[kEntryFixedSize + 1];
    for (uint32_t i = 0; i < sizeof bytes; ++i) bytes[i] = (uint8_t)(0x40 + i);
    DirectoryEntry e;
    ReadDirectoryEntry(bytes, &e);
    EXPECT_EQ(e.Reserved0, 0x43424140u);
    EXPECT_EQ(e.StreamOffset, 0x47464544u);
    EXPECT_EQ(e.Attributes, 0x4948);
    EXPECT_EQ(e.ExtraLengthByte, 0x4A);
    EXPECT_EQ(e.Flags, 0x4B);
    EXPECT_EQ(e.MemberOffset, 0x4F4E4D4Cu);
    EXPECT_EQ(e.MemberSize, 0x53525150u);
    EXPECT_EQ(e.MemberCrc, 0x57565554u);
    EXPECT_EQ(e.ExtraLengthWord, 0x5958);
    EXPECT_EQ(e.NameLength, 0x5B5A);
    EXPECT_EQ(e.CreateTime, 0x5D5C);
    EXPECT_EQ(e.CreateDate, 0x5F5E);
    EXPECT_EQ(e.WriteTime, 0x6160);
    EXPECT_EQ(e.WriteDate, 0x6362);
    EXPECT_EQ(e.Reserved36, 0x6564);
    uint8_t again[kEntryFixedSize + 1];
    again[kEntryFixedSize] = 0xEE;
    WriteDirectoryEntry(e, again);
    EXPECT_EQ(0, memcmp(bytes, again, kEntryFixedSize));
    EXPECT_EQ(again[kEntryFixedSize], 0xEE);
}

TEST(Records, BlockHeaderBits) {
    std::mt19937 random(2);
    struct Fields {
        uint32_t Type, Last, Decoded, Size;
    };
    std::vector<Fields> cases = {{0, 0, 0, 0},
                                 {1, 1, 1048575, 1048575},
                                 {15, 0, 98, 90},
                                 {1, 1, 134719, 68164},
                                 {0, 1, 0, 6}};
    for (int i = 0; i < 500; ++i) {
        uint32_t a = (uint32_t)random(), b = (uint32_t)random();
        cases.push_back({a & 15, (a >> 4) & 1, b & 0xFFFFF, (uint32_t)random() & 0xFFFFF});
    }
    for (const Fields& f : cases) {
        for (uint8_t fill : {0x00, 0xFF}) {
            // Bits 45.. belong to what follows the header; set them to show they are ignored.
            std::vector<uint8_t> bytes(8, 0);
            PutBits(bytes, 0, 4, f.Type);
            PutBits(bytes, 4, 1, f.Last);
            PutBits(bytes, 5, 20, f.Decoded);
            PutBits(bytes, 25, 20, f.Size);
            PutBits(bytes, 45, 19, fill ? 0x7FFFF : 0);
            // Only the first 6 bytes are needed: the header may end a buffer.
            std::vector<uint8_t> six(bytes.begin(), bytes.begin() + 6);
            BlockHeader h;
            ReadBlockHeader(six.data(), &h);
            EXPECT_EQ(h.BlockType, f.Type);
            EXPECT_EQ(h.LastBlock, f.Last);
            EXPECT_EQ(h.DecodedSize, f.Decoded);
            EXPECT_EQ(h.BlockSize, f.Size);
        }
    }
}

TEST(DosTime, ExampleBothWays) {
    CivilTime c;
    DosToCivil(0x291F, 0xAEAE, &c);
    EXPECT_EQ(c.Year, 2000);
    EXPECT_EQ(c.Month, 8);
    EXPECT_EQ(c.Day, 31);
    EXPECT_EQ(c.Hour, 21);
    EXPECT_EQ(c.Minute, 53);
    EXPECT_EQ(c.Second, 28);
    uint16_t date = 0, time = 0;
    CivilToDos(CivilTime{2000, 8, 31, 21, 53, 28}, &date, &time);
    EXPECT_EQ(date, 0x291F);
    EXPECT_EQ(time, 0xAEAE);
    // Odd seconds round down to even.
    CivilToDos(CivilTime{2000, 8, 31, 21, 53, 29}, &date, &time);
    EXPECT_EQ(time, 0xAEAE);
}

TEST(DosTime, RangeEnds) {
    uint16_t date, time;
    CivilTime c;
    CivilToDos(CivilTime{1980, 1, 1, 0, 0, 0}, &date, &time);
    EXPECT_EQ(date, 0x0021);
    EXPECT_EQ(time, 0);
    CivilToDos(CivilTime{2107, 12, 31, 23, 59, 59}, &date, &time);
    DosToCivil(date, time, &c);
    EXPECT_EQ(c.Year, 2107);
    EXPECT_EQ(c.Second, 58);
    // Moments outside the range become the nearest end of it.
    CivilToDos(CivilTime{1979, 12, 31, 23, 59, 58}, &date, &time);
    EXPECT_EQ(date, 0x0021);
    EXPECT_EQ(time, 0);
    CivilToDos(CivilTime{1970, 6, 15, 12, 0, 0}, &date, &time);
    EXPECT_EQ(date, 0x0021);
    CivilToDos(CivilTime{2200, 1, 1, 0, 0, 0}, &date, &time);
    DosToCivil(date, time, &c);
    EXPECT_EQ(c.Year, 2107);
    EXPECT_EQ(c.Month, 12);
    EXPECT_EQ(c.Day, 31);
    EXPECT_EQ(c.Hour, 23);
    EXPECT_EQ(c.Minute, 59);
    EXPECT_EQ(c.Second, 58);
}

TEST(DosTime, EveryValidWordSurvivesARoundTrip) {
    for (uint32_t year = 0; year < 128; year += 9) {
        for (uint32_t month = 1; month <= 12; ++month) {
            for (uint32_t day = 1; day <= 31; day += 5) {
                const uint16_t date = (uint16_t)((year << 9) | (month << 5) | day);
                for (uint32_t t = 0; t < 0x10000; t += 0x0B5) {
                    if ((t >> 11) > 23 || ((t >> 5) & 63) > 59 || (t & 31) > 29) continue;
                    CivilTime c;
                    DosToCivil(date, (uint16_t)t, &c);
                    uint16_t d2, t2;
                    CivilToDos(c, &d2, &t2);
                    ASSERT_EQ(d2, date);
                    ASSERT_EQ(t2, t);
                }
            }
        }
    }
}

// The directory's check values: a sealed header is recognised as such, and any single
// changed bit of it, the tag included, is damage rather than a header without checks; the
// reserved bytes of another writer's header are never taken for checks; an entry's check
// holds only at its own index and for its own bytes.
TEST(DirectoryChecks, HeaderAndEntrySeals) {
    ArchiveHeader header = {};
    memcpy(header.Magic, kArchiveMagic, 4);
    header.DirectoryOffset = 5000;
    header.EntryCount = 70;
    header.ArchiveSize = 6000;
    header.StreamsSize = 4958;
    uint8_t bytes[kArchiveHeaderSize];
    WriteArchiveHeader(header, bytes);
    HeaderChecks checks;
    ReadHeaderCheck(bytes, &checks);
    EXPECT_EQ(checks.Status, kHeaderUnchecked);
    SealHeader(bytes, 1251, 0x12345678u);
    ReadHeaderCheck(bytes, &checks);
    EXPECT_EQ(checks.Status, kHeaderChecked);
    EXPECT_EQ(checks.NameCodePage, 1251);
    EXPECT_EQ(checks.DirectoryCrc, 0x12345678u);
    ArchiveHeader again;
    ReadArchiveHeader(bytes, &again);
    EXPECT_EQ(again.DirectoryOffset, 5000u);
    EXPECT_EQ(again.EntryCount, 70u);
    for (uint32_t bit = 0; bit < kArchiveHeaderSize * 8; ++bit) {
        uint8_t flipped[kArchiveHeaderSize];
        memcpy(flipped, bytes, sizeof flipped);
        flipped[bit / 8] ^= (uint8_t)(1u << (bit % 8));
        ReadHeaderCheck(flipped, &checks);
        ASSERT_EQ(checks.Status, kHeaderDamaged) << "bit " << bit;
    }

    std::mt19937 random(9);
    WriteArchiveHeader(header, bytes);
    for (int i = 0; i < 20000; ++i) {
        for (uint32_t at = 12; at < 40; ++at) {
            if (at < 20 || at >= 28) bytes[at] = (uint8_t)random();
        }
        ReadHeaderCheck(bytes, &checks);
        ASSERT_NE(checks.Status, kHeaderChecked) << i;
    }

    std::vector<uint8_t> entry(kEntryFixedSize + 9);
    for (size_t i = 0; i < entry.size(); ++i) entry[i] = (uint8_t)(i * 7);
    SealEntry(3, entry.data(), (uint32_t)entry.size());
    DirectoryCheck walk = {3, 0xFFFFFFFFu};
    EXPECT_TRUE(CheckDirectoryEntry(&walk, entry.data(), (uint32_t)entry.size()));
    EXPECT_FALSE(CheckDirectoryEntry(&walk, entry.data(), (uint32_t)entry.size())) << "index 4";
    for (uint32_t bit = 0; bit < entry.size() * 8; ++bit) {
        std::vector<uint8_t> flipped = entry;
        flipped[bit / 8] ^= (uint8_t)(1u << (bit % 8));
        walk = {3, 0xFFFFFFFFu};
        ASSERT_FALSE(CheckDirectoryEntry(&walk, flipped.data(), (uint32_t)flipped.size())) << "bit " << bit;
    }
}
