// `qar list | test | extract` as a user runs them, on archives from the test builder and,
// for round trips of real trees, from `qar pack`, bare or behind an installer stub.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "decode/crc32.h"
#include "profile/profile.h"
#include "startup/integrity.h"
#include "tests/support/archive_builder.h"
#include "tests/support/decoy_installer.h"
#include "tests/support/fake_stub.h"
#include "tools/embedded_stub.h"
#include "tools/installer_image.h"
#include "tools/product_values.h"
#include "tools/sfx_image.h"

using namespace qartest;
namespace fs = std::filesystem;

namespace {

const std::string kQar = std::string(QAR_BINARY_DIR) + "/qar";

struct Result {
    int Status;
    std::string Out;   // standard output
    std::string Err;   // standard error
};

std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Runs qar with args (words separated by spaces, each single-quoted by the caller when
// needed), stdin from /dev/null unless input is given.
Result Qar(const std::string& args, const std::string& cwd = "") {
    char out[] = "/tmp/qar-xcli-out-XXXXXX", err[] = "/tmp/qar-xcli-err-XXXXXX";
    close(mkstemp(out));
    close(mkstemp(err));
    std::string command = (cwd.empty() ? "" : "cd '" + cwd + "' && ") + "'" + kQar + "' " + args +
                          " >" + out + " 2>" + err + " </dev/null";
    int raw = system(command.c_str());
    Result r{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, Slurp(out), Slurp(err)};
    unlink(out);
    unlink(err);
    return r;
}

// The names beneath folder that begin with ".qar-": files written under a temporary name and
// left behind.
std::vector<std::string> Temporaries(const std::string& folder) {
    std::vector<std::string> found;
    std::error_code ec;
    for (const auto& e : fs::recursive_directory_iterator(folder, ec)) {
        if (e.path().filename().string().compare(0, 5, ".qar-") == 0) found.push_back(e.path());
    }
    return found;
}

class ExtractCli : public ::testing::Test {
protected:
    void SetUp() override { root_ = MakeTempFolder("xcli"); }
    void TearDown() override {
        if (!mount_.empty()) umount2(mount_.c_str(), MNT_DETACH);
        RemoveTree(root_);
    }
    std::string P(const std::string& relative) const { return root_ + "/" + relative; }
    std::string Q(const std::string& relative) const { return "'" + P(relative) + "'"; }
    // Mounts a tmpfs of the given size at root/name; false when this system does not let us.
    bool MountSmall(const std::string& name, const char* options) {
        fs::create_directories(P(name));
        if (mount("tmpfs", P(name).c_str(), "tmpfs", 0, options) != 0) return false;
        mount_ = P(name);
        return true;
    }
    std::string root_, mount_;
};

ArchiveBuilder SampleArchive() {
    ArchiveBuilder b;
    b.AddFolder("docs");
    b.AddFile("docs\\read me.txt", RandomBytes(3000, 1));
    b.AddFile("setup.exe", CodeLikeBytes(9000, 2), FlagCallFilter32);
    b.AddFile("old.com", CodeLikeBytes(700, 3), FlagCallFilter16, 1);
    b.AddFile("empty", Bytes());
    return b;
}

TEST_F(ExtractCli, ListShowsEveryEntryAndTotals) {
    ArchiveBuilder b = SampleArchive();
    WriteWholeFile(P("a.qar"), b.Build());
    Result r = Qar("list " + Q("a.qar"));
    ASSERT_EQ(r.Status, 0) << r.Err;
    std::istringstream lines(r.Out);
    std::map<std::string, std::string> byName;
    for (std::string line; std::getline(lines, line);) {
        for (const auto& e : b.Entries) {
            std::string shown = e.Name;   // with '/' between folders, as Linux has it
            for (char& c : shown) c = c == '\\' ? '/' : c;
            if (line.size() > shown.size() && line.compare(line.size() - shown.size(), shown.size(), shown) == 0 &&
                line[line.size() - shown.size() - 1] == ' ') {
                byName[e.Name] = line;
            }
        }
    }
    ASSERT_EQ(byName.size(), b.Entries.size()) << r.Out;
    EXPECT_NE(byName["docs"].find("folder"), std::string::npos);
    EXPECT_NE(byName["setup.exe"].find(" 9000 "), std::string::npos);
    EXPECT_NE(byName["setup.exe"].find("call32"), std::string::npos);
    EXPECT_NE(byName["old.com"].find("call16"), std::string::npos);
    EXPECT_NE(byName["docs\\read me.txt"].find("2000-03-14 15:09:26"), std::string::npos);
    EXPECT_NE(r.Out.find("12700  4 files, 1 folder\n"), std::string::npos) << r.Out;
}

TEST_F(ExtractCli, TestPassesIntactArchivesAndFindsEveryBitFlip) {
    ArchiveBuilder b;
    b.AddFile("first.bin", RandomBytes(100, 4));
    size_t target = b.AddFile("target.bin", RandomBytes(24, 5));
    b.AddFile("last.bin", RandomBytes(100, 6));
    Bytes archive = b.Build();
    WriteWholeFile(P("a.qar"), archive);
    Result ok = Qar("test " + Q("a.qar"));
    EXPECT_EQ(ok.Status, 0) << ok.Err;
    EXPECT_NE(ok.Out.find("3 of 3 entries intact"), std::string::npos) << ok.Out;
    EXPECT_NE(ok.Out.find("MiB/s"), std::string::npos);

    // The member's data bytes within the single stored block of the stream.
    size_t data = b.StreamOffsets[0] + 6 + 6 + b.Entries[target].Fields.MemberOffset + 11 +
                  b.Entries[target].Name.size();
    for (size_t bit = 0; bit < 24 * 8; ++bit) {
        Bytes flipped = archive;
        flipped[data + bit / 8] ^= (uint8_t)(1u << (bit % 8));
        WriteWholeFile(P("f.qar"), flipped);
        Result r = Qar("test -q " + Q("f.qar"));
        ASSERT_EQ(r.Status, 1) << "bit " << bit;
        ASSERT_NE(r.Out.find("FAILED  target.bin"), std::string::npos) << "bit " << bit;
        ASSERT_NE(r.Err.find("fails error check"), std::string::npos) << "bit " << bit;
    }
}

TEST_F(ExtractCli, ExtractWritesTheTreeAndFollowsTheOverwritePolicy) {
    ArchiveBuilder b = SampleArchive();
    WriteWholeFile(P("a.qar"), b.Build());
    Result r = Qar("extract -q " + Q("a.qar") + " -d " + Q("out"));
    ASSERT_EQ(r.Status, 0) << r.Err;
    for (const auto& e : b.Entries) {
        std::string disk = e.Name;
        for (char& c : disk) c = c == '\\' ? '/' : c;
        if (e.Fields.Flags & FlagFolder) {
            EXPECT_TRUE(fs::is_directory(P("out/" + disk)));
        } else {
            EXPECT_EQ(ReadWholeFile(P("out/" + disk)), e.Plain) << e.Name;
        }
    }
    EXPECT_FALSE(fs::exists(P("out/tavlore.exe")));   // nothing is started, or named so

    // Existing files: kept without a terminal or with -n, replaced with -y.
    WriteWholeFile(P("out/empty"), Bytes(5, 'x'));
    r = Qar("extract -q " + Q("a.qar") + " -d " + Q("out"));
    EXPECT_EQ(r.Status, 0) << r.Err;
    EXPECT_NE(r.Err.find("qar extract: " + P("out/empty") + " exists; no terminal to ask"), std::string::npos)
        << r.Err;
    EXPECT_NE(r.Err.find("-y"), std::string::npos) << r.Err;
    EXPECT_EQ(fs::file_size(P("out/empty")), 5u);
    r = Qar("extract -q -n " + Q("a.qar") + " -d " + Q("out"));
    EXPECT_EQ(r.Status, 0) << r.Err;
    EXPECT_EQ(fs::file_size(P("out/empty")), 5u);
    // The file that replaces another keeps its permissions.
    fs::permissions(P("out/empty"), fs::perms(0750));
    r = Qar("extract -q -y " + Q("a.qar") + " -d " + Q("out"));
    EXPECT_EQ(r.Status, 0) << r.Err;
    EXPECT_EQ(fs::file_size(P("out/empty")), 0u);
    EXPECT_EQ(fs::status(P("out/empty")).permissions(), fs::perms(0750));

    // The default destination is the current folder.
    fs::create_directories(P("here"));
    r = Qar("extract -q " + Q("a.qar"), P("here"));
    EXPECT_EQ(r.Status, 0) << r.Err;
    EXPECT_TRUE(fs::exists(P("here/setup.exe")));
}

TEST_F(ExtractCli, FailuresGiveTheSystemsMessagesAndStatus) {
    // A file that is neither an archive nor an installer.
    WriteWholeFile(P("junk"), RandomBytes(5000, 7));
    Result r = Qar("list " + Q("junk"));
    EXPECT_EQ(r.Status, 1);
    EXPECT_NE(r.Err.find("holds neither a qar archive nor a qar installer"), std::string::npos) << r.Err;
    // What cannot be read is told with the system's reason, after the command's name.
    fs::create_directories(P("folder"));
    const std::pair<std::string, std::string> unreadable[] = {
        {"extract " + Q("missing.qar"), "qar extract: cannot open " + P("missing.qar") + ": " + strerror(ENOENT)},
        {"list " + Q("folder"), "qar list: cannot read " + P("folder") + ": " + strerror(EISDIR)},
    };
    for (const auto& c : unreadable) {
        r = Qar(c.first);
        EXPECT_EQ(r.Status, 1) << c.first;
        EXPECT_EQ(r.Err, c.second + "\n") << c.first;
    }

    // Members whose CRC fails, without a terminal to ask: each file is not left behind, the
    // run goes on to the members after it, the summary lists both and the status says so.
    ArchiveBuilder b = SampleArchive();
    b.Layout();
    b.Entries[1].Fields.MemberCrc ^= 0x100;
    b.Entries[2].Fields.MemberCrc ^= 0x100;
    WriteWholeFile(P("bad.qar"), b.Write());
    r = Qar("extract -q " + Q("bad.qar") + " -d " + Q("out"));
    EXPECT_EQ(r.Status, 1);
    EXPECT_FALSE(fs::exists(P("out/docs/read me.txt")));
    EXPECT_FALSE(fs::exists(P("out/setup.exe")));
    EXPECT_EQ(ReadWholeFile(P("out/old.com")), b.Entries[3].Plain);
    EXPECT_TRUE(fs::exists(P("out/empty")));
    const size_t summary = r.Err.find("2 files failed");
    ASSERT_NE(summary, std::string::npos) << r.Err;
    EXPECT_NE(r.Err.find("File \"" + P("out/docs/read me.txt") + "\" fails error check", summary),
              std::string::npos) << r.Err;
    EXPECT_NE(r.Err.find("File \"" + P("out/setup.exe") + "\" fails error check", summary),
              std::string::npos) << r.Err;
    // Replacing files with members that fail: the files that were there stay as they were,
    // and no temporary file is left.
    WriteWholeFile(P("out/setup.exe"), Bytes(5, 'x'));
    r = Qar("extract -q -y " + Q("bad.qar") + " -d " + Q("out"));
    EXPECT_EQ(r.Status, 1);
    EXPECT_EQ(ReadWholeFile(P("out/setup.exe")), Bytes(5, 'x'));
    EXPECT_FALSE(fs::exists(P("out/docs/read me.txt")));
    EXPECT_EQ(Temporaries(P("out")), std::vector<std::string>{});

    // A member declaring 1 GiB whose stream yields nothing, with the CRC-32 of nothing:
    // `test` and `extract` both fail it as they fail a CRC mismatch.
    ArchiveBuilder shortened;
    size_t huge = shortened.AddFile("huge.bin", RandomBytes(10, 9));
    shortened.Layout();
    shortened.Entries[huge].Fields.MemberOffset = (uint32_t)shortened.Streams[0].Decoded.size();
    shortened.Entries[huge].Fields.MemberSize = 1u << 30;
    shortened.Entries[huge].Fields.MemberCrc = 0;
    WriteWholeFile(P("short.qar"), shortened.Write());
    r = Qar("test " + Q("short.qar"));
    EXPECT_EQ(r.Status, 1);
    EXPECT_NE(r.Out.find("FAILED  huge.bin"), std::string::npos) << r.Out;
    EXPECT_NE(r.Out.find("0 of 1 entry intact"), std::string::npos) << r.Out;
    EXPECT_NE(r.Err.find("fails error check"), std::string::npos) << r.Err;
    r = Qar("extract -q " + Q("short.qar") + " -d " + Q("out"));
    EXPECT_EQ(r.Status, 1);
    EXPECT_NE(r.Err.find("fails error check"), std::string::npos) << r.Err;
    EXPECT_FALSE(fs::exists(P("out/huge.bin")));

    // Failure after failure: the summaries repeat the first hundred and count the others.
    ArchiveBuilder many;
    for (int i = 0; i < 150; ++i) many.AddFile("f" + std::to_string(i), Bytes(1, 'x'));
    many.Layout();
    for (auto& e : many.Entries) e.Fields.MemberCrc ^= 1;
    WriteWholeFile(P("many.qar"), many.Write());
    r = Qar("test -q " + Q("many.qar"));
    EXPECT_EQ(r.Status, 1);
    EXPECT_NE(r.Err.find("150 files failed:\n  f0\n"), std::string::npos) << r.Err;
    EXPECT_NE(r.Err.find("  f99\n  and 50 more\n"), std::string::npos) << r.Err;
    r = Qar("extract -q " + Q("many.qar") + " -d " + Q("many"));
    EXPECT_EQ(r.Status, 1);
    EXPECT_NE(r.Err.find("f99\" fails error check\n  and 50 more, shown above\n"), std::string::npos) << r.Err;

    // A name that leaves the destination is damage; nothing lands beside it.
    ArchiveBuilder evil;
    evil.AddFile("..\\escaped.txt", RandomBytes(10, 8));
    WriteWholeFile(P("evil.qar"), evil.Build());
    r = Qar("extract -q " + Q("evil.qar") + " -d " + Q("deep/out"));
    EXPECT_EQ(r.Status, 1);
    EXPECT_NE(r.Err.find("entry 0 (../escaped.txt) has a name that would leave the destination"),
              std::string::npos) << r.Err;
    EXPECT_FALSE(fs::exists(P("deep/escaped.txt")));
    EXPECT_FALSE(fs::exists(P("escaped.txt")));
}

// Counts a line of out that begins with prefix.
size_t CountLines(const std::string& out, const std::string& prefix) {
    size_t n = 0;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) n += line.compare(0, prefix.size(), prefix) == 0;
    return n;
}

TEST_F(ExtractCli, MaxOutputStopsTestAndExtract) {
    ArchiveBuilder b;
    b.BlockSize = 50000;
    b.AddFile("data.bin", RandomBytes(300000, 21));
    b.AddFolder("after");   // the run stops before it too
    WriteWholeFile(P("a.qar"), b.Build());
    EXPECT_NE(Qar("test -q --max-output 100K " + Q("a.qar")).Out.find("0 of 2 entries intact, 2 not reached"),
              std::string::npos);
    for (const char* command : {"test -q", "extract -q -d "}) {
        const bool extract = command[0] == 'e';
        const std::string out = extract ? Q("out") : "";
        Result r = Qar(std::string(command) + out + " --max-output 100K " + Q("a.qar"));
        EXPECT_EQ(r.Status, 1) << command;
        EXPECT_NE(r.Err.find("more than 102400 bytes, the --max-output limit"), std::string::npos)
            << command << ": " << r.Err;
        EXPECT_NE(r.Err.find("run again with a larger --max-output SIZE"), std::string::npos) << r.Err;
        if (extract) {
            EXPECT_FALSE(fs::exists(P("out/data.bin")));   // the partial file is deleted
        }
        r = Qar(std::string(command) + out + " --max-output 1m " + Q("a.qar"));
        EXPECT_EQ(r.Status, 0) << command << ": " << r.Err;
        if (extract) {
            EXPECT_EQ(ReadWholeFile(P("out/data.bin")), b.Entries[0].Plain);
        }
    }
    EXPECT_EQ(Qar("test --max-output 5X " + Q("a.qar")).Status, 2);
    // A bound of exactly what the run decodes and writes lets it end; a byte less does not.
    const std::string exact = std::to_string(b.Streams[0].Decoded.size());
    const std::string less = std::to_string(b.Streams[0].Decoded.size() - 1);
    EXPECT_EQ(Qar("test -q --max-output " + exact + " " + Q("a.qar")).Status, 0);
    EXPECT_EQ(Qar("test -q --max-output " + less + " " + Q("a.qar")).Status, 1);
    fs::remove_all(P("out"));
    EXPECT_EQ(Qar("extract -q -d " + Q("out") + " --max-output " + exact + " " + Q("a.qar")).Status, 0);
    EXPECT_EQ(Qar("extract -q -y -d " + Q("out") + " --max-output " + less + " " + Q("a.qar")).Status, 1);

    // 2000 entries naming one member of a megabyte, which lies in one compressed block of a
    // small archive: each entry is served from the window without decoding anything, and
    // without the option the run stops long before the 2 GB they declare.
    ArchiveBuilder zeros;
    zeros.AddFile("z0000", Bytes(1000000, 0));
    zeros.Layout();
    const Bytes decoded = zeros.Streams[0].Decoded;
    std::vector<LzOp> ops;
    size_t at = 0;
    for (; decoded[at] != 0 || decoded[at + 1] != 0; ++at) ops.push_back(Literal(decoded[at]));
    ops.push_back(Literal(0));
    for (++at; at + 10 <= 12 + 1000000; at += 10) ops.push_back(Match(10, 1));
    for (; at < decoded.size(); ++at) ops.push_back(Literal(decoded[at]));
    zeros.Streams[0].Blocks = {CompressedBlock(ops, (uint32_t)decoded.size(), true, 0, 0, (uint32_t)decoded.size())};
    zeros.Entries[0].Plain.clear();   // only the directory entries are copied
    for (int i = 1; i < 2000; ++i) {   // each under a name of its own, of the same length
        zeros.Entries.push_back(zeros.Entries[0]);
        char name[8];
        snprintf(name, sizeof name, "z%04d", i);
        zeros.Entries.back().Name = name;
    }
    // Bytes behind the directory, which nothing reads, make the file large enough that the
    // default bound, 200 times its size, lies above the 1 GiB it never goes below.
    Bytes z = zeros.Write();
    z.resize(6u << 20);
    WriteWholeFile(P("z.qar"), z);
    Result r = Qar("test " + Q("z.qar"));
    EXPECT_EQ(r.Status, 1);
    EXPECT_NE(r.Err.find("more than " + std::to_string(200ull * z.size()) + " bytes, the --max-output limit"),
              std::string::npos) << r.Err;
    const size_t intact = CountLines(r.Out, "OK      z");
    EXPECT_GT(intact, 0u);
    EXPECT_LT(intact, 1999u);
    EXPECT_EQ(CountLines(r.Out, "FAILED"), 0u);
}

// A member that begins in one block and ends in the next: every entry naming it again
// restarts its stream from the first block. That stays allowed, and the decoding it costs
// counts against --max-output although little comes out.
TEST_F(ExtractCli, RestartedStreamsCountAgainstMaxOutput) {
    ArchiveBuilder b;
    b.AddFile("big", RandomBytes(300000, 22));
    size_t tail = b.AddFile("tail", RandomBytes(100, 23));
    b.Layout();
    const uint32_t middle = b.Entries[tail].Fields.MemberOffset + 11 + 4 + 50;
    b.BlockSize = middle;
    b.Streams.clear();
    b.Layout();
    // Each copy under a name of its own: two entries may not name one file.
    for (int i = 0; i < 59; ++i) {
        b.Entries.push_back(b.Entries[tail]);
        char name[8];
        snprintf(name, sizeof name, "t%03d", i);
        b.Entries.back().Name = name;
    }
    WriteWholeFile(P("r.qar"), b.Write());
    // 60 restarts of a 300 KB stream, 6 KB out.
    Result r = Qar("test -q --max-output 2M " + Q("r.qar"));
    EXPECT_EQ(r.Status, 1);
    EXPECT_NE(r.Err.find("the --max-output limit"), std::string::npos) << r.Err;
    r = Qar("test -q --max-output 64M " + Q("r.qar"));
    EXPECT_EQ(r.Status, 0) << r.Err;
    EXPECT_NE(r.Out.find("61 of 61 entries intact"), std::string::npos) << r.Out;
}

// Files that declare more than the destination's free space: refused before anything is
// written; files that fit go in.
TEST_F(ExtractCli, ExtractRefusesWhatTheFreeSpaceCannotHold) {
    if (!MountSmall("small", "size=1m")) GTEST_SKIP() << "cannot mount a tmpfs here";
    ArchiveBuilder big;
    big.AddFile("first.bin", RandomBytes(600000, 24));
    big.AddFile("second.bin", RandomBytes(600000, 25));
    WriteWholeFile(P("big.qar"), big.Build());
    Result r = Qar("extract -q " + Q("big.qar") + " -d " + Q("small/out"));
    EXPECT_EQ(r.Status, 1);
    EXPECT_NE(r.Err.find("not enough free space: the files in " + P("big.qar") + " declare 1200000 bytes"),
              std::string::npos) << r.Err;
    EXPECT_NE(r.Err.find("nothing was extracted"), std::string::npos) << r.Err;
    EXPECT_FALSE(fs::exists(P("small/out")));

    ArchiveBuilder fits;
    fits.AddFile("first.bin", RandomBytes(600000, 24));
    WriteWholeFile(P("fits.qar"), fits.Build());
    r = Qar("extract -q " + Q("fits.qar") + " -d " + Q("small/out"));
    EXPECT_EQ(r.Status, 0) << r.Err;
    EXPECT_EQ(ReadWholeFile(P("small/out/first.bin")), fits.Entries[0].Plain);

    // Small files take whole blocks: 300 of one byte each declare 300 bytes, but need more
    // than the 1 MiB the file system holds.
    ArchiveBuilder many;
    for (int i = 0; i < 300; ++i) many.AddFile("f" + std::to_string(i), Bytes(1, 'x'));
    WriteWholeFile(P("many.qar"), many.Build());
    r = Qar("extract -q " + Q("many.qar") + " -d " + Q("small/many"));
    EXPECT_EQ(r.Status, 1);
    EXPECT_NE(r.Err.find("declare 300 bytes, which take"), std::string::npos) << r.Err;
    EXPECT_FALSE(fs::exists(P("small/many")));
}

// An installer as `qar sfx` writes it: the prepared stub, then the archive.
Bytes Installer(const Bytes& archive, bool x64 = false) {
    BuildCrcTable();
    Bytes image = FakeStub(x64);
    std::string error;
    EXPECT_TRUE(PrepareStubImage(&image, &error)) << error;
    image.insert(image.end(), archive.begin(), archive.end());
    return image;
}

const size_t kStubSize = FakeStub().size();

// The installer reads the archive at its StubSize without looking at its first bytes; so
// does qar.
TEST_F(ExtractCli, ReadsTheArchiveBehindAnInstallerWhateverItsMagic) {
    ArchiveBuilder b = SampleArchive();
    const Bytes archive = b.Build();
    for (bool x64 : {false, true}) {
        Bytes installer = Installer(archive, x64);
        for (bool magic : {true, false}) {
            if (!magic) memcpy(&installer[kStubSize], "ZZZZ", 4);
            WriteWholeFile(P("setup.exe"), installer);
            const std::string what = std::string(x64 ? "x64" : "x86") + (magic ? "" : ", ZZZZ");
            Result r = Qar("list " + Q("setup.exe"));
            ASSERT_EQ(r.Status, 0) << what << ": " << r.Err;
            EXPECT_NE(r.Out.find("installer, archive at offset " + std::to_string(kStubSize)),
                      std::string::npos) << what << ": " << r.Out;
            r = Qar("test -q " + Q("setup.exe"));
            EXPECT_EQ(r.Status, 0) << what << ": " << r.Out << r.Err;
            fs::remove_all(P("out"));
            r = Qar("extract -q " + Q("setup.exe") + " -d " + Q("out"));
            EXPECT_EQ(r.Status, 0) << what << ": " << r.Err;
            EXPECT_EQ(ReadWholeFile(P("out/setup.exe")), b.Entries[2].Plain) << what;
        }
    }
}

// An intact stub whose own archive lost its magic, followed by a second stub and a benign
// archive: qar shows and extracts what the installer would, not the benign one.
TEST_F(ExtractCli, ADecoyProfileBehindTheArchiveIsNotRead) {
    ArchiveBuilder real = SampleArchive();
    ArchiveBuilder benign;
    benign.AddFile("benign.txt", RandomBytes(50, 11));
    Bytes installer = Installer(real.Build());
    memcpy(&installer[kStubSize], "ZZZZ", 4);
    Bytes decoy = Installer(benign.Build());
    WriteLe32(&decoy[kFakeProfileFile + kProfileStubSizeOffset],
              (uint32_t)(installer.size() + kStubSize));
    installer.insert(installer.end(), decoy.begin(), decoy.end());
    WriteWholeFile(P("setup.exe"), installer);

    Result r = Qar("list " + Q("setup.exe"));
    ASSERT_EQ(r.Status, 0) << r.Err;
    EXPECT_NE(r.Out.find("archive at offset " + std::to_string(kStubSize) + ","), std::string::npos)
        << r.Out;
    EXPECT_EQ(r.Out.find("benign.txt"), std::string::npos) << r.Out;
    r = Qar("extract -q " + Q("setup.exe") + " -d " + Q("out"));
    EXPECT_EQ(r.Status, 0) << r.Err;
    EXPECT_TRUE(fs::exists(P("out/setup.exe")));
    EXPECT_FALSE(fs::exists(P("out/benign.txt")));
}

TEST_F(ExtractCli, InstallersThatTheirStubWouldRefuseAreRefused) {
    const Bytes installer = Installer(SampleArchive().Build());
    // A changed byte of the stub's code, of its PE header and of its StubSize: the installer's
    // own message, and no other archive is looked for.
    for (size_t at : {(size_t)kFakeProfileFile + kProfileSize + 5, (size_t)kFakePe + 8,
                      (size_t)kFakeProfileFile + kProfileStubSizeOffset}) {
        Bytes changed = installer;
        changed[at] ^= 0x01;
        WriteWholeFile(P("changed.exe"), changed);
        Result r = Qar("list " + Q("changed.exe"));
        EXPECT_EQ(r.Status, 1) << "byte " << at;
        EXPECT_NE(r.Err.find(kAlteredImageMessage), std::string::npos) << "byte " << at << ": " << r.Err;
    }

    // A file that ends inside the archive header.
    WriteWholeFile(P("cut.exe"), Bytes(installer.begin(), installer.begin() + kStubSize + 20));
    Result r = Qar("test " + Q("cut.exe"));
    EXPECT_EQ(r.Status, 1);
    EXPECT_NE(r.Err.find("Cannot read"), std::string::npos) << r.Err;

    // A StubSize past 2 GB, in a sparse file as long: refused before anything is allocated
    // for the image or read into it.
    Bytes huge = installer;
    WriteLe32(&huge[kFakeProfileFile + kProfileStubSizeOffset], 0x80001000u);
    WriteWholeFile(P("huge.exe"), huge);
    ASSERT_EQ(truncate(P("huge.exe").c_str(), 0x80002000), 0);
    r = Qar("list " + Q("huge.exe"));
    EXPECT_EQ(r.Status, 1);
    EXPECT_NE(r.Err.find("larger than 2 GB"), std::string::npos) << r.Err;

    // A second profile in the stub's sections, its words sealed over the same image: the
    // stub refuses an image that holds its profile's anchor twice, and so does qar.
    Bytes twice = Installer(SampleArchive().Build());
    const Bytes archive(twice.begin() + kStubSize, twice.end());
    twice.resize(kStubSize);
    const uint32_t second = (uint32_t)twice.size();
    twice.resize(second + kFakeSectionSize);
    memcpy(&twice[second], &twice[kFakeProfileFile], kProfileSize);
    WriteLe32(&twice[FakeSectionEntry(false) + 8], 2 * kFakeSectionSize);
    WriteLe32(&twice[FakeSectionEntry(false) + 16], 2 * kFakeSectionSize);
    for (uint32_t at : {second, (uint32_t)kFakeProfileFile}) {
        WriteLe32(&twice[at + kProfileStubSizeOffset], (uint32_t)twice.size());
        ResealProfile(&twice, at);
    }
    twice.insert(twice.end(), archive.begin(), archive.end());
    WriteWholeFile(P("twice.exe"), twice);
    r = Qar("list " + Q("twice.exe"));
    EXPECT_EQ(r.Status, 1);
    EXPECT_NE(r.Err.find(kAlteredImageMessage), std::string::npos) << r.Err;
    Bytes image(twice.begin(), twice.begin() + second + kFakeSectionSize);
    EXPECT_EQ(CheckedArchiveBase(image.data(), (uint32_t)image.size(), kFakeProfileRva), 0u);
}

// An installer on a stub built into qar, as `qar sfx` writes it.
Bytes RealInstaller(const Bytes& archive, bool x64) {
    BuildCrcTable();
    Bytes image = x64 ? Bytes(kEmbeddedStubX64, kEmbeddedStubX64 + kEmbeddedStubX64Size)
                      : Bytes(kEmbeddedStubX86, kEmbeddedStubX86 + kEmbeddedStubX86Size);
    std::string error;
    EXPECT_TRUE(PrepareStubImage(&image, &error)) << error;
    image.insert(image.end(), archive.begin(), archive.end());
    return image;
}

// Real stubs re-laid so that a second, re-sealed profile names a benign archive
// (tests/support/decoy_installer.h): qar shows neither archive and gives the installer's
// own message, and the stub's own check refuses its image at the real profile's address.
TEST_F(ExtractCli, DecoyProfilesBesideTheStubsOwnAreRefused) {
    ArchiveBuilder benign;
    benign.AddFile("benign.txt", RandomBytes(50, 11));
    for (bool x64 : {false, true}) {
        if ((x64 ? kEmbeddedStubX64Size : kEmbeddedStubX86Size) == 0) continue;   // not built in
        const Bytes installer = RealInstaller(SampleArchive().Build(), x64);
        uint32_t rva = 0;
        const uint32_t stubSize = (uint32_t)(installer.size() - SampleArchive().Build().size());
        ASSERT_EQ(FindStubProfile(installer.data(), stubSize, &rva), FirstProfileOffset(installer));
        Bytes image(installer.begin(), installer.begin() + stubSize);
        ASSERT_EQ(CheckedArchiveBase(image.data(), stubSize, rva), stubSize);

        for (bool far : {false, true}) {
            const std::string what = std::string(x64 ? "x64" : "x86") + (far ? ", far section" : ", cut section");
            uint32_t real = 0;
            const Bytes decoy = far ? FarSectionDecoy(installer, benign.Build(), &real)
                                    : CutSectionDecoy(installer, benign.Build(), &real);
            WriteWholeFile(P("decoy.exe"), decoy);
            for (const char* command : {"list", "test"}) {
                Result r = Qar(std::string(command) + " " + Q("decoy.exe"));
                EXPECT_EQ(r.Status, 1) << what << ", " << command;
                EXPECT_NE(r.Err.find(kAlteredImageMessage), std::string::npos) << what << ": " << r.Err;
                EXPECT_EQ(r.Out.find("benign.txt"), std::string::npos) << what << ": " << r.Out;
                EXPECT_EQ(r.Out.find("setup.exe"), std::string::npos) << what << ": " << r.Out;
            }
            // The image the stub reads: the first StubSize bytes, as its profile in memory
            // (the file's at the real profile's address) names them.
            const uint32_t realSize = ReadLe32(&decoy[real + kProfileStubSizeOffset]);
            ASSERT_LE(realSize, decoy.size()) << what;
            image.assign(decoy.begin(), decoy.begin() + realSize);
            EXPECT_EQ(CheckedArchiveBase(image.data(), realSize, rva), 0u) << what;
        }
    }
}

}  // namespace

