// Making every missing folder of a path.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "extract/paths.h"
#include "platform/fs.h"
#include "profile/state.h"
#include "tests/support/archive_builder.h"

using namespace qartest;
namespace fs = std::filesystem;

namespace {

class FolderTreeTest : public ::testing::Test {
protected:
    void SetUp() override { root_ = MakeTempFolder("tree"); }
    void TearDown() override { RemoveTree(root_); }
    std::string root_;
};

TEST_F(FolderTreeTest, EmptyRootAndExistingPathsNeedNothing) {
    EXPECT_EQ(CreateFolderTree(""), 1);
    EXPECT_EQ(CreateFolderTree("\\"), 1);
    EXPECT_EQ(CreateFolderTree(CorePath(root_).c_str()), 1);
    EXPECT_EQ(CreateFolderTree((CorePath(root_) + "\\").c_str()), 1);
    WriteWholeFile(root_ + "/file", Bytes(3, 1));
    EXPECT_EQ(CreateFolderTree(CorePath(root_ + "/file").c_str()), 1);
    EXPECT_EQ(std::distance(fs::directory_iterator(root_), fs::directory_iterator()), 1);
}

TEST_F(FolderTreeTest, MakesMissingLevelsTopDown) {
    std::string path = CorePath(root_) + "\\one\\two\\three";
    EXPECT_EQ(CreateFolderTree(path.c_str()), 1);
    EXPECT_TRUE(fs::is_directory(root_ + "/one/two/three"));
    // With a trailing backslash, and one level more below the existing ones.
    EXPECT_EQ(CreateFolderTree((path + "\\four\\").c_str()), 1);
    EXPECT_TRUE(fs::is_directory(root_ + "/one/two/three/four"));
}

TEST_F(FolderTreeTest, FailsBelowAFileAndKeepsTheSystemError) {
    WriteWholeFile(root_ + "/file", Bytes(3, 1));
    State.LastSystemError = 0;
    EXPECT_EQ(CreateFolderTree((CorePath(root_) + "\\file\\sub\\deeper").c_str()), 0);
    EXPECT_NE(State.LastSystemError, 0);
    EXPECT_TRUE(fs::is_regular_file(root_ + "/file"));
}

TEST_F(FolderTreeTest, PathLongerThanAnyPathIsRefused) {
    std::string path = CorePath(root_) + "\\" + std::string(300, 'a');
    EXPECT_EQ(CreateFolderTree(path.c_str()), 0);
    EXPECT_EQ(State.LastSystemError, kErrorBadPathname);
}

}  // namespace
