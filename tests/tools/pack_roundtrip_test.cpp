// Archives built by the writer from members in memory, read back through the core's own
// directory reader and member extraction: shapes a tree on disk cannot easily give
// (hundreds of streams, directories of incompressible names, every data class at the
// extremes of the levels).
#include <gtest/gtest.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <map>
#include <random>

#include "decode/crc32.h"
#include "decode/member.h"
#include "decode/work_limit.h"
#include "pack/container.h"
#include "platform/fs.h"
#include "profile/state.h"
#include "tools/archive_session.h"

namespace {

struct Member {
    std::string Name;
    bool IsFolder;
    std::vector<uint8_t> Data;
};

SourceEntry Entry(const std::string& name, const std::vector<uint8_t>& data, bool folder = false) {
    SourceEntry e;
    e.Name = name;
    e.IsFolder = folder;
    e.HasData = !folder;
    e.Data = data;
    e.Size = data.size();
    e.Attributes = folder ? 0x10 : 0x20;
    return e;
}

// Writes the archive to a file and reads every entry back through the core.
std::vector<Member> ReadBack(const std::vector<uint8_t>& archive, std::string* error) {
    char path[] = "/tmp/qar-roundtrip-XXXXXX";
    const int fd = mkstemp(path);
    EXPECT_EQ(write(fd, archive.data(), archive.size()), (ssize_t)archive.size());
    close(fd);
    const std::string member = std::string(path) + ".member";
    std::vector<Member> out;
    ArchiveFileInfo info;
    if (!OpenArchiveForCore("test", path, &info) || !AllocateInput()) {
        *error = "cannot open";
        unlink(path);
        return out;
    }
    const int32_t r = WalkDirectory([&](const DirectoryEntry& e, const std::string& name) {
        Member m{name, (e.Flags & FlagFolder) != 0, {}};
        if (!m.IsFolder) {
            FileHandle h = FsCreate(member.c_str(), kAttrNormal);
            const int32_t code = ExtractMember(h, e.StreamOffset, e.MemberOffset, e.MemberSize, e.Flags);
            FsClose(h);
            if (code != 0 || State.RunningCrc != e.MemberCrc) {
                *error = name + ": code " + std::to_string(code) + ", CRC " +
                         (State.RunningCrc == e.MemberCrc ? "equal" : "different");
                return false;
            }
            FILE* f = fopen(member.c_str(), "rb");
            m.Data.resize(e.MemberSize + 1);
            m.Data.resize(fread(m.Data.data(), 1, m.Data.size(), f));
            fclose(f);
        }
        out.push_back(std::move(m));
        return true;
    });
    if (r != 0 && error->empty()) *error = "directory walk ended with " + std::to_string(r);
    ReleaseStream();
    ReleaseInput();
    CloseArchiveForCore();
    unlink(member.c_str());
    unlink(path);
    return out;
}

void ExpectRoundTrip(const std::vector<SourceEntry>& in, const PackOptions& options) {
    const std::vector<uint8_t> archive = BuildArchive(in, options);
    std::string error;
    const std::vector<Member> back = ReadBack(archive, &error);
    ASSERT_EQ(error, "");
    ASSERT_EQ(back.size(), in.size());
    // Files of shared content come last in the directory: entries are matched by name.
    std::map<std::string, const SourceEntry*> byName;
    for (const SourceEntry& e : in) byName[e.Name] = &e;
    for (const Member& m : back) {
        ASSERT_EQ(byName.count(m.Name), 1u) << m.Name;
        EXPECT_EQ(m.IsFolder, byName[m.Name]->IsFolder);
        EXPECT_TRUE(m.Data == byName[m.Name]->Data) << m.Name;
    }
}

std::vector<uint8_t> Random(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> d(n);
    for (auto& b : d) b = (uint8_t)rng();
    return d;
}

// x86-like code: an i386 PE header, then instructions with dense relative calls.
std::vector<uint8_t> Code(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> d(n, 0x90);
    d[0] = 'M';
    d[1] = 'Z';
    d[0x3C] = 0x80;
    d[0x80] = 'P';
    d[0x81] = 'E';
    d[0x84] = 0x4C;
    d[0x85] = 0x01;
    static const uint8_t ops[] = {0x55, 0x8B, 0xEC, 0x83, 0xEC, 0x10, 0x89, 0x45, 0xFC, 0x33, 0xC0};
    for (size_t i = 0x200; i + 16 < n;) {
        if (rng() % 3 == 0) {
            const uint32_t target = (uint32_t)(rng() % 64) * 256;
            const uint32_t rel = target - (uint32_t)(i + 5);
            d[i] = 0xE8;
            for (int k = 0; k < 4; ++k) d[i + 1 + k] = (uint8_t)(rel >> (8 * k));
            i += 5;
        } else {
            d[i++] = ops[rng() % sizeof ops];
        }
    }
    return d;
}

}  // namespace

