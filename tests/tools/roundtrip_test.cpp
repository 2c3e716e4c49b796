// Real trees through `qar pack` and back through `qar extract`: identical bytes and time
// stamps; and `qar test` against damaged copies of packed archives.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <string>

#include "decode/crc32.h"
#include "tests/support/archive_builder.h"
#include "tools/commands.h"

using namespace qartest;
namespace fs = std::filesystem;

namespace {

const std::string kQar = std::string(QAR_BINARY_DIR) + "/qar";

// Runs qar; its messages are kept in *messages when asked for.
int Qar(const std::string& args, std::string* messages = nullptr) {
    char log[] = "/tmp/qar-roundtrip-log-XXXXXX";
    close(mkstemp(log));
    std::string command = "'" + kQar + "' " + args + " >" + log + " 2>&1 </dev/null";
    int raw = system(command.c_str());
    if (messages != nullptr) {
        Bytes text = ReadWholeFile(log);
        messages->assign(text.begin(), text.end());
    }
    unlink(log);
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
}

// `qar test -q FILE` in this process, its output silenced: thousands of runs stay quick.
int TestInProcess(const std::string& file) {
    fflush(stdout);
    fflush(stderr);
    int savedOut = dup(1), savedErr = dup(2);
    int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    dup2(null, 2);
    std::string path = file;
    char* argv[] = {(char*)"test", (char*)"-q", path.data(), nullptr};
    int status = CmdTest(3, argv);
    fflush(stdout);
    fflush(stderr);
    dup2(savedOut, 1);
    dup2(savedErr, 2);
    close(savedOut);
    close(savedErr);
    close(null);
    return status;
}

// A local time on an even second, as a DOS time stamp can hold it.
time_t LocalTime(int year, int month, int day, int hour, int minute, int second) {
    struct tm t = {};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    t.tm_isdst = -1;
    return mktime(&t);
}

void SetTime(const std::string& path, time_t when) {
    struct timespec times[2] = {{when, 0}, {when, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}

struct Item {
    bool Folder;
    Bytes Data;
    time_t Time;
};

// Relative path -> folder or file with bytes and modification time.
std::map<std::string, Item> Snapshot(const std::string& root) {
    std::map<std::string, Item> out;
    for (const auto& e : fs::recursive_directory_iterator(root)) {
        struct stat st;
        stat(e.path().c_str(), &st);
        Item item{e.is_directory(), {}, st.st_mtime};
        if (!item.Folder) item.Data = ReadWholeFile(e.path().string());
        out[fs::relative(e.path(), root).string()] = item;
    }
    return out;
}

void ExpectSameTree(const std::string& a, const std::string& b) {
    auto left = Snapshot(a), right = Snapshot(b);
    ASSERT_EQ(left.size(), right.size());
    for (const auto& [name, item] : left) {
        auto it = right.find(name);
        ASSERT_NE(it, right.end()) << name;
        EXPECT_EQ(item.Folder, it->second.Folder) << name;
        if (item.Folder) continue;
        EXPECT_EQ(item.Data, it->second.Data) << name;
        EXPECT_EQ(item.Time, it->second.Time) << name;
    }
}

class RoundTrip : public ::testing::Test {
protected:
    void SetUp() override { root_ = MakeTempFolder("roundtrip"); }
    void TearDown() override { RemoveTree(root_); }
    std::string P(const std::string& relative) const { return root_ + "/" + relative; }
    std::string Q(const std::string& relative) const { return "'" + P(relative) + "'"; }
    std::string root_;
};

TEST_F(RoundTrip, ThousandsOfFilesInNestedFolders) {
    const std::string src = P("src");
    time_t base = LocalTime(2016, 7, 1, 12, 0, 0);
    uint32_t seed = 1;
    for (int top = 0; top < 8; ++top) {
        for (int mid = 0; mid < 10; ++mid) {
            std::string folder = src + "/top " + std::to_string(top) + "/mid" + std::to_string(mid);
            if (mid % 3 == 0) folder += "/deep/er";
            fs::create_directories(folder);
            for (int f = 0; f < 30; ++f, ++seed) {
                std::string file = folder + "/file" + std::to_string(f) + (f % 4 == 0 ? ".bin" : ".txt");
                Bytes data;
                switch (seed % 5) {
                    case 0: break;   // empty
                    case 1: data = RandomBytes(seed % 3000, seed); break;
                    case 2: data = CodeLikeBytes(2000 + seed % 5000, seed); break;
                    default: {
                        std::string text;
                        while (text.size() < seed % 9000) text += "line " + std::to_string(text.size() % 97) + " of text\n";
                        data.assign(text.begin(), text.end());
                    }
                }
                WriteWholeFile(file, data);
                SetTime(file, base + 2 * (time_t)seed);
            }
        }
    }
    fs::create_directories(src + "/empty folder");
    ASSERT_GT(Snapshot(src).size(), 2000u);

    for (const char* filter : {"auto", "x86-32", "x86-16"}) {
        SCOPED_TRACE(filter);
        fs::remove_all(P("out"));
        ASSERT_EQ(Qar("pack -q --filter " + std::string(filter) + " -o " + Q("t.qar") + " " + Q("src")), 0);
        ASSERT_EQ(Qar("test -q " + Q("t.qar")), 0);
        ASSERT_EQ(Qar("extract -q " + Q("t.qar") + " -d " + Q("out")), 0);
        ExpectSameTree(src, P("out"));
    }
}

TEST_F(RoundTrip, TestNeverPassesAlteredData) {
    // Every single-bit flip anywhere in the streams, stored or compressed, is either found or
    // provably left the extracted bytes unchanged (a flip in a member's bytes always changes
    // them, so it is always found).
    BuildCrcTable();
    fs::create_directories(P("src"));
    std::string text;
    while (text.size() < 300) text += "the quick brown fox " + std::to_string(text.size()) + "\n";
    WriteWholeFile(P("src/a.txt"), Bytes(text.begin(), text.end()));
    WriteWholeFile(P("src/code.bin"), CodeLikeBytes(160, 5));

    for (const char* mode : {"--stored", "-9"}) {
        SCOPED_TRACE(mode);
        ASSERT_EQ(Qar("pack -q --filter x86-32 " + std::string(mode) + " -o " + Q("t.qar") + " " + Q("src")), 0);
        Bytes archive = ReadWholeFile(P("t.qar"));
        uint32_t directory = ReadLe32(archive.data() + 4);
        ASSERT_LE(directory, archive.size());
        for (size_t bit = (42 + 6) * 8; bit < (size_t)directory * 8; ++bit) {
            Bytes flipped = archive;
            flipped[bit / 8] ^= (uint8_t)(1u << (bit % 8));
            WriteWholeFile(P("f.qar"), flipped);
            int status = TestInProcess(P("f.qar"));
            ASSERT_TRUE(status == 0 || status == 1) << "bit " << bit << " status " << status;
            if (status == 1) continue;
            fs::remove_all(P("out"));
            std::string messages;
            ASSERT_EQ(Qar("extract -q " + Q("f.qar") + " -d " + Q("out"), &messages), 0)
                << "bit " << bit << ": " << messages;
            EXPECT_EQ(ReadWholeFile(P("out/a.txt")), ReadWholeFile(P("src/a.txt"))) << "bit " << bit;
            EXPECT_EQ(ReadWholeFile(P("out/code.bin")), ReadWholeFile(P("src/code.bin"))) << "bit " << bit;
        }
    }
}

}  // namespace
