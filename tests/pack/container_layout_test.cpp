// The archive writer's layout, read back with the test's own parser on archives of stored
// blocks: header fields, streams and member records, directory blocks, filters, refusals.
#include <gtest/gtest.h>
#include <stdio.h>
#include <unistd.h>

#include <map>
#include <random>
#include <set>

#include "archive/dircheck.h"
#include "archive_walk.h"
#include "pack/container.h"

using namespace archive_walk;

namespace {

SourceEntry File(const std::string& name, std::vector<uint8_t> data, uint16_t attributes = 0x20) {
    SourceEntry e;
    e.Name = name;
    e.HasData = true;
    e.Size = data.size();
    e.Data = std::move(data);
    e.Attributes = attributes;
    e.WriteDate = 0x5A21;
    e.WriteTime = 0x6000;
    e.CreateDate = 0x5A20;
    e.CreateTime = 0x1234;
    return e;
}

SourceEntry Folder(const std::string& name) {
    SourceEntry e;
    e.Name = name;
    e.IsFolder = true;
    e.Attributes = 0x10;
    return e;
}

std::vector<uint8_t> Bytes(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> d(n);
    for (auto& b : d) b = (uint8_t)rng();
    return d;
}

// A minimal i386 PE image followed by call-dense code.
std::vector<uint8_t> PeImage(size_t size, uint16_t machine = 0x014C) {
    std::vector<uint8_t> d = Bytes(size, 99);
    d[0] = 'M';
    d[1] = 'Z';
    WriteLe32(&d[0x3C], 0x80);
    memcpy(&d[0x80], "PE\0\0", 4);
    WriteLe16(&d[0x84], machine);
    for (size_t i = 0x200; i + 5 < size; i += 9) {
        d[i] = 0xE8;
        WriteLe32(&d[i + 1], (uint32_t)(0x400 - i));   // calls to one function
    }
    return d;
}

PackOptions Stored() {
    PackOptions o;
    o.Encode.StoredOnly = true;
    return o;
}

void ExpectMembersMatch(const std::vector<uint8_t>& archive, const std::vector<SourceEntry>& in) {
    const Parsed p = ParseStored(archive);
    ASSERT_EQ(p.Error, "");
    ASSERT_EQ(p.Entries.size(), in.size());
    // Files of shared content come last in the directory: entries are matched by name.
    std::map<std::string, size_t> byName;
    for (size_t i = 0; i < in.size(); ++i) byName[in[i].Name] = i;
    std::map<std::pair<uint32_t, uint32_t>, int> namers;
    for (const Entry& e : p.Entries) {
        if (!(e.Fixed.Flags & FlagFolder)) ++namers[{e.Fixed.StreamOffset, e.Fixed.MemberOffset}];
    }
    for (const Entry& e : p.Entries) {
        ASSERT_EQ(byName.count(e.Name), 1u) << e.Name;
        const size_t i = byName[e.Name];
        EXPECT_EQ(e.Fixed.Attributes, in[i].Attributes);
        EXPECT_EQ((e.Fixed.Flags & FlagFolder) != 0, in[i].IsFolder);
        if (in[i].IsFolder) continue;
        EXPECT_EQ(e.Fixed.WriteDate, in[i].WriteDate);
        EXPECT_EQ(e.Fixed.WriteTime, in[i].WriteTime);
        EXPECT_EQ(e.Fixed.CreateDate, in[i].CreateDate);
        EXPECT_EQ(e.Fixed.CreateTime, in[i].CreateTime);
        EXPECT_EQ(e.Fixed.MemberSize, in[i].Data.size());
        std::string error;
        const bool shared = namers[{e.Fixed.StreamOffset, e.Fixed.MemberOffset}] > 1;
        const std::vector<uint8_t> bytes = Member(archive, e, &error, shared);
        EXPECT_EQ(error, "") << e.Name;
        EXPECT_EQ(bytes, in[i].Data) << e.Name;
    }
}

}  // namespace