// A directory cut short: list, test and extract count the entries the header declares that
// the run never reached, and end with status 1. An archive without entries says so.
TEST_F(ExtractCli, EntriesNotReachedAreCounted) {
    ArchiveBuilder b;
    for (int i = 0; i < 6; ++i) b.AddFile("f" + std::to_string(i), RandomBytes(50, 30 + i));
    b.EntriesPerDirectoryBlock = 2;
    Bytes archive = b.Build();
    archive.resize(archive.size() - 10);   // into the last directory block
    WriteWholeFile(P("cut.qar"), archive);

    Result r = Qar("list " + Q("cut.qar"));
    EXPECT_EQ(r.Status, 1);
    EXPECT_NE(r.Out.find("(5 of 6 entries listed, 1 not reached)"), std::string::npos) << r.Out;
    r = Qar("test -q " + Q("cut.qar"));
    EXPECT_EQ(r.Status, 1);
    EXPECT_NE(r.Out.find("5 of 6 entries intact, 1 not reached"), std::string::npos) << r.Out;
    // The two-line damage message comes as one line.
    EXPECT_NE(r.Err.find("qar test: Archive data is damaged, probably caused by a corrupt disk"),
              std::string::npos) << r.Err;
    r = Qar("extract -q " + Q("cut.qar") + " -d " + Q("out"));
    EXPECT_EQ(r.Status, 1);
    EXPECT_NE(r.Err.find("5 files, 0 folders extracted, 1 of 6 entries not reached"),
              std::string::npos) << r.Err;

    WriteWholeFile(P("none.qar"), ArchiveBuilder().Build());
    for (const char* command : {"list", "test", "extract -d out"}) {
        r = Qar(std::string(command) + " " + Q("none.qar"));
        EXPECT_EQ(r.Status, 0) << command << ": " << r.Err;
        EXPECT_NE(r.Out.find("Archive contains no files"), std::string::npos) << command << ": " << r.Out;
    }
}

