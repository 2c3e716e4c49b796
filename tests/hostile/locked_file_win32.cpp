// A file that cannot be replaced on Windows because another program holds it open without
// sharing: the run says so with the path, and the file keeps its bytes. (A read-only file is
// covered on Linux; Wine run as root replaces one.)
#include <gtest/gtest.h>
#include <windows.h>

#include <string.h>

#include <filesystem>
#include <string>

#include "decode/crc32.h"
#include "extract/extract.h"
#include "profile/profile.h"
#include "tests/support/archive_builder.h"
#include "tests/support/fake_ui.h"

using namespace qartest;

namespace {

const Bytes kOld = {'o', 'l', 'd'};
const Bytes kNew = {'n', 'e', 'w', ' ', 'b', 'y', 't', 'e', 's'};

class LockedFile : public ::testing::Test {
protected:
    void SetUp() override {
        BuildCrcTable();
        root_ = MakeTempFolder("locked");
        dest_ = root_ + "\\dest";
        std::filesystem::create_directories(dest_);
        file_ = dest_ + "\\a.txt";
        WriteWholeFile(file_, kOld);
        Profile.OverwriteWithoutPrompt = 1;
        TheFakeUi.Reset();
    }
    void TearDown() override {
        UnloadArchive();
        TheFakeUi.Reset();
        RemoveTree(root_);
    }
    void Extract() {
        ArchiveBuilder b;
        b.AddFile("a.txt", kNew);
        ASSERT_TRUE(LoadArchive(b.Build(), root_));
        memset(Profile.DestinationFolder, 0, sizeof Profile.DestinationFolder);
        strncpy(Profile.DestinationFolder, dest_.c_str(), sizeof Profile.DestinationFolder - 1);
        EXPECT_EQ(ExtractAll(nullptr), 0);
    }
    std::string root_, dest_, file_;
};

TEST_F(LockedFile, FileOpenWithoutSharingIsNotReplaced) {
    HANDLE held = CreateFileA(file_.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    Extract();
    CloseHandle(held);
    ASSERT_EQ(TheFakeUi.Messages.size(), 1u);
    // A sharing violation has no line of its own in the message table.
    EXPECT_EQ(TheFakeUi.Messages[0].Text, "Cannot create " + file_);
    EXPECT_EQ(ReadWholeFile(file_), kOld);
}

}  // namespace