TEST(ContainerLayout, HeaderStreamsAndEntries) {
    const std::vector<SourceEntry> in = {
        Folder("bin"), File("bin\\a.dat", Bytes(3000, 1)), File("bin\\empty", {}),
        Folder("bin\\sub"), File("readme.txt", Bytes(10, 2), 0x21),
    };
    const std::vector<uint8_t> a = BuildArchive(in, Stored());
    ArchiveHeader h;
    ReadArchiveHeader(a.data(), &h);
    EXPECT_EQ(memcmp(h.Magic, "QAR\n", 4), 0);
    EXPECT_EQ(h.EntryCount, 5u);
    EXPECT_EQ(h.ArchiveSize, a.size());
    EXPECT_EQ(h.StreamsSize, h.DirectoryOffset - 42);
    EXPECT_EQ(h.ArchiverWord, kArchiverWord);
    // Reserved bytes carry the directory's checks (archive/dircheck.h); the others stay zero.
    HeaderChecks checks;
    ReadHeaderCheck(a.data(), &checks);
    EXPECT_EQ(checks.Status, kHeaderChecked);
    EXPECT_EQ(checks.NameCodePage, 1252);
    for (size_t i : {18, 19, 36, 37, 38, 39}) EXPECT_EQ(a[i], 0) << i;
    EXPECT_EQ(memcmp(&a[42], "QARLH\0", 6), 0);
    ExpectMembersMatch(a, in);

    // One stream: members back to back, each behind the previous one's DataCrc.
    const Parsed p = ParseStored(a);
    EXPECT_EQ(p.Entries[1].Fixed.StreamOffset, 42u);
    EXPECT_EQ(p.Entries[1].Fixed.MemberOffset, 0u);
    EXPECT_EQ(p.Entries[2].Fixed.MemberOffset, 11u + 9 + 3000 + 4);
    EXPECT_EQ(p.Entries[2].Fixed.MemberCrc, 0u);   // CRC-32 of no bytes
    EXPECT_EQ(p.Entries[4].Fixed.MemberOffset, p.Entries[2].Fixed.MemberOffset + 11 + 9 + 0 + 4);

    // Same input, same bytes; and the same archive behind a stub, offsets unchanged.
    EXPECT_EQ(BuildArchive(in, Stored()), a);
    FILE* f = tmpfile();
    ASSERT_NE(f, nullptr);
    fwrite("STUB", 1, 4, f);
    EXPECT_EQ(WriteArchiveFile(in, Stored(), f), a.size());
    std::vector<uint8_t> back(4 + a.size() + 1);
    rewind(f);
    EXPECT_EQ(fread(back.data(), 1, back.size(), f), 4 + a.size());
    fclose(f);
    EXPECT_EQ(std::vector<uint8_t>(back.begin() + 4, back.begin() + 4 + a.size()), a);
}

TEST(ContainerLayout, FoldersOnlyAndNothingAtAll) {
    const std::vector<uint8_t> folders = BuildArchive({Folder("a"), Folder("a\\b")}, Stored());
    ArchiveHeader h;
    ReadArchiveHeader(folders.data(), &h);
    EXPECT_EQ(h.DirectoryOffset, 42u);   // no stream is needed
    ExpectMembersMatch(folders, {Folder("a"), Folder("a\\b")});

    const std::vector<uint8_t> none = BuildArchive({}, Stored());
    ASSERT_EQ(none.size(), 42u);
    ReadArchiveHeader(none.data(), &h);
    EXPECT_EQ(h.EntryCount, 0u);
    EXPECT_EQ(h.ArchiveSize, 42u);
}