// Every usage error is one line that says what was wrong and points at --help, with status
// 2 and nothing done; help and --version answer with status 0.
TEST_F(ExtractCli, UsageErrorsSayWhatWasWrong) {
    WriteWholeFile(P("a.qar"), SampleArchive().Build());
    WriteWholeFile(P("file"), Bytes(3, 'x'));
    const std::pair<std::string, std::string> cases[] = {
        {"extract -y -n " + Q("a.qar") + " -d " + Q("out"), "qar extract: -y and -n exclude each other"},
        {"extract " + Q("a.qar") + " -d " + Q("file"), "qar extract: " + P("file") + " is not a folder"},
        {"extract " + Q("a.qar") + " -d", "qar extract: -d needs a value"},
        {"test --bogus " + Q("a.qar"), "qar test: unknown option --bogus"},
        {"list " + Q("a.qar") + " " + Q("a.qar"), "qar list: unexpected argument " + P("a.qar")},
        {"list --codepage 65001 " + Q("a.qar"), "qar list: --codepage 65001: not a supported code page"},
        {"test", "qar test: no archive given"},
        {"sfx -o " + Q("x.exe"), "qar sfx: nothing to pack"},
        {"pack --bogus -o " + Q("x.qar") + " " + Q("file"), "qar pack: unknown option --bogus"},
        {"sfx --bogus -o " + Q("x.exe") + " " + Q("file"), "qar sfx: unknown option --bogus"},
        {"sfx -o " + Q("x.exe") + " " + Q("file") + " --threads", "qar sfx: --threads needs a value"},
        {"sfx --archive " + Q("a.qar") + " -q -o " + Q("x.exe"), "qar sfx: --archive takes no paths or pack options"},
        {"extract --max-output 0 " + Q("a.qar"), "qar extract: --max-output takes a size above 0"},
        {"frobnicate", "qar: unknown command 'frobnicate'"},
        {"help frobnicate", "qar help: unknown command 'frobnicate'"},
    };
    for (const auto& c : cases) {
        Result r = Qar(c.first);
        EXPECT_EQ(r.Status, 2) << c.first;
        EXPECT_EQ(r.Err.compare(0, c.second.size(), c.second), 0) << c.first << ": " << r.Err;
        EXPECT_NE(r.Err.find("--help"), std::string::npos) << c.first << ": " << r.Err;
        EXPECT_EQ(std::count(r.Err.begin(), r.Err.end(), '\n'), 2) << c.first << ": " << r.Err;
    }
    EXPECT_FALSE(fs::exists(P("out")));
    EXPECT_FALSE(fs::exists(P("x.exe")));

    Result r = Qar("--version");
    EXPECT_EQ(r.Status, 0);
    EXPECT_EQ(r.Out.compare(0, 4, "qar "), 0) << r.Out;
    // Every command answers -h and --help with its own usage, whatever else is given.
    for (const char* command : {"pack", "sfx", "list", "test", "extract"}) {
        for (const char* help : {"-h", "--help"}) {
            r = Qar(std::string(command) + " --bogus " + help);
            EXPECT_EQ(r.Status, 2) << command << " " << help;
            r = Qar(std::string(command) + " " + help + " --bogus");
            EXPECT_EQ(r.Status, 0) << command << " " << help << ": " << r.Err;
            EXPECT_EQ(r.Out.find(std::string("usage: qar ") + command), 0u) << command << ": " << r.Out;
        }
    }
    r = Qar("help extract");
    EXPECT_EQ(r.Status, 0);
    EXPECT_NE(r.Out.find("usage: qar extract"), std::string::npos) << r.Out;
    for (const char* help : {"--help", "help", "help -h", "help --help", "-h help"}) {
        r = Qar(help);
        EXPECT_EQ(r.Status, 0) << help << ": " << r.Err;
        EXPECT_NE(r.Out.find("128+N"), std::string::npos) << help << ": " << r.Out;
    }

    // Without a terminal the file lines are only printed when asked for (-v).
    r = Qar("extract " + Q("a.qar") + " -d " + Q("quiet"));
    EXPECT_EQ(r.Status, 0) << r.Err;
    EXPECT_EQ(r.Out.find("Extracting"), std::string::npos) << r.Out;
    r = Qar("extract -v -y " + Q("a.qar") + " -d " + Q("quiet"));
    EXPECT_NE(r.Out.find("Extracting docs/read me.txt\n"), std::string::npos) << r.Out;
}