TEST(PackRoundTrip, DataClassesAtTheLevelsExtremes) {
    BuildCrcTable();
    std::string text;
    for (int i = 0; i < 20000; ++i) text += "word" + std::to_string(i % 97) + (i % 13 ? " " : "\n");
    const std::vector<SourceEntry> in = {
        Entry("zeros", std::vector<uint8_t>(1500000, 0)),
        Entry("random", Random(200000, 1)),
        Entry("text", std::vector<uint8_t>(text.begin(), text.end())),
        Entry("bin", {}, true),
        Entry("bin\\code.exe", Code(300000, 2)),
        Entry("bin\\empty", {}),
        Entry("bin\\one", {0xE8}),
        Entry("bin\\tail", {1, 2, 0xE8, 4}),
    };
    for (int level : {1, 6, 9}) {
        for (FilterChoice filter : {FilterChoice::Auto, FilterChoice::X86_16}) {
            SCOPED_TRACE("level " + std::to_string(level) + (filter == FilterChoice::Auto ? " auto" : " x86-16"));
            PackOptions o;
            o.Encode.Level = level;
            o.Filter = filter;
            ExpectRoundTrip(in, o);
        }
    }
    PackOptions small;
    small.Encode.MaxBlockSize = 4096;   // members across many blocks
    small.Encode.MaxTableSets = 2;
    ExpectRoundTrip(in, small);
}

TEST(PackRoundTrip, HundredsOfStreams) {
    std::vector<SourceEntry> in;
    for (int i = 0; i < 400; ++i) {
        in.push_back(Entry("f" + std::to_string(i), Random(i % 7 == 0 ? 3000 : i % 50, i)));
    }
    PackOptions o;
    o.StreamSize = 1000;
    o.Threads = 2;
    ExpectRoundTrip(in, o);

    // The reading side notices a damaged member: the check above is not vacuous.
    std::vector<uint8_t> archive = BuildArchive(in, o);
    archive[archive.size() / 3] ^= 0x5A;
    std::string error;
    ReadBack(archive, &error);
    EXPECT_NE(error, "");
}

// Files of one content come back whole through the extractor, taken in directory order, and
// their layout keeps its work down: it decodes the streams once, plus each extra entry's
// member again (or less), never a long stretch in front of a shared member.
TEST(PackRoundTrip, SharedContentsCostOneMemberEach) {
    const std::vector<uint8_t> shared = Random(3u << 20, 1), small = Random(5000, 2);
    std::vector<SourceEntry> in;
    uint64_t streams = 0, extra = 0;
    for (int i = 0; i < 3; ++i) {
        const std::string folder = "d" + std::to_string(i);
        in.push_back(Entry(folder, {}, true));
        in.push_back(Entry(folder + "\\unique", Random(2u << 20, 10 + i)));
        in.push_back(Entry(folder + "\\shared", shared));
        in.push_back(Entry(folder + "\\small", small));
        streams += kLocalHeaderSize + in[in.size() - 3].Name.size() + (2u << 20) + 4;
        if (i > 0) extra += shared.size() + small.size();
    }
    streams += 2 * (kLocalHeaderSize + 10 + 4) + shared.size() + small.size();
    PackOptions o;
    o.Encode.Level = 1;
    o.Threads = 2;
    StartWorkLimit(UINT64_MAX);
    ExpectRoundTrip(in, o);
    EXPECT_LE(TheWorkLimit.Decoded, streams + extra) << streams << " + " << extra;
    EXPECT_LT(BuildArchive(in, o).size(), streams + shared.size() / 2);
}

// Random names hardly compress: directory blocks must give back entries until they fit.
TEST(PackRoundTrip, DirectoryOfIncompressibleNames) {
    std::mt19937 rng(5);
    std::vector<SourceEntry> in;
    for (int i = 0; i < 250; ++i) {
        std::string name;
        for (int k = 0; k < 200 + i % 59; ++k) name += (char)('!' + rng() % 90);
        for (char& c : name) {
            if (strchr("\\<>:\"|?*", c)) c = '_';
        }
        in.push_back(Entry(name, Random(i % 3, i)));
    }
    ExpectRoundTrip(in, PackOptions());
}
