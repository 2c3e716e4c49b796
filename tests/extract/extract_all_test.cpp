// The extraction loop: what is written, asked, shown and started, and how each failure
// ends (or does not end) a run.
#include <gtest/gtest.h>

#include <ctype.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>

#include <filesystem>
#include <string>
#include <vector>

#include "decode/crc32.h"
#include "extract/extract.h"
#include "profile/product.h"
#include "platform/errors.h"
#include "platform/fs.h"
#include "profile/profile.h"
#include "profile/state.h"
#include "tests/support/archive_builder.h"
#include "tests/support/fake_ui.h"

using namespace qartest;
namespace fs = std::filesystem;

namespace {

WindowHandle const kDialog = (WindowHandle)0x4711;

class ExtractAllTest : public ::testing::Test {
protected:
    void SetUp() override {
        BuildCrcTable();
        root_ = MakeTempFolder("extract");
        dest_ = root_ + "/dest";
        destination_ = CorePath(dest_);
        Profile.OverwriteWithoutPrompt = 1;
        Profile.CancelRequested = 0;
        TheFakeUi.Reset();
    }
    void TearDown() override {
        UnloadArchive();
        Profile.CancelRequested = 0;
        TheFakeUi.Reset();
        RemoveTree(root_);
    }
    // The destination text as the dialog would give it to every run.
    void SetDestination(const std::string& text) { destination_ = text; }
    int Run(const Bytes& archive) {
        memset(Profile.DestinationFolder, 0, sizeof Profile.DestinationFolder);
        strncpy(Profile.DestinationFolder, destination_.c_str(), sizeof Profile.DestinationFolder - 1);
        UnloadArchive();
        EXPECT_TRUE(LoadArchive(archive, root_));
        return ExtractAll(kDialog);
    }
    int Run(ArchiveBuilder& b) { return Run(b.Build()); }

    // The path the loop builds for a name.
    std::string CoreName(const std::string& name) const { return CorePath(dest_) + "\\" + name; }
    std::string Disk(const std::string& name) const {
        std::string p = dest_ + "/" + name;
        for (char& c : p) {
            if (c == '\\') c = '/';
        }
        return p;
    }
    bool Started() const { return !TheFakeUi.StartedPrograms.empty(); }
    std::string Shown(size_t i = 0) const {
        return i < TheFakeUi.Messages.size() ? TheFakeUi.Messages[i].Text : std::string("(none)");
    }
    size_t FilesUnder(const std::string& folder) const {
        size_t n = 0;
        for (auto& e : fs::recursive_directory_iterator(folder)) n += e.is_regular_file() ? 1 : 0;
        return n;
    }