// list --json: one object per line and entry, the name JSON-escaped whatever its bytes.
TEST_F(ExtractCli, ListJsonEscapesNames) {
    ArchiveBuilder b;
    b.AddFile("q\"uote\\sub\x01\xE9", RandomBytes(7, 40));
    Bytes archive = b.Build();
    WriteWholeFile(P("a.qar"), archive);
    Result r = Qar("list --json " + Q("a.qar"));
    // A control character is damage, as in extract; the entry is listed all the same.
    EXPECT_EQ(r.Status, 1);
    EXPECT_NE(r.Err.find("has a name with control characters"), std::string::npos) << r.Err;
    char crc[9];
    snprintf(crc, sizeof crc, "%08x", b.Entries[0].Fields.MemberCrc);
    EXPECT_EQ(r.Out.find("{\"name\":\"q\\\"uote/sub\\u0001\xC3\xA9\",\"kind\":\"file\",\"size\":7,"), 0u)
        << r.Out;
    EXPECT_NE(r.Out.find(std::string("\"crc\":\"") + crc + "\""), std::string::npos) << r.Out;
    EXPECT_EQ(std::count(r.Out.begin(), r.Out.end(), '\n'), 1) << r.Out;
}

// The product values of an installer are listed escaped as names are, a title or a program
// with escape sequences included, and converted from the archive's code page; --json gives
// them in a first line of their own.
TEST_F(ExtractCli, ListShowsProductValuesEscaped) {
    ProductValues values;
    values.Title = "Evil\x1B]0;owned\x07 caf\xE9";
    values.Folder = "C:\\Evil";
    values.ProbeFolder = "C:\\Program Files";
    values.PreferredFolder = "C:\\P\x1B[2J";
    values.Program = "bin\\\x1B[31mx.exe";
    BuildCrcTable();
    Bytes image = FakeStub();
    std::string error;
    ASSERT_TRUE(PutProductValues(&image, values, &error)) << error;
    ASSERT_TRUE(PrepareStubImage(&image, &error)) << error;
    const size_t base = image.size();
    const Bytes archive = SampleArchive().Build();
    image.insert(image.end(), archive.begin(), archive.end());
    WriteWholeFile(P("setup.exe"), image);

    Result r = Qar("list " + Q("setup.exe"));
    ASSERT_EQ(r.Status, 0) << r.Err;
    EXPECT_EQ(r.Out.find_first_of("\x1B\x07"), std::string::npos) << r.Out;
    EXPECT_NE(r.Out.find("title: Evil\\x1B]0;owned\\x07 caf\xC3\xA9\n"), std::string::npos) << r.Out;
    EXPECT_NE(r.Out.find("preferred folder: C:\\P\\x1B[2J (when C:\\Program Files exists"),
              std::string::npos) << r.Out;
    EXPECT_NE(r.Out.find("program: bin\\\\x1B[31mx.exe\n"), std::string::npos) << r.Out;

    r = Qar("list --json " + Q("setup.exe"));
    ASSERT_EQ(r.Status, 0) << r.Err;
    const std::string first = r.Out.substr(0, r.Out.find('\n'));
    EXPECT_EQ(first, "{\"kind\":\"installer\",\"arch\":\"x86\",\"offset\":" + std::to_string(base) +
                         ",\"title\":\"Evil\\u001b]0;owned\\u0007 caf\xC3\xA9\",\"folder\":\"C:\\\\Evil\","
                         "\"preferred_folder\":\"C:\\\\P\\u001b[2J\",\"probe_folder\":\"C:\\\\Program Files\","
                         "\"program\":\"bin\\\\\\u001b[31mx.exe\",\"icon\":false,\"version\":null}");
    EXPECT_EQ(std::count(r.Out.begin(), r.Out.end(), '\n'), 1 + (long)SampleArchive().Entries.size()) << r.Out;
}