TEST(ContainerLayout, StreamsStartAfterTheConfiguredSize) {
    std::vector<SourceEntry> in;
    for (int i = 0; i < 7; ++i) in.push_back(File("f" + std::to_string(i), Bytes(60, i)));
    PackOptions o = Stored();
    o.StreamSize = 100;   // two 60-byte members reach it
    std::vector<uint8_t> a = BuildArchive(in, o);
    Parsed p = ParseStored(a);
    ASSERT_EQ(p.Error, "");
    std::vector<uint32_t> streams;
    for (const Entry& e : p.Entries) {
        if (streams.empty() || streams.back() != e.Fixed.StreamOffset) {
            streams.push_back(e.Fixed.StreamOffset);
            EXPECT_EQ(e.Fixed.MemberOffset, 0u);
        }
    }
    EXPECT_EQ(streams.size(), 4u);   // 2 + 2 + 2 + 1
    EXPECT_EQ(streams.front(), 42u);
    ExpectMembersMatch(a, in);
    // Streams compressed on worker threads land in the same places.
    for (int threads : {1, 3}) {
        o.Threads = threads;
        EXPECT_EQ(BuildArchive(in, o), a) << threads;
    }

    o.StreamSize = 0;   // solid
    p = ParseStored(BuildArchive(in, o));
    for (const Entry& e : p.Entries) EXPECT_EQ(e.Fixed.StreamOffset, 42u);
}

TEST(ContainerLayout, DirectoryOfManyBlocksHoldsWholeEntries) {
    std::vector<SourceEntry> in;
    for (int i = 0; i < 300; ++i) {
        std::string name = "folder\\" + std::string(150 + i % 100, 'a' + i % 26) + std::to_string(i);
        in.push_back(i % 10 ? File(name, Bytes(i % 5, i)) : Folder(name));
    }
    const std::vector<uint8_t> a = BuildArchive(in, Stored());
    const Parsed p = ParseStored(a);
    ASSERT_EQ(p.Error, "");
    EXPECT_GT(p.Blocks.size(), 8u);
    for (const DirectoryBlockInfo& b : p.Blocks) {
        EXPECT_LE(b.DecodedSize, 8192u);
        EXPECT_LE(b.Bytes, 8184u);
    }
    // Blocks are filled: the first entry of each block would not have fit the one before.
    for (size_t i = 1; i < p.Entries.size(); ++i) {
        if (p.Entries[i].Block == p.Entries[i - 1].Block) continue;
        const uint32_t before = p.Blocks[p.Entries[i - 1].Block].DecodedSize;
        EXPECT_GT(7 + before + 38 + p.Entries[i].Name.size(), 8184u) << i;
    }
    ExpectMembersMatch(a, in);
}

// Files of one content are stored once, in a stream apart, their entries side by side at the
// end of the directory naming that member. Same size and CRC-32 do not make one content.
TEST(ContainerLayout, IdenticalContentsStoredOnce) {
    const std::vector<uint8_t> x = Bytes(5000, 7);
    std::vector<uint8_t> twin = x;   // XORing a multiple of the CRC polynomial keeps the CRC
    const uint8_t multiple[5] = {0x41, 0x06, 0x71, 0xDB, 0x01};
    for (int k = 0; k < 5; ++k) twin[100 + k] ^= multiple[k];
    const std::vector<SourceEntry> in = {
        Folder("d"), File("d\\a", x), File("d\\u", Bytes(3000, 8)), File("d\\b", x),
        File("d\\twin", twin), File("e", x), File("z", {}), File("z2", {}),
    };
    PackOptions o = Stored();
    const std::vector<uint8_t> a = BuildArchive(in, o);
    ExpectMembersMatch(a, in);
    const Parsed p = ParseStored(a);
    std::vector<std::string> names;
    for (const Entry& e : p.Entries) names.push_back(e.Name);
    EXPECT_EQ(names, (std::vector<std::string>{"d", "d\\u", "d\\twin", "z", "z2", "d\\a", "d\\b", "e"}));
    for (int i = 6; i < 8; ++i) {
        EXPECT_EQ(p.Entries[i].Fixed.StreamOffset, p.Entries[5].Fixed.StreamOffset);
        EXPECT_EQ(p.Entries[i].Fixed.MemberOffset, p.Entries[5].Fixed.MemberOffset);
    }
    EXPECT_NE(p.Entries[5].Fixed.StreamOffset, p.Entries[1].Fixed.StreamOffset);
    EXPECT_LT(a.size(), 2 * x.size() + 3000 + 1000);
}

