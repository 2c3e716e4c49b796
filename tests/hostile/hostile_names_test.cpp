// Names that try to leave the destination or to alias something other than a plain file in
// it: each archive holds a sound file, then the hostile entry, then another sound file.
// Whatever the name, nothing may appear or change outside the destination, nothing may be
// written under the hostile name, and the run must not pass for a success. Runs natively and
// under Wine, where the file system gives drive letters, devices and streams their meaning.
#include <gtest/gtest.h>

#include <string.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>

#include "decode/crc32.h"
#include "extract/extract.h"
#include "platform/errors.h"
#include "profile/profile.h"
#include "profile/state.h"
#include "tests/support/archive_builder.h"
#include "tests/support/fake_ui.h"

using namespace qartest;
namespace fs = std::filesystem;

namespace {

const Bytes kHostile = {'h', 'o', 's', 't', 'i', 'l', 'e', '!'};
const Bytes kSound = {'s', 'o', 'u', 'n', 'd'};

// The bytes of a file, opened by its path object: names of any code page stay readable.
Bytes ReadPath(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Every path under root, relative, with '/' separators.
std::set<std::string> Listing(const fs::path& root) {
    std::set<std::string> out;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        out.insert(it->path().lexically_relative(root).generic_u8string());
    }
    return out;
}

class HostileNames : public ::testing::Test {
protected:
    void SetUp() override {
        BuildCrcTable();
        root_ = MakeTempFolder("hostile-names");
        // The destination lies three levels down, so that names climbing up land in the
        // work folder where they are seen; the canary beside it must stay as it is.
        fs::create_directories(fs::path(root_) / "up1" / "up2");
        dest_ = (fs::path(root_) / "up1" / "up2" / "dest").string();
        WriteWholeFile((fs::path(root_) / "up1" / "up2" / "x").string(), {'c', 'a', 'n'});
        before_ = Listing(root_);
        Profile.OverwriteWithoutPrompt = 1;
        TheFakeUi.Reset();
    }
    void TearDown() override {
        UnloadArchive();
        TheFakeUi.Reset();
        RemoveTree(root_);
    }

    // Extracts an archive of first.txt, the hostile entry and last.txt; returns the result
    // of ExtractAll.
    int Extract(const std::string& name, bool folder = false) {
        ArchiveBuilder b;
        b.AddFile("first.txt", kSound);
        if (folder) {
            b.AddFolder(name);
        } else {
            b.AddFile(name, kHostile);
        }
        b.AddFile("last.txt", kSound);
        EXPECT_TRUE(LoadArchive(b.Build(), root_));
        memset(Profile.DestinationFolder, 0, sizeof Profile.DestinationFolder);
        strncpy(Profile.DestinationFolder, CorePath(dest_).c_str(), sizeof Profile.DestinationFolder - 1);
        return ExtractAll(nullptr);
    }

    // What appeared under root outside the destination (the archive file aside).
    std::set<std::string> Outside() const {
        std::set<std::string> out;
        for (const std::string& p : Listing(root_)) {
            if (before_.count(p) || p == "archive.qar" || p == "up1/up2/dest" ||
                p.rfind("up1/up2/dest/", 0) == 0) {
                continue;
            }
            out.insert(p);
        }
        return out;
    }

    // True when some file under the destination holds the hostile bytes.
    bool HostileWritten() const {
        std::error_code ec;
        if (!fs::exists(dest_, ec)) return false;
        for (auto it = fs::recursive_directory_iterator(dest_, ec);
             !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
            if (it->is_regular_file(ec) && ReadPath(it->path()) == kHostile) return true;
        }
        return false;
    }

    std::string root_, dest_;
    std::set<std::string> before_;
};

// Names that climb out of the destination, name another drive or a share, or reach a
// stream of a file: refused as damage before anything is made, and the run is no success.
TEST_F(HostileNames, NamesLeavingTheDestinationAreRefused) {
    for (const char* name : {"..\\x", "a\\..\\..\\x", "..\\..\\..\\x", "\\x", "C:x", "C:\\x",
                             "\\\\server\\share\\x", "x:stream", "first.txt:stream", "a/../../x",
                             "/x", "a\\.\\..\\..\\x", ". .\\x", "...\\x"}) {
        SCOPED_TRACE(name);
        TheFakeUi.Reset();
        EXPECT_EQ(Extract(name), ErrDamaged);
        EXPECT_TRUE(Outside().empty()) << *Outside().begin();
        EXPECT_FALSE(HostileWritten());
        EXPECT_TRUE(TheFakeUi.StartedPrograms.empty());
        EXPECT_EQ(ReadWholeFile((fs::path(root_) / "up1" / "up2" / "x").string()), Bytes({'c', 'a', 'n'}));
        RemoveTree(dest_);
    }
}

// Device names, in any case and with any extension, would send the member's bytes to a device
// (or read the console) while the CRC check still passes; names ending in a full stop or a
// space are stored by Windows without it and would replace another entry; control
// characters have no place in a file name. All are refused, as folders and as files.
TEST_F(HostileNames, DevicesAliasesAndControlCharactersAreRefused) {
    for (const char* name : {"NUL", "nul", "con.txt", "COM1", "com9.log", "LPT1", "lpt3.x.y", "COM\xb9", "lpt\xb2.txt", "AUX",
                             "prn", "CON", "Nul.tar.gz", "conin$", "CONOUT$", "sub\\NUL",
                             "NUL\\x", "aux \\x", "x.", "x ", "x. ", "sub.\\x", "sub \\x",
                             "first.txt.", "a\x01" "b", "tab\tname", "line\nbreak", "\x1f"}) {
        SCOPED_TRACE(testing::PrintToString(std::string(name)));
        for (bool folder : {false, true}) {
            TheFakeUi.Reset();
            EXPECT_EQ(Extract(name, folder), ErrDamaged);
            EXPECT_TRUE(Outside().empty());
            EXPECT_FALSE(HostileWritten());
            EXPECT_TRUE(TheFakeUi.StartedPrograms.empty());
            // The sound entry in front was made; the refused one ended the run.
            EXPECT_EQ(ReadWholeFile(dest_ + "/first.txt"), kSound);
            EXPECT_FALSE(fs::exists(dest_ + "/last.txt"));
            RemoveTree(dest_);
        }
    }
}

// Names that only look unusual are extracted like any other: the refusals above must not
// catch them.
TEST_F(HostileNames, UnusualButPlainNamesAreExtracted) {
    for (const char* name : {"..a", "a..b", "nul1", "console.txt", "com10", "lpt", "auxiliary\\x",
                             "con-x", "x.nul", ".profile", "a b", "a.b.c"}) {
        SCOPED_TRACE(name);
        TheFakeUi.Reset();
        EXPECT_EQ(Extract(name), 0);
        EXPECT_TRUE(TheFakeUi.Messages.empty()) << TheFakeUi.Messages[0].Text;
        EXPECT_TRUE(HostileWritten());
        EXPECT_EQ(ReadWholeFile(dest_ + "/last.txt"), kSound);
        EXPECT_TRUE(Outside().empty());
        RemoveTree(dest_);
    }
}

}  // namespace