// Waits up to seconds for child to end; its exit status, 1000 + the signal that killed it,
// or -1 when it is still running (it is killed then).
int WaitFor(pid_t child, double seconds) {
    for (int i = 0; i < seconds * 1000; ++i) {
        int raw;
        if (waitpid(child, &raw, WNOHANG) == child) {
            return WIFEXITED(raw) ? WEXITSTATUS(raw) : 1000 + WTERMSIG(raw);
        }
        usleep(1000);
    }
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    return -1;
}

// A run stopped by SIGTERM or SIGHUP while it writes a file leaves that file neither under
// its name, partial or whole, nor under a temporary one, and ends with 128 + the signal; a
// later run with -n, which keeps existing files, then writes it.
TEST_F(ExtractCli, ASignalLeavesNoPartialFile) {
    ArchiveBuilder b;
    b.BlockSize = 1u << 19;
    b.AddFile("big.bin", RandomBytes(64u << 20, 62));
    WriteWholeFile(P("big.qar"), b.Build());
    for (int signal : {SIGTERM, SIGHUP}) {
        SCOPED_TRACE(signal);
        fs::remove_all(P("out"));
        fs::create_directories(P("out"));
        pid_t child = fork();
        if (child == 0) {
            int null = open("/dev/null", O_RDWR);
            dup2(null, 0);
            dup2(null, 1);
            dup2(null, 2);
            execl(kQar.c_str(), "qar", "extract", "-q", P("big.qar").c_str(), "-d", P("out").c_str(),
                  (char*)nullptr);
            _exit(127);
        }
        // Stopped once the first bytes of the file are on disk, whatever its name.
        bool writing = false;
        for (int i = 0; i < 20000 && !writing; ++i) {
            std::error_code ec;
            for (const auto& e : fs::directory_iterator(P("out"), ec)) writing |= e.file_size(ec) > 0;
            if (!writing) usleep(500);
        }
        ASSERT_TRUE(writing);
        kill(child, signal);
        EXPECT_EQ(WaitFor(child, 30), 128 + signal);
        EXPECT_FALSE(fs::exists(P("out/big.bin")));
        EXPECT_EQ(Temporaries(P("out")), std::vector<std::string>{});
    }
    Result r = Qar("extract -q -n " + Q("big.qar") + " -d " + Q("out"));
    EXPECT_EQ(r.Status, 0) << r.Err;
    EXPECT_TRUE(ReadWholeFile(P("out/big.bin")) == b.Entries[0].Plain);
}