TEST(ContainerLayout, CallFiltersByChoice) {
    const std::vector<uint8_t> pe = PeImage(20000);
    const std::vector<uint8_t> amd64 = PeImage(20000, 0x8664);
    const std::vector<uint8_t> text = Bytes(20000, 5);
    const std::vector<SourceEntry> in = {File("x.exe", pe), File("y.dll", amd64), File("z.bin", text)};
    struct Case {
        FilterChoice Choice;
        uint8_t Expected[3];
    } cases[] = {
        {FilterChoice::Auto, {FlagCallFilter32, FlagCallFilter32, 0}},   // x86 and x86-64 images
        {FilterChoice::None, {0, 0, 0}},
        {FilterChoice::X86_32, {FlagCallFilter32, FlagCallFilter32, FlagCallFilter32}},
        {FilterChoice::X86_16, {FlagCallFilter16, FlagCallFilter16, FlagCallFilter16}},
    };
    for (const Case& c : cases) {
        PackOptions o = Stored();
        o.Filter = c.Choice;
        const std::vector<uint8_t> a = BuildArchive(in, o);
        const Parsed p = ParseStored(a);
        ASSERT_EQ(p.Error, "");
        for (int i = 0; i < 3; ++i) EXPECT_EQ(p.Entries[i].Fixed.Flags, c.Expected[i]) << i;
        ExpectMembersMatch(a, in);
    }
    // The filter really rewrote the calls of the PE image inside the stream.
    PackOptions o = Stored();
    const std::vector<uint8_t> a = BuildArchive({File("x.exe", pe)}, o);
    const std::vector<uint8_t> haystack(a.begin() + 48 + 6 + 11 + 5, a.begin() + 48 + 6 + 11 + 5 + 20000);
    EXPECT_NE(haystack, pe);
}

TEST(ContainerLayout, Refusals) {
    EXPECT_THROW(BuildArchive({File(std::string(260, 'n'), {1})}, Stored()), PackError);
    EXPECT_NO_THROW(BuildArchive({File(std::string(259, 'n'), {1})}, Stored()));
    EXPECT_THROW(BuildArchive({File("", {1})}, Stored()), PackError);

    SourceEntry missing;
    missing.Name = "gone";
    missing.Path = "/nonexistent/qar-test/gone";
    try {
        BuildArchive({missing}, Stored());
        FAIL() << "no error";
    } catch (const PackError& e) {
        EXPECT_NE(std::string(e.what()).find("/nonexistent/qar-test/gone"), std::string::npos);
    }

    // A file whose size changed since the walk is refused rather than packed inconsistently.
    char path[] = "/tmp/qar-container-XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, "hello", 5), 5);
    close(fd);
    SourceEntry changed;
    changed.Name = "hello";
    changed.Path = path;
    changed.Size = 4;
    EXPECT_THROW(BuildArchive({changed}, Stored()), PackError);
    changed.Size = 5;
    const std::vector<uint8_t> a = BuildArchive({changed}, Stored());
    unlink(path);
    std::string error;
    EXPECT_EQ(Member(a, ParseStored(a).Entries.at(0), &error), std::vector<uint8_t>({'h', 'e', 'l', 'l', 'o'}));
}

TEST(ContainerLayout, ProgressReportsEveryStream) {
    std::vector<SourceEntry> in;
    for (int i = 0; i < 5; ++i) in.push_back(File("f" + std::to_string(i), Bytes(1000, i)));
    PackOptions o = Stored();
    o.StreamSize = 2000;
    std::vector<PackProgress> seen;
    o.Progress = [&seen](const PackProgress& p) { seen.push_back(p); };
    PackMeter meter;
    o.Meter = &meter;
    const std::vector<uint8_t> a = BuildArchive(in, o);
    // The meter counted every decoded byte of the streams: the members' records.
    EXPECT_EQ(meter.Total, 5 * (kLocalHeaderSize + 2 + 1000 + 4));
    EXPECT_EQ(meter.Done.load(), meter.Total.load());
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[0].FilesDone, 2u);
    EXPECT_EQ(seen.back().FilesDone, 5u);
    EXPECT_EQ(seen.back().FilesTotal, 5u);
    EXPECT_EQ(seen.back().BytesIn, 5000u);
    EXPECT_EQ(seen.back().BytesInTotal, 5000u);
    EXPECT_LT(seen.back().BytesOut, a.size());
}
