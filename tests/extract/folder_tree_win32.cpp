// Folder trees on drives: a missing drive is never made.
#include <gtest/gtest.h>

#include "extract/paths.h"
#include "platform/fs.h"
#include "profile/state.h"

namespace {

TEST(FolderTreeDrive, MissingDriveFailsBelowTheRoot) {
    // Q: is not mapped in a fresh Wine prefix, nor on a usual Windows machine.
    if (FsGetAttributes("Q:\\") != -1) GTEST_SKIP() << "drive Q: exists here";
    State.LastSystemError = 0;
    EXPECT_EQ(CreateFolderTree("Q:\\one\\two\\three"), 0);
    EXPECT_NE(State.LastSystemError, 0);
}

}  // namespace