// Ctrl-C while the overwrite prompt waits for an answer ends the run at once, status 130.
TEST_F(ExtractCli, CtrlCAtTheOverwritePromptEndsTheRun) {
    WriteWholeFile(P("a.qar"), SampleArchive().Build());
    ASSERT_EQ(Qar("extract -q " + Q("a.qar") + " -d " + Q("out")).Status, 0);
    int terminal;
    pid_t child = forkpty(&terminal, nullptr, nullptr, nullptr);
    ASSERT_GE(child, 0);
    if (child == 0) {
        execl(kQar.c_str(), "qar", "extract", "-q", P("a.qar").c_str(), "-d", P("out").c_str(),
              (char*)nullptr);
        _exit(127);
    }
    std::string shown;
    for (int i = 0; i < 1000 && shown.find("Replace?") == std::string::npos; ++i) {
        struct pollfd p = {terminal, POLLIN, 0};
        if (poll(&p, 1, 10) <= 0) continue;
        char buffer[256];
        ssize_t n = read(terminal, buffer, sizeof buffer);
        if (n <= 0) break;
        shown.append(buffer, (size_t)n);
    }
    ASSERT_NE(shown.find("Replace?"), std::string::npos) << shown;
    usleep(300000);   // into the wait for the answer
    kill(child, SIGINT);
    EXPECT_EQ(WaitFor(child, 10), 130);
    close(terminal);
}