    std::string root_, dest_, destination_;
};

TEST_F(ExtractAllTest, ExtractsTreeShowsProgressAndStartsTheProgram) {
    ArchiveBuilder b;
    b.BlockSize = 1000;
    b.EntriesPerDirectoryBlock = 2;
    b.AddFolder("docs");
    b.AddFolder("docs\\deep\\er");
    b.AddFile("docs\\readme.txt", RandomBytes(2500, 1));
    b.AddFile("docs\\deep\\er\\data.bin", RandomBytes(10, 2), 0, 1);
    b.AddFile(Product.ProgramToRun, CodeLikeBytes(5000, 3), FlagCallFilter32);
    b.AddFile("missing\\folder\\x.dat", RandomBytes(77, 4));   // no folder entry before it
    EXPECT_EQ(Run(b), 0);
    for (const auto& e : b.Entries) {
        if (e.Fields.Flags & FlagFolder) {
            EXPECT_TRUE(fs::is_directory(Disk(e.Name))) << e.Name;
        } else {
            EXPECT_EQ(ReadWholeFile(Disk(e.Name)), e.Plain) << e.Name;
        }
    }
    ASSERT_EQ(TheFakeUi.Progress.size(), 4u);
    EXPECT_EQ(TheFakeUi.Progress[0], "Extracting docs\\readme.txt");
    EXPECT_EQ(TheFakeUi.Progress[3], "Extracting missing\\folder\\x.dat");
    EXPECT_TRUE(TheFakeUi.Messages.empty());
    ASSERT_EQ(TheFakeUi.StartedPrograms.size(), 1u);
    EXPECT_EQ(TheFakeUi.StartedPrograms[0], CoreName(Product.ProgramToRun));
    // Once before each member and once after each entry.
    EXPECT_EQ(TheFakeUi.PumpCount, 4 + 6);
    EXPECT_EQ(LastRunCounts.Files, 4u);
    EXPECT_EQ(LastRunCounts.Folders, 2u);
}

TEST_F(ExtractAllTest, ProgramStartsOnlyFromAFileThisRunWroteAndVerified) {
    const std::string started = CoreName(Product.ProgramToRun);
    std::string upper = Product.ProgramToRun;
    for (char& c : upper) c = (char)toupper((unsigned char)c);
    ArchiveBuilder b;
    b.AddFile("a.txt", RandomBytes(10, 40));
    size_t program = b.AddFile(Product.ProgramToRun, RandomBytes(300, 41));
    b.AddFile("z.txt", RandomBytes(10, 42));
    b.Layout();
    fs::create_directories(dest_);
    WriteWholeFile(Disk(Product.ProgramToRun), Bytes(3, 'o'));

    // The user keeps the program file that is already there: it was not written now.
    Profile.OverwriteWithoutPrompt = 0;
    TheFakeUi.OverwriteAnswers = {kOverwriteNo};
    EXPECT_EQ(Run(b.Write()), 0);
    EXPECT_EQ(ReadWholeFile(Disk(Product.ProgramToRun)), Bytes(3, 'o'));
    EXPECT_EQ(LastRunCounts.Skipped, 1u);
    EXPECT_FALSE(Started());

    // Replaced: started once, after the last entry.
    TheFakeUi.Reset();
    Profile.OverwriteWithoutPrompt = 1;
    EXPECT_EQ(Run(b.Write()), 0);
    EXPECT_TRUE(fs::exists(Disk("z.txt")));
    ASSERT_EQ(TheFakeUi.StartedPrograms.size(), 1u);
    EXPECT_EQ(TheFakeUi.StartedPrograms[0], started);

    // An archive without the program: the file left by an earlier run is not started.
    ArchiveBuilder without;
    without.AddFile("a.txt", RandomBytes(10, 43));
    TheFakeUi.Reset();
    EXPECT_EQ(Run(without), 0);
    EXPECT_TRUE(fs::exists(Disk(Product.ProgramToRun)));
    EXPECT_FALSE(Started());

    // The program's own member fails (its CRC-32, or it comes out short), and the user goes
    // on: the run ends without errors, but there is no program to start. (The earlier file is
    // removed first: the POSIX layer keeps a file that a failed member was to replace.)
    fs::remove(Disk(Product.ProgramToRun));
    for (int shortMember = 0; shortMember < 2; ++shortMember) {
        ArchiveBuilder bad = b;
        DirectoryEntry& f = bad.Entries[program].Fields;
        if (shortMember) {
            f.MemberOffset = (uint32_t)bad.Streams[0].Decoded.size();
            f.MemberSize = 1u << 30;
            f.MemberCrc = 0;
        } else {
            f.MemberCrc ^= 0x8000;
        }
        TheFakeUi.Reset();
        TheFakeUi.MessageAnswers = {kAnswerOk};
        EXPECT_EQ(Run(bad.Write()), 0) << shortMember;
        EXPECT_FALSE(fs::exists(Disk(Product.ProgramToRun))) << shortMember;
        EXPECT_TRUE(fs::exists(Disk("z.txt"))) << shortMember;
        EXPECT_EQ(TheFakeUi.Messages.size(), 1u) << shortMember;
        EXPECT_FALSE(Started()) << shortMember;
    }

    // Names are compared as the file system compares them, without case; a later entry of
    // the same name decides, so a failed second copy leaves nothing to start.
    ArchiveBuilder cased;
    cased.AddFile(upper, RandomBytes(10, 44));
    TheFakeUi.Reset();
    EXPECT_EQ(Run(cased), 0);
    ASSERT_EQ(TheFakeUi.StartedPrograms.size(), 1u);
    EXPECT_EQ(TheFakeUi.StartedPrograms[0], started);

    ArchiveBuilder twice;
    twice.AddFile(Product.ProgramToRun, RandomBytes(10, 45));
    size_t second = twice.AddFile(upper, RandomBytes(10, 46));
    twice.Layout();
    twice.Entries[second].Fields.MemberCrc ^= 1;
    TheFakeUi.Reset();
    TheFakeUi.MessageAnswers = {kAnswerOk};
    EXPECT_EQ(Run(twice.Write()), 0);
    EXPECT_EQ(LastRunCounts.Failed, 1u);
    EXPECT_FALSE(Started());

    // Only letters have a case: bytes that differ in that bit alone are otherwise different
    // names ("{" is not "["), and such an entry neither replaces nor releases the program.
    const char* const shipped = Product.ProgramToRun;
    Product.ProgramToRun = "T[1].exe";
    const Bytes held = RandomBytes(10, 47);
    ArchiveBuilder braced;
    braced.AddFile("t[1].EXE", held);
    braced.AddFile("t{1}.exe", RandomBytes(10, 48));
    TheFakeUi.Reset();
    EXPECT_EQ(Run(braced), 0);
    EXPECT_TRUE(fs::exists(Disk("t{1}.exe")));
    EXPECT_EQ(ReadWholeFile(Disk("T[1].exe")), held);
    ASSERT_EQ(TheFakeUi.StartedPrograms.size(), 1u);
    EXPECT_EQ(TheFakeUi.StartedPrograms[0], CoreName("T[1].exe"));
    Product.ProgramToRun = shipped;
}

TEST_F(ExtractAllTest, EmptyMemberAndTimeStampsAndReadOnly) {
    ArchiveBuilder b;
    size_t empty = b.AddFile("empty.txt", Bytes());
    size_t ro = b.AddFile("ro.txt", RandomBytes(30, 5));
    b.Layout();
    b.Entries[empty].Fields.WriteDate = (uint16_t)((30 << 9) | (6 << 5) | 15);   // 2010-06-15
    b.Entries[empty].Fields.WriteTime = (uint16_t)((8 << 11) | (30 << 5) | 5);   // 08:30:10
    b.Entries[ro].Fields.Attributes = 0x21;
    EXPECT_EQ(Run(b.Write()), 0);

    struct stat st;
    ASSERT_EQ(stat(Disk("empty.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 0);
    struct tm local = {};
    local.tm_year = 110;
    local.tm_mon = 5;
    local.tm_mday = 15;
    local.tm_hour = 8;
    local.tm_min = 30;
    local.tm_sec = 10;
    local.tm_isdst = -1;
    EXPECT_EQ((long long)st.st_mtime, (long long)mktime(&local));   // local time, as written

    EXPECT_NE(FsGetAttributes(CoreName("ro.txt").c_str()) & kAttrReadOnly, 0);
    EXPECT_EQ(FsGetAttributes(CoreName("empty.txt").c_str()) & kAttrReadOnly, 0);
}

TEST_F(ExtractAllTest, OverwriteAnswersYesNoAndYesToAll) {
    ArchiveBuilder b;
    b.AddFile("a.txt", RandomBytes(10, 6));
    b.AddFile("b.txt", RandomBytes(10, 7));
    b.AddFile("c.txt", RandomBytes(10, 8));
    b.AddFile("d.txt", RandomBytes(10, 9));
    b.Layout();
    fs::create_directories(dest_);
    for (const char* n : {"a.txt", "b.txt", "c.txt", "d.txt"}) WriteWholeFile(Disk(n), Bytes(3, 'o'));

    Profile.OverwriteWithoutPrompt = 0;
    TheFakeUi.OverwriteAnswers = {kOverwriteYes, kOverwriteNo, kOverwriteYesToAll};
    EXPECT_EQ(Run(b.Write()), 0);
    EXPECT_EQ(ReadWholeFile(Disk("a.txt")), b.Entries[0].Plain);
    EXPECT_EQ(ReadWholeFile(Disk("b.txt")), Bytes(3, 'o'));
    EXPECT_EQ(ReadWholeFile(Disk("c.txt")), b.Entries[2].Plain);
    EXPECT_EQ(ReadWholeFile(Disk("d.txt")), b.Entries[3].Plain);
    // After Yes To All nobody is asked again; each prompt names the existing file.
    ASSERT_EQ(TheFakeUi.OverwritePrompts.size(), 3u);
    EXPECT_EQ(TheFakeUi.OverwritePrompts[1], CoreName("b.txt"));
    EXPECT_EQ(Profile.OverwriteWithoutPrompt, 1);
    EXPECT_EQ(LastRunCounts.Skipped, 1u);
}

TEST_F(ExtractAllTest, PromptThatCannotBeShownCountsAsYes) {
    ArchiveBuilder b;
    b.AddFile("a.txt", RandomBytes(10, 6));
    b.Layout();
    fs::create_directories(dest_);
    WriteWholeFile(Disk("a.txt"), Bytes(3, 'o'));
    Profile.OverwriteWithoutPrompt = 0;
    TheFakeUi.OverwriteAnswers = {-1};
    EXPECT_EQ(Run(b.Write()), 0);
    EXPECT_EQ(ReadWholeFile(Disk("a.txt")), b.Entries[0].Plain);
}

TEST_F(ExtractAllTest, ExistingFolderWhereAFileGoesAsksCreateQuestion) {
    ArchiveBuilder b;
    b.AddFile("clash", RandomBytes(10, 10));
    b.AddFile("after.txt", RandomBytes(10, 11));
    b.AddFile(Product.ProgramToRun, RandomBytes(10, 29));
    fs::create_directories(dest_ + "/clash");
    Profile.OverwriteWithoutPrompt = 0;
    TheFakeUi.MessageAnswers = {kAnswerOk};
    EXPECT_EQ(Run(b), 0);
    EXPECT_TRUE(TheFakeUi.OverwritePrompts.empty());   // folders are not asked about
    ASSERT_EQ(TheFakeUi.Messages.size(), 1u);
    EXPECT_EQ(Shown().rfind("Cannot create " + CoreName("clash"), 0), 0u) << Shown();
    EXPECT_EQ(TheFakeUi.Messages[0].Style, kBoxOkCancel | kBoxWarning);
    EXPECT_EQ(TheFakeUi.Messages[0].Owner, kDialog);
    EXPECT_TRUE(fs::exists(Disk("after.txt")));        // OK goes on
    EXPECT_TRUE(Started());

    TheFakeUi.Reset();
    fs::remove(Disk("after.txt"));
    TheFakeUi.MessageAnswers = {kAnswerCancel};
    EXPECT_EQ(Run(b.Write()), 0);
    EXPECT_FALSE(fs::exists(Disk("after.txt")));       // Cancel stops
    EXPECT_FALSE(Started());
}

TEST_F(ExtractAllTest, CrcMismatchOrShortMemberDeletesTheFileThenAsks) {
    // A CRC-32 that differs, and a member declaring 1 GiB whose stream yields no byte at
    // all, with the CRC-32 of no bytes (0): both fail the same way.
    for (int shortMember = 0; shortMember < 2; ++shortMember) {
        ArchiveBuilder b;
        size_t bad = b.AddFile("bad.bin", RandomBytes(100, 12));
        b.AddFile("good.bin", RandomBytes(100, 13));
        b.AddFile(Product.ProgramToRun, RandomBytes(100, 14));
        b.Layout();
        DirectoryEntry& f = b.Entries[bad].Fields;
        if (shortMember) {
            f.MemberOffset = (uint32_t)b.Streams[0].Decoded.size();
            f.MemberSize = 1u << 30;
            f.MemberCrc = 0;
        } else {
            f.MemberCrc ^= 1;
        }
        RemoveTree(dest_);
        TheFakeUi.Reset();
        TheFakeUi.MessageAnswers = {kAnswerOk};
        EXPECT_EQ(Run(b.Write()), 0) << shortMember;
        EXPECT_FALSE(fs::exists(Disk("bad.bin"))) << shortMember;
        EXPECT_TRUE(fs::exists(Disk("good.bin"))) << shortMember;
        ASSERT_EQ(TheFakeUi.Messages.size(), 1u) << shortMember;
        EXPECT_EQ(Shown(), "File \"" + CoreName("bad.bin") + "\" fails error check");
        EXPECT_EQ(TheFakeUi.Messages[0].Style, kBoxOkCancel | kBoxWarning) << shortMember;
        EXPECT_EQ(LastRunCounts.Failed, 1u) << shortMember;
        EXPECT_EQ(LastRunCounts.Files, 2u) << shortMember;
        // Another file failed, but the program itself was written and verified.
        EXPECT_TRUE(Started()) << shortMember;

        TheFakeUi.Reset();
        fs::remove(Disk("good.bin"));
        TheFakeUi.MessageAnswers = {kAnswerCancel};
        EXPECT_EQ(Run(b.Write()), 0) << shortMember;
        EXPECT_FALSE(fs::exists(Disk("bad.bin"))) << shortMember;
        EXPECT_FALSE(fs::exists(Disk("good.bin"))) << shortMember;
        EXPECT_FALSE(Started()) << shortMember;
    }
}

TEST_F(ExtractAllTest, MemberFailureIsShownAndStopsTheRun) {
    ArchiveBuilder b;
    b.BlockSize = 100;
    b.AddFile(Product.ProgramToRun, RandomBytes(10, 30));
    b.AddFile("broken.bin", RandomBytes(500, 14));
    b.AddFile("next.bin", RandomBytes(10, 15), 0, 1);
    b.Layout();
    b.Streams[0].Blocks[3][0] |= 0x0F;   // a block type that does not exist
    EXPECT_EQ(Run(b.Write()), 0);
    EXPECT_FALSE(fs::exists(Disk("broken.bin")));
    EXPECT_FALSE(fs::exists(Disk("next.bin")));
    ASSERT_EQ(TheFakeUi.Messages.size(), 1u);
    EXPECT_EQ(Shown().rfind("Archive data is damaged", 0), 0u);
    EXPECT_EQ(TheFakeUi.Messages[0].Style, kBoxOk | kBoxWarning);
    EXPECT_TRUE(fs::exists(Disk(Product.ProgramToRun)));
    EXPECT_FALSE(Started());
}

TEST_F(ExtractAllTest, CancelDuringTheLastMemberDeletesItQuietly) {
    ArchiveBuilder b;
    b.AddFile("first.bin", RandomBytes(100, 16));
    b.AddFile("last.bin", RandomBytes(100, 17), 0, 1);
    b.Layout();
    // Pumps: before member 1, after entry 1, before member 2: the user cancels there.
    TheFakeUi.OnPump = [](int count) {
        if (count == 3) Profile.CancelRequested = 1;
    };
    EXPECT_EQ(Run(b.Write()), 0);
    EXPECT_TRUE(fs::exists(Disk("first.bin")));
    EXPECT_FALSE(fs::exists(Disk("last.bin")));
    EXPECT_TRUE(TheFakeUi.Messages.empty());
    EXPECT_FALSE(Started());
}

TEST_F(ExtractAllTest, CancelBetweenEntriesStopsAtTheNextCheck) {
    ArchiveBuilder b;
    b.AddFile(Product.ProgramToRun, RandomBytes(100, 16));
    b.AddFile("second.bin", RandomBytes(100, 17));
    TheFakeUi.OnPump = [](int count) {
        if (count == 2) Profile.CancelRequested = 1;
    };
    EXPECT_EQ(Run(b), 0);
    EXPECT_TRUE(fs::exists(Disk(Product.ProgramToRun)));
    EXPECT_FALSE(fs::exists(Disk("second.bin")));
    EXPECT_FALSE(Started());
}

TEST_F(ExtractAllTest, NamesLeavingTheDestinationAreDamage) {
    // A zero byte inside a name would cut it short on the way to the file system: damage too.
    for (const std::string& name : std::vector<std::string>{
             "..\\outside.txt", "sub\\..\\..\\outside.txt", "\\outside.txt",
             "C:outside.txt", "sub/../../outside.txt", "sub\\\\x", ".. \\x",
             std::string("inside\0..\\x.txt", 15)}) {
        ArchiveBuilder b;
        b.AddFile(Product.ProgramToRun, RandomBytes(10, 18));
        b.AddFile(name, RandomBytes(10, 19));
        b.AddFile("after.txt", RandomBytes(10, 20));
        TheFakeUi.Reset();
        EXPECT_EQ(Run(b), ErrDamaged) << name;
        EXPECT_FALSE(Started()) << name;
        EXPECT_FALSE(fs::exists(Disk("after.txt"))) << name;
        // Nothing was written beside the destination: only the archive lies there.
        for (auto& e : fs::directory_iterator(root_)) {
            std::string leaf = e.path().filename().string();
            EXPECT_TRUE(leaf == "dest" || leaf == "archive.qar") << name << ": " << leaf;
        }
        EXPECT_EQ(FilesUnder(dest_), 1u) << name;   // the program, not started
        RemoveTree(dest_);
    }
}

TEST_F(ExtractAllTest, DirectoryDamageEndsTheRunWithoutStartingTheProgram) {
    {
        // More entries announced than present.
        ArchiveBuilder b;
        b.AddFile("a.txt", RandomBytes(10, 21));
        b.AddFile(Product.ProgramToRun, RandomBytes(10, 22));
        b.HeaderEntryCountSet = true;
        b.HeaderEntryCount = 3;
        EXPECT_EQ(Run(b), ErrDamaged);
        EXPECT_TRUE(fs::exists(Disk("a.txt")));
        EXPECT_TRUE(fs::exists(Disk(Product.ProgramToRun)));
        EXPECT_FALSE(Started());
    }
    {
        // A name that runs past the decoded bytes, and extra bytes that do.
        for (int which = 0; which < 2; ++which) {
            ArchiveBuilder b;
            b.AddFile(Product.ProgramToRun, RandomBytes(10, 21));
            size_t last = b.AddFile("b.txt", RandomBytes(10, 22));
            b.Layout();
            if (which == 0) {
                b.Entries[last].Fields.NameLength = 6;
            } else {
                b.Entries[last].Fields.ExtraLengthWord = 1;
            }
            TheFakeUi.Reset();
            EXPECT_EQ(Run(b.Write()), ErrDamaged) << which;
            EXPECT_FALSE(fs::exists(Disk("b.txt"))) << which;
            EXPECT_TRUE(fs::exists(Disk(Product.ProgramToRun))) << which;
            EXPECT_FALSE(Started()) << which;
        }
    }
    {
        // A directory block without its signature.
        ArchiveBuilder b;
        b.AddFile(Product.ProgramToRun, RandomBytes(10, 21));
        Bytes bytes = b.Build();
        bytes[ReadLe32(bytes.data() + 4)] = 'X';
        TheFakeUi.Reset();
        EXPECT_EQ(Run(bytes), ErrDamaged);
        EXPECT_FALSE(Started());
    }
}

TEST_F(ExtractAllTest, ShortArchiveAndUnmakeableDestination) {
    EXPECT_EQ(Run(Bytes(41, 0)), ErrDamaged);
    EXPECT_FALSE(fs::exists(dest_));
    EXPECT_FALSE(Started());

    ArchiveBuilder b;
    b.AddFile("a.txt", RandomBytes(10, 23));
    WriteWholeFile(root_ + "/plainfile", Bytes(1, 0));
    SetDestination(CorePath(root_ + "/plainfile/dest"));
    EXPECT_EQ(Run(b), 0);
    ASSERT_EQ(TheFakeUi.Messages.size(), 1u);
    EXPECT_EQ(Shown().rfind("Cannot create folder " + CorePath(root_ + "/plainfile/dest"), 0), 0u) << Shown();
    EXPECT_FALSE(Started());
}

TEST_F(ExtractAllTest, FolderEntryThatCannotBeMadeStops) {
    ArchiveBuilder b;
    b.AddFile(Product.ProgramToRun, RandomBytes(10, 31));
    b.AddFile("f", RandomBytes(10, 24));
    b.AddFolder("f\\sub");
    b.AddFile("later.txt", RandomBytes(10, 25));
    EXPECT_EQ(Run(b), 0);
    ASSERT_EQ(TheFakeUi.Messages.size(), 1u);
    EXPECT_EQ(Shown().rfind("Cannot create folder " + CoreName("f\\sub"), 0), 0u) << Shown();
    EXPECT_EQ(TheFakeUi.Messages[0].Style, kBoxOk | kBoxWarning);
    EXPECT_FALSE(fs::exists(Disk("later.txt")));
    EXPECT_TRUE(fs::exists(Disk(Product.ProgramToRun)));
    EXPECT_FALSE(Started());
}

TEST_F(ExtractAllTest, LongNamesAreLeftOutAndDestinationIsBounded) {
    // The destination leaves room for names of 259 - (its length + 1) characters.
    std::string base = CorePath(dest_);
    ArchiveBuilder b;
    size_t room = 259 - (base.size() + 1);
    b.AddFile(std::string(room + 1, 'L'), RandomBytes(5, 26));
    b.AddFile("ok.txt", RandomBytes(5, 27));
    EXPECT_EQ(Run(b), 0);
    EXPECT_TRUE(TheFakeUi.Messages.empty());
    EXPECT_EQ(FilesUnder(dest_), 1u);
    EXPECT_EQ(LastRunCounts.LeftOut, 1u);

    // A destination so long that the program's path could not follow it is refused.
    TheFakeUi.Reset();
    SetDestination(base + "\\" + std::string(259 - base.size() - 1 - 11, 'd'));
    EXPECT_EQ(Run(b.Write()), 0);
    ASSERT_EQ(TheFakeUi.Messages.size(), 1u);
    EXPECT_NE(Shown().find("Invalid path"), std::string::npos) << Shown();
    EXPECT_EQ(FilesUnder(dest_), 1u);
}

TEST_F(ExtractAllTest, TrailingBackslashOfTheDestinationIsNotDoubled) {
    ArchiveBuilder b;
    b.AddFile("a.txt", RandomBytes(10, 28));
    b.AddFile(Product.ProgramToRun, RandomBytes(10, 32));
    SetDestination(CorePath(dest_) + "\\");
    EXPECT_EQ(Run(b), 0);
    EXPECT_TRUE(fs::exists(Disk("a.txt")));
    ASSERT_EQ(TheFakeUi.StartedPrograms.size(), 1u);
    EXPECT_EQ(TheFakeUi.StartedPrograms[0], CoreName(Product.ProgramToRun));
    // The run builds its paths in a buffer of its own: the destination the dialog shows and
    // a second run reads stays as it was given.
    EXPECT_EQ(std::string(Profile.DestinationFolder), CorePath(dest_) + "\\");
}

}  // namespace
