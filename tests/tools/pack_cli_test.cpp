// `qar pack` as a user runs it: options, refusals that leave no output behind, reproducible
// archives, and round trips of real trees through `qar test` and `qar extract`.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>

namespace fs = std::filesystem;

namespace {

const std::string kQar = std::string(QAR_BINARY_DIR) + "/qar";

struct Result {
    int Status;
    std::string Output;   // stdout and stderr together
};

Result Qar(const std::string& args, const std::string& env = "") {
    char log[] = "/tmp/qar-cli-log-XXXXXX";
    const int fd = mkstemp(log);
    close(fd);
    const std::string command = env + " '" + kQar + "' " + args + " > " + log + " 2>&1 < /dev/null";
    const int raw = system(command.c_str());
    std::ifstream in(log, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    unlink(log);
    return Result{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, s.str()};
}

class Scratch {
public:
    Scratch() {
        char pattern[] = "/tmp/qar-cli-XXXXXX";
        root_ = mkdtemp(pattern);
    }
    ~Scratch() { fs::remove_all(root_); }
    std::string operator()(const std::string& relative) const { return root_ + "/" + relative; }
    void Write(const std::string& relative, const std::vector<uint8_t>& bytes) const {
        fs::create_directories(fs::path((*this)(relative)).parent_path());
        std::ofstream((*this)(relative), std::ios::binary)
            .write((const char*)bytes.data(), (std::streamsize)bytes.size());
    }
    void Write(const std::string& relative, const std::string& text) const {
        Write(relative, std::vector<uint8_t>(text.begin(), text.end()));
    }
    const std::string& Root() const { return root_; }

private:
    std::string root_;
};

std::vector<uint8_t> ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// Relative path -> content ("/" for folders).
std::map<std::string, std::vector<uint8_t>> Snapshot(const std::string& root) {
    std::map<std::string, std::vector<uint8_t>> out;
    for (const auto& e : fs::recursive_directory_iterator(root)) {
        const std::string rel = fs::relative(e.path(), root).string();
        out[rel] = e.is_directory() ? std::vector<uint8_t>{'/'} : ReadAll(e.path().string());
    }
    return out;
}

std::vector<uint8_t> Random(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> d(n);
    for (auto& b : d) b = (uint8_t)rng();
    return d;
}

// Files of every kind the packer meets: text, incompressible and highly repetitive data,
// empty files and folders, files of the same content, x86 code (a real DLL when Wine's are installed, and a synthetic
// image with dense calls), enough entries with long names for several directory blocks.
void MakeTree(const Scratch& s) {
    std::string text;
    for (int i = 0; i < 4000; ++i) text += "line " + std::to_string(i * 7919 % 1000) + " of the tree\n";
    s.Write("in/docs/readme.txt", text);
    s.Write("in/data/random.bin", Random(300000, 1));
    s.Write("in/data/zeros.bin", std::vector<uint8_t>(1500000, 0));
    std::vector<uint8_t> pattern;
    for (int i = 0; i < 200000; ++i) pattern.push_back((uint8_t)("abcabcabd"[i % 9]));
    s.Write("in/data/pattern.bin", pattern);
    s.Write("in/empty.txt", std::vector<uint8_t>());
    fs::create_directories(s("in/no files/deeper"));
    std::vector<uint8_t> image = Random(120000, 2);
    image[0] = 'M';
    image[1] = 'Z';
    image[0x3C] = 0x80;
    image[0x3D] = image[0x3E] = image[0x3F] = 0;
    image[0x80] = 'P';
    image[0x81] = 'E';
    image[0x82] = image[0x83] = 0;
    image[0x84] = 0x4C;
    image[0x85] = 0x01;
    for (size_t i = 0x400; i + 5 < image.size(); i += 11) {
        image[i] = 0xE8;
        const uint32_t target = (uint32_t)(i % 4096) * 16 - (uint32_t)i;
        for (int k = 0; k < 4; ++k) image[i + 1 + k] = (uint8_t)(target >> (8 * k));
    }
    s.Write("in/bin/tool.exe", image);
    // Files of one content, stored once: data, an executable that gets the call filter.
    s.Write("in/copies/random.bin", Random(300000, 1));
    s.Write("in/copies/tool.exe", image);
    s.Write("in/copies/zz/random again.bin", Random(300000, 1));
    const char* dll = "/usr/lib/i386-linux-gnu/wine/i386-windows/imm32.dll";
    if (fs::exists(dll)) s.Write("in/bin/imm32.dll", ReadAll(dll));
    for (int i = 0; i < 120; ++i)
        s.Write("in/many/" + std::string(120, 'n') + std::to_string(i), std::to_string(i));
}

}  // namespace

TEST(PackCli, UsageErrors) {
    Scratch s;
    s.Write("f", "x");
    EXPECT_EQ(Qar("pack " + s("f")).Status, 2);                          // no -o
    EXPECT_EQ(Qar("pack -o " + s("a.qar")).Status, 2);                   // nothing to pack
    EXPECT_EQ(Qar("pack --filter x86 -o " + s("a.qar") + " " + s("f")).Status, 2);
    EXPECT_EQ(Qar("pack --solid --stream-size 1M -o " + s("a.qar") + " " + s("f")).Status, 2);
    EXPECT_EQ(Qar("pack --block-size 1048576 -o " + s("a.qar") + " " + s("f")).Status, 2);
    EXPECT_EQ(Qar("pack --table-sets 64 -o " + s("a.qar") + " " + s("f")).Status, 2);
    EXPECT_EQ(Qar("pack --bogus -o " + s("a.qar") + " " + s("f")).Status, 2);
    EXPECT_EQ(Qar("pack -o " + s("a.qar") + " " + s("f") + " --exclude").Status, 2);
    EXPECT_EQ(Qar("pack --files-from " + s("no-list") + " -o " + s("a.qar")).Status, 2);
    const Result cp = Qar("pack --codepage 65001 -o " + s("a.qar") + " " + s("f"));
    EXPECT_EQ(cp.Status, 2);
    EXPECT_NE(cp.Output.find("65001"), std::string::npos);
    EXPECT_FALSE(fs::exists(s("a.qar")));
    EXPECT_EQ(Qar("pack --help").Status, 0);
}

TEST(PackCli, RefusalsLeaveNoOutputBehind) {
    Scratch s;
    s.Write("in/good.txt", "fine");
    s.Write("in/sub/aux.c", "a device name");
    s.Write("in/sub/what?", "a character Windows refuses");
    s.Write("in/zz/trailing.", "a trailing dot");
    s.Write("out/a.qar", "previous archive");
    // Every problem is listed in the one run, and the run ends with status 2.
    // Problems are errors, what is only left out a warning.
    symlink(s("nothing").c_str(), s("in/dangling").c_str());
    const Result r = Qar("pack -q -o " + s("out/a.qar") + " " + s("in"));
    EXPECT_EQ(r.Status, 2);
    for (const char* bad : {"in/sub/aux.c", "in/sub/what?", "in/zz/trailing."})
        EXPECT_NE(r.Output.find("qar pack: error: '" + s(bad) + "'"), std::string::npos) << bad << ": " << r.Output;
    EXPECT_NE(r.Output.find("qar pack: warning: '" + s("in/dangling") + "'"), std::string::npos) << r.Output;
    // The output is checked first: a folder named by -o ends the run before the input is.
    const Result folder = Qar("pack -q -o " + s("out") + " " + s("in"));
    EXPECT_EQ(folder.Status, 2);
    EXPECT_NE(folder.Output.find("is a folder"), std::string::npos) << folder.Output;
    EXPECT_EQ(folder.Output.find("aux.c"), std::string::npos) << folder.Output;
    fs::remove(s("in/sub/what?"));
    fs::remove(s("in/zz/trailing."));
    fs::remove(s("in/dangling"));
    EXPECT_EQ(ReadAll(s("out/a.qar")), std::vector<uint8_t>({'p', 'r', 'e', 'v', 'i', 'o', 'u', 's', ' ', 'a', 'r', 'c', 'h', 'i', 'v', 'e'}));
    // Without the bad name the archive is written, and nothing else stays beside it.
    fs::remove(s("in/sub/aux.c"));
    fs::create_directories(s("out2"));
    const Result ok = Qar("pack -q -o " + s("out2/b.qar") + " " + s("in"));
    EXPECT_EQ(ok.Status, 0) << ok.Output;
    EXPECT_EQ(ok.Output, "");   // nothing on a non-terminal
    size_t files = 0;
    for (const auto& e : fs::directory_iterator(s("out2"))) files += e.is_regular_file();
    EXPECT_EQ(files, 1u);
    // The output may not be one of the inputs: an old archive would be packed into the new.
    const Result inside = Qar("pack -q -o " + s("in/good.txt") + " " + s("in"));
    EXPECT_EQ(inside.Status, 2);
    EXPECT_NE(inside.Output.find("among the inputs"), std::string::npos) << inside.Output;
    EXPECT_EQ(ReadAll(s("in/good.txt")), std::vector<uint8_t>({'f', 'i', 'n', 'e'}));
    const Result missingFolder = Qar("pack -o " + s("nowhere/c.qar") + " " + s("in"));
    EXPECT_EQ(missingFolder.Status, 1);
    EXPECT_NE(missingFolder.Output.find(s("nowhere/c.qar")), std::string::npos);
}

// --exclude and --files-from together with paths: what is extracted is the tree as placed,
// and a bad line of the list is reported with the rest, nothing written.
TEST(PackCli, ExcludeAndFilesFrom) {
    Scratch s;
    s.Write("in/bin/app.exe", "app");
    s.Write("in/bin/app.pdb", "symbols");
    s.Write("in/Tests/t.txt", "test");
    s.Write("manual/index.html", "manual");
    s.Write("a=b", "equals");
    s.Write("list", "doc/manual=" + s("manual") + "\r\n\n" + "extra/c\\=d=" + s("a\\=b") + "\n");
    const Result pack = Qar("pack -q --exclude '*/*.PDB' --exclude tests -o " + s("a.qar") + " " +
                            s("in") + " --files-from " + s("list"));
    ASSERT_EQ(pack.Status, 0) << pack.Output;
    fs::create_directories(s("out"));
    const Result extract = Qar("extract -q -y " + s("a.qar") + " -d " + s("out"));
    ASSERT_EQ(extract.Status, 0) << extract.Output;
    const std::map<std::string, std::vector<uint8_t>> expected = {
        {"bin", {'/'}}, {"bin/app.exe", {'a', 'p', 'p'}}, {"doc", {'/'}}, {"doc/manual", {'/'}},
        {"doc/manual/index.html", {'m', 'a', 'n', 'u', 'a', 'l'}}, {"extra", {'/'}},
        {"extra/c=d", {'e', 'q', 'u', 'a', 'l', 's'}},
    };
    EXPECT_TRUE(Snapshot(s("out")) == expected);

    s.Write("bad", "../up=" + s("manual") + "\nbin/app.exe=" + s("a=b") + "\n");
    const Result bad = Qar("pack -q -o " + s("b.qar") + " " + s("in") + " --files-from " + s("bad"));
    EXPECT_EQ(bad.Status, 2);
    EXPECT_NE(bad.Output.find("leaves the top"), std::string::npos) << bad.Output;
    EXPECT_NE(bad.Output.find("same archive name"), std::string::npos) << bad.Output;
    EXPECT_FALSE(fs::exists(s("b.qar")));
}

// The progress line appears on a terminal only, and -q silences it there too. Its totals are
// the summary's from its first drawing on. The summary counts contents stored once for
// several files, links left out and warnings; a link out of the tree is told and packed.
TEST(PackCli, ProgressLineOnATerminal) {
    if (system("command -v script > /dev/null") != 0) GTEST_SKIP() << "no script(1)";
    Scratch s;
    s.Write("in/a", std::vector<uint8_t>(100000, 'a'));
    s.Write("in/b", Random(5000, 3));
    s.Write("in/c", std::vector<uint8_t>(100000, 'a'));
    s.Write("elsewhere", "outside");
    ASSERT_EQ(symlink(s("elsewhere").c_str(), s("in/out").c_str()), 0);
    ASSERT_EQ(symlink(s("nothing").c_str(), s("in/dangling").c_str()), 0);
    auto onTerminal = [&](const std::string& args) {
        const std::string command = "script -qec \"'" + kQar + "' pack " + args + "\" /dev/null > " +
                                    s("log") + " 2>&1";
        EXPECT_EQ(system(command.c_str()), 0);
        const std::vector<uint8_t> log = ReadAll(s("log"));
        return std::string(log.begin(), log.end());
    };
    const std::string shown = onTerminal("-o " + s("1.qar") + " " + s("in"));
    EXPECT_NE(shown.find("warning: '" + s("in/out") + "': a symbolic link that leads out of the packed tree, to '" +
                         fs::canonical(s("elsewhere")).string() + "'"), std::string::npos) << shown;
    EXPECT_NE(shown.find("warning: '" + s("in/dangling") + "': skipped"), std::string::npos) << shown;
    EXPECT_NE(shown.find("qar pack: 4 files, 0 folders, 200.2 KiB packed into"), std::string::npos) << shown;
    EXPECT_NE(shown.find("; 1 content shared by 2 files, 1 link skipped, 2 warnings\r\n"), std::string::npos) << shown;
    // Every drawing of the line, the first included, has the summary's totals.
    std::vector<std::string> drawn;
    for (size_t at = shown.find('\r'); at != std::string::npos; at = shown.find('\r', at + 1)) {
        if (shown.compare(at + 1, 1, "\n") != 0) drawn.push_back(shown.substr(at + 1, shown.find('\x1b', at) - at - 1));
    }
    ASSERT_GE(drawn.size(), 2u) << shown;
    EXPECT_EQ(drawn.front().substr(0, 21), "  0% 0/4 files, 0 byt") << drawn.front();
    EXPECT_EQ(drawn.back().substr(0, 32), "100% 4/4 files, 200.2 KiB of 200") << drawn.back();
    for (const std::string& line : drawn) {
        EXPECT_NE(line.find("/4 files, "), std::string::npos) << line;
        EXPECT_NE(line.find(" of 200.2 KiB, "), std::string::npos) << line;
    }
    // The archive holds what the link leads to.
    fs::create_directories(s("x"));
    ASSERT_EQ(Qar("extract -q -y " + s("1.qar") + " -d " + s("x")).Status, 0);
    EXPECT_EQ(ReadAll(s("x/out")), std::vector<uint8_t>({'o', 'u', 't', 's', 'i', 'd', 'e'}));
    fs::remove(s("in/c"));
    fs::remove(s("in/out"));
    fs::remove(s("in/dangling"));
    s.Write("tiny/a", "x");
    const std::string tiny = onTerminal("-o " + s("3.qar") + " " + s("tiny"));
    EXPECT_EQ(tiny.find('%', tiny.find("packed into")), std::string::npos) << tiny;
    EXPECT_EQ(onTerminal("-q -o " + s("2.qar") + " " + s("in")), "");
}

// Interrupted with Ctrl-C, the run leaves nothing behind: no archive, no temporary file.
// (40 MiB of random bytes at -9 take far longer than the second before the interrupt; job
// control keeps the background run from ignoring SIGINT.)
TEST(PackCli, InterruptLeavesNoFiles) {
    Scratch s;
    s.Write("in/big", Random(40u << 20, 9));
    fs::create_directories(s("out"));
    const std::string command = "set -m; '" + kQar + "' pack -9 -q -o " + s("out/a.qar") + " " +
                                s("in") + " & pid=\\$!; sleep 1; kill -INT \\$pid; wait \\$pid";
    const int raw = system(("bash -c \"" + command + "\"").c_str());
    EXPECT_EQ(WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, 128 + SIGINT);
    std::vector<std::string> left;
    for (const auto& e : fs::directory_iterator(s("out"))) left.push_back(e.path().filename());
    EXPECT_TRUE(left.empty()) << left.front();
}

// A file larger than the packer holds in memory is read, filtered and compressed a piece at
// a time: it comes back exactly, its calls filtered across the pieces' ends, beside a small
// file of the same folder.
TEST(PackCli, FilesBeyondMemoryRoundTrip) {
    Scratch s;
    std::mt19937 rng(21);
    std::vector<uint8_t> big(34u << 20);
    for (size_t i = 0; i < big.size(); ++i) {
        const uint32_t r = rng();
        big[i] = r % 7 == 0 ? 0xE8 : (uint8_t)("abcdefgh"[r % 8] + (i >> 22));
    }
    s.Write("in/big.bin", big);
    s.Write("in/small.txt", "small");
    for (const char* filter : {"x86-32", "x86-16"}) {
        SCOPED_TRACE(filter);
        const std::string archive = s(std::string(filter) + ".qar");
        ASSERT_EQ(Qar("pack -q -1 --filter " + std::string(filter) + " -o " + archive + " " + s("in")).Status, 0);
        EXPECT_LT(fs::file_size(archive), big.size() * 3 / 4);
        EXPECT_EQ(Qar("test " + archive).Status, 0);
        fs::remove_all(s("out"));
        fs::create_directories(s("out"));
        ASSERT_EQ(Qar("extract -q -y " + archive + " -d " + s("out")).Status, 0);
        EXPECT_TRUE(ReadAll(s("out/big.bin")) == big);
        EXPECT_EQ(ReadAll(s("out/small.txt")), std::vector<uint8_t>({'s', 'm', 'a', 'l', 'l'}));
    }
}

TEST(PackCli, SameInputSameBytes) {
    Scratch s;
    MakeTree(s);
    const std::string env = "SOURCE_DATE_EPOCH=1600000000 TZ=UTC";
    ASSERT_EQ(Qar("pack -o " + s("1.qar") + " " + s("in"), env).Status, 0);
    // New modification times, all later than the epoch: the archive does not change.
    const auto later = fs::file_time_type::clock::now();
    for (const auto& e : fs::recursive_directory_iterator(s("in"))) fs::last_write_time(e.path(), later);
    ASSERT_EQ(Qar("pack -o " + s("2.qar") + " " + s("in"), env).Status, 0);
    EXPECT_EQ(ReadAll(s("1.qar")), ReadAll(s("2.qar")));
    // Nor does the packer's time zone.
    ASSERT_EQ(Qar("pack -o " + s("tokyo.qar") + " " + s("in"),
                  "SOURCE_DATE_EPOCH=1600000000 TZ=Asia/Tokyo").Status, 0);
    EXPECT_EQ(ReadAll(s("1.qar")), ReadAll(s("tokyo.qar")));
    EXPECT_EQ(Qar("pack -o " + s("3.qar") + " " + s("in"), "SOURCE_DATE_EPOCH=soon").Status, 2);
}

// Every level and option set packs the tree so that `qar test` passes and `qar extract`
// gives back exactly the input.
TEST(PackCli, RoundTripsThroughTestAndExtract) {
    Scratch s;
    MakeTree(s);
    const auto input = Snapshot(s("in"));
    const char* optionSets[] = {
        "",
        "-1",
        "-9",
        "-2 --solid",
        "-4 --stream-size 100K --threads 3",
        "--stored",
        "-5 --block-size 5000",
        "-7 --table-sets 1",
        "--filter none",
        "-9 --filter x86-32",
        "-8 --filter x86-16",
        "--codepage 437 -3",
    };
    int n = 0;
    for (const char* options : optionSets) {
        SCOPED_TRACE(options);
        const std::string archive = s("a" + std::to_string(n) + ".qar");
        const std::string out = s("out" + std::to_string(n++));
        const Result pack = Qar("pack -q " + std::string(options) + " -o " + archive + " " + s("in"));
        ASSERT_EQ(pack.Status, 0) << pack.Output;
        const Result test = Qar("test " + archive);
        EXPECT_EQ(test.Status, 0) << test.Output.substr(0, 600);
        fs::create_directories(out);
        const Result extract = Qar("extract -q -y " + archive + " -d " + out);
        EXPECT_EQ(extract.Status, 0) << extract.Output.substr(0, 600);
        EXPECT_TRUE(Snapshot(out) == input);
    }
}