// A name whose second byte of a double-byte character is the backslash code (which `qar
// pack` refuses to write, as the installer would split the name there) is extracted by the
// tool as the file it names: ソ is 0x83 0x5C in code page 932.
TEST_F(ExtractCli, TrailByteBackslashNamesAFile) {
    ArchiveBuilder b;
    b.AddFolder("sub");
    b.AddFile("\x83\x5C.txt", RandomBytes(20, 60));
    b.AddFile("sub\\\x83\x5C", RandomBytes(30, 61));
    WriteWholeFile(P("a.qar"), b.Build());
    Result r = Qar("extract -q --codepage 932 " + Q("a.qar") + " -d " + Q("out"));
    EXPECT_EQ(r.Status, 0) << r.Err;
    const std::string so = "\xE3\x82\xBD";
    EXPECT_EQ(ReadWholeFile(P("out/" + so + ".txt")), b.Entries[1].Plain);
    EXPECT_EQ(ReadWholeFile(P("out/sub/" + so)), b.Entries[2].Plain);
    size_t count = 0;
    for (auto it = fs::recursive_directory_iterator(P("out")); it != fs::recursive_directory_iterator(); ++it) ++count;
    EXPECT_EQ(count, 3u);   // sub, and the two files
}

// Cyrillic names packed in code page 1251 come back as the same UTF-8 names: listed, and
// created on disk, with --codepage 1251.
TEST_F(ExtractCli, CodePage1251NamesRoundTrip) {
    const std::string hello = "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82.txt";   // Привет.txt
    const std::string folder = "\xD0\xBF\xD0\xB0\xD0\xBF\xD0\xBA\xD0\xB0";               // папка
    const Bytes data = RandomBytes(100, 50);
    fs::create_directories(P("in/" + folder));
    WriteWholeFile(P("in/" + hello), data);
    WriteWholeFile(P("in/" + folder + "/" + hello), data);
    Result r = Qar("pack -q -o " + Q("a.qar") + " " + Q("in"));
    EXPECT_EQ(r.Status, 2);
    EXPECT_NE(r.Err.find("U+041F, which code page 1252 cannot represent"), std::string::npos) << r.Err;
    r = Qar("pack -q --codepage 1251 -o " + Q("a.qar") + " " + Q("in"));
    ASSERT_EQ(r.Status, 0) << r.Err;

    // The archive records its code page: it is the default, and --codepage overrides it.
    r = Qar("list " + Q("a.qar"));
    EXPECT_EQ(r.Status, 0) << r.Err;
    EXPECT_NE(r.Out.find(" " + folder + "/" + hello + "\n"), std::string::npos) << r.Out;
    r = Qar("list --codepage 1252 " + Q("a.qar"));
    EXPECT_EQ(r.Out.find(hello), std::string::npos) << r.Out;
    EXPECT_NE(r.Out.find("\xC3\x8F\xC3\xB0\xC3\xA8"), std::string::npos) << r.Out;   // "Ïðè" of 1252
    r = Qar("extract -q " + Q("a.qar") + " -d " + Q("out"));
    EXPECT_EQ(r.Status, 0) << r.Err;
    EXPECT_EQ(ReadWholeFile(P("out/" + hello)), data);
    EXPECT_EQ(ReadWholeFile(P("out/" + folder + "/" + hello)), data);
}

// A packed archive carries check values of its directory: a changed name is damage in list,
// test and extract alike, with the entry named, and extract writes nothing. An archive
// without them (another writer's) still reads, and test says its names were not checked.
TEST_F(ExtractCli, DirectoryChecksNameTheChangedEntry) {
    fs::create_directories(P("in/sub"));
    WriteWholeFile(P("in/sub/unique_marker.txt"), RandomBytes(100, 60));
    WriteWholeFile(P("in/other.txt"), RandomBytes(50, 61));
    ASSERT_EQ(Qar("pack -q --stored -o " + Q("a.qar") + " " + Q("in")).Status, 0);
    Result r = Qar("test " + Q("a.qar"));
    EXPECT_EQ(r.Status, 0) << r.Err;
    EXPECT_EQ(r.Out.find("not checked"), std::string::npos) << r.Out;
    // The name's last copy lies in the directory, stored as it is (the first in the member).
    Bytes archive = ReadWholeFile(P("a.qar"));
    const std::string marker = "unique_marker";
    auto at = std::find_end(archive.begin(), archive.end(), marker.begin(), marker.end());
    ASSERT_NE(at, archive.end());
    *at ^= 0x02;   // u -> w
    WriteWholeFile(P("f.qar"), archive);
    for (const std::string& command : std::vector<std::string>{"list", "test -q", "extract -q -d " + Q("out")}) {
        r = Qar(command + " " + Q("f.qar"));
        EXPECT_EQ(r.Status, 1) << command;
        EXPECT_NE(r.Err.find("(sub/wnique_marker.txt) was changed"), std::string::npos)
            << command << ": " << r.Err;
    }
    EXPECT_FALSE(fs::exists(P("out/sub"))) << "extract wrote from a damaged directory";
    r = Qar("test -q " + Q("f.qar"));
    EXPECT_NE(r.Out.find("FAILED  sub/wnique_marker.txt (damaged directory entry)\n2 of 3 entries intact"),
              std::string::npos) << r.Out;

    WriteWholeFile(P("old.qar"), SampleArchive().Build());
    r = Qar("test -q " + Q("old.qar"));
    EXPECT_EQ(r.Status, 0) << r.Err;
    EXPECT_NE(r.Out.find("names not checked"), std::string::npos) << r.Out;
}

// Whatever the archive carries, list and test call damage what extract refuses: two entries
// that name one file as Windows compares names, an entry inside a file, a control character;
// and each refuses an entry count above --max-entries.
TEST_F(ExtractCli, NamesExtractRefusesAreDamageInListAndTest) {
    // first, then 300 files in 100 folders, then last.
    auto many = [](const std::string& first, const std::string& last) {
        std::vector<std::string> names{first};
        for (int i = 0; i < 300; ++i) names.push_back("d" + std::to_string(i % 100) + "\\f" + std::to_string(i));
        names.push_back(last);
        return names;
    };
    struct Case {
        std::vector<std::string> Files;
        const char* Says;
    };
    const Case cases[] = {
        {{"Docs\\Read.txt", "docs\\READ.TXT"}, "names the same file as entry 0"},
        {{"\xE9t\xE9.txt", "\xC9T\xC9.txt"}, "names the same file as entry 0"},   // été, ÉTÉ in 1252
        {{"a", "A\\b"}, "lies inside entry 0, which is a file"},
        {{"c\\d", "C"}, "is a file, yet entry 0 lies inside it"},
        {{"tab\tname"}, "has a name with control characters"},
        // Found among many names, whose hashes outgrow the first tables.
        {many("Early.txt", "EARLY.TXT"), "names the same file as entry 0"},
        {many("early", "EARLY\\inside"), "lies inside entry 0, which is a file"},
        {many("c\\d", "C"), "is a file, yet entry 0 lies inside it"},
    };
    for (const Case& c : cases) {
        ArchiveBuilder b;
        for (size_t i = 0; i < c.Files.size(); ++i) b.AddFile(c.Files[i], RandomBytes(10, (uint32_t)i));
        WriteWholeFile(P("a.qar"), b.Build());
        for (const std::string& command : std::vector<std::string>{"list", "test -q", "extract -q -y -d " + Q("out")}) {
            Result r = Qar(command + " " + Q("a.qar"));
            EXPECT_EQ(r.Status, 1) << command << " " << c.Says;
            EXPECT_NE(r.Err.find(c.Says), std::string::npos) << command << ": " << r.Err;
        }
        EXPECT_FALSE(fs::exists(P("out"))) << c.Says;
    }

    WriteWholeFile(P("a.qar"), SampleArchive().Build());
    for (const std::string& command : std::vector<std::string>{"list", "test -q", "extract -q -y -d " + Q("out")}) {
        Result r = Qar(command + " --max-entries 4 " + Q("a.qar"));
        EXPECT_EQ(r.Status, 1) << command;
        EXPECT_NE(r.Err.find("declares 5 entries, more than the 4 of --max-entries"), std::string::npos)
            << command << ": " << r.Err;
        EXPECT_EQ(Qar(command + " --max-entries 5 " + Q("a.qar")).Status, 0) << command;
    }
}
