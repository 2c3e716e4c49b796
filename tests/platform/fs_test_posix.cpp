// Linux-only behaviour of the file-system layer: backslash paths, the errno translation
// that needs special files or limits, and the emulation of Windows' read-only rules.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "platform/fs.h"
#include "profile/state.h"
#include "tests/platform/fs_helpers.h"

namespace {

std::string Backslashed(std::string path) {
    for (char& c : path) {
        if (c == '/') c = '\\';
    }
    return path;
}

mode_t ModeOf(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

}  // namespace

TEST(PosixFileSystem, BackslashesSeparateFolders) {
    ScratchFolder dir;
    ASSERT_EQ(FsMakeFolder(Backslashed(dir / "sub").c_str()), 1);
    FileHandle h = FsCreate(Backslashed(dir / "sub/f.txt").c_str(), kAttrNormal);
    ASSERT_NE(h, kInvalidHandle);
    FsClose(h);
    struct stat st;
    EXPECT_EQ(stat((dir / "sub/f.txt").c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
}

TEST(PosixFileSystem, FullDeviceIsDiskFull) {
    FileHandle h = FsOpen("/dev/full", kGenericWrite);
    if (h == kInvalidHandle) GTEST_SKIP() << "no /dev/full";
    uint8_t b[100] = {};
    EXPECT_EQ(FsWrite(h, b, 100), -1);
    EXPECT_EQ(State.LastSystemError, kErrorDiskFull);
    FsClose(h);
}

TEST(PosixFileSystem, PartialWriteIsDiskFull) {
    ScratchFolder dir;
    const std::string path = dir / "limited.bin";
    FileHandle h = FsCreate(path.c_str(), kAttrNormal);
    ASSERT_NE(h, kInvalidHandle);
    struct rlimit saved;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    struct rlimit limited = saved;
    limited.rlim_cur = 60;
    void (*previous)(int) = signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    uint8_t b[100] = {};
    int32_t partial = FsWrite(h, b, 100);   // the file takes 60 of the 100 bytes
    int32_t partialError = State.LastSystemError;
    int32_t none = FsWrite(h, b, 10);       // and then nothing at all
    int32_t noneError = State.LastSystemError;
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, previous);
    FsClose(h);
    EXPECT_EQ(partial, -1);
    EXPECT_EQ(partialError, kErrorDiskFull);
    EXPECT_EQ(none, -1);
    EXPECT_EQ(noneError, kErrorDiskFull);
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 60);
}

TEST(PosixFileSystem, SymbolicLinkIsNeverFollowedOnCreate) {
    ScratchFolder dir;
    const std::string target = dir / "target.txt";
    { std::ofstream(target) << "keep"; }
    ASSERT_EQ(symlink(target.c_str(), (dir / "link").c_str()), 0);
    EXPECT_EQ(FsCreate((dir / "link").c_str(), kAttrNormal), kInvalidHandle);
    EXPECT_EQ(State.LastSystemError, kErrorStoppedOnLink);
    std::string content;
    std::ifstream(target) >> content;
    EXPECT_EQ(content, "keep");
}

TEST(PosixFileSystem, ErrnoTranslation) {
    ScratchFolder dir;
    const std::string file = dir / "plain";
    { std::ofstream(file) << "x"; }
    // A file where a folder is expected: path not found.
    EXPECT_EQ(FsCreate((file + "/x").c_str(), kAttrNormal), kInvalidHandle);
    EXPECT_EQ(State.LastSystemError, kErrorPathNotFound);
    // A component longer than the file system takes.
    const std::string tooLong = dir / std::string(300, 'n');
    EXPECT_EQ(FsCreate(tooLong.c_str(), kAttrNormal), kInvalidHandle);
    EXPECT_EQ(State.LastSystemError, 206);
    // A folder cannot be deleted as a file, nor replaced by one.
    ASSERT_EQ(FsMakeFolder((dir / "d").c_str()), 1);
    State.LastSystemError = 0;
    EXPECT_EQ(FsDelete((dir / "d").c_str()), 0);
    EXPECT_EQ(State.LastSystemError, kErrorAccessDenied);
    EXPECT_EQ(FsCreate((dir / "d").c_str(), kAttrNormal), kInvalidHandle);
    EXPECT_EQ(State.LastSystemError, kErrorAccessDenied);
    // A read-only file system.
    if (access("/proc/version", F_OK) == 0) {
        State.LastSystemError = 0;
        EXPECT_EQ(FsMakeFolder("/proc/qar-test"), 0);
        EXPECT_NE(State.LastSystemError, 0);
    }
}

// Windows refuses these for everyone; here they must be refused even to root.
TEST(PosixFileSystem, ReadOnlyFileIsNotReplacedWrittenOrDeleted) {
    ScratchFolder dir;
    const std::string path = dir / "ro.txt";
    { std::ofstream(path) << "keep"; }
    ASSERT_EQ(FsSetAttributes(path.c_str(), kAttrReadOnly), 1);
    EXPECT_EQ(FsCreate(path.c_str(), kAttrNormal), kInvalidHandle);
    EXPECT_EQ(State.LastSystemError, kErrorAccessDenied);
    EXPECT_EQ(FsOpen(path.c_str(), kGenericRead | kGenericWrite), kInvalidHandle);
    EXPECT_EQ(State.LastSystemError, kErrorAccessDenied);
    State.LastSystemError = 0;
    EXPECT_EQ(FsDelete(path.c_str()), 0);
    EXPECT_EQ(State.LastSystemError, kErrorAccessDenied);
    std::string content;
    std::ifstream(path) >> content;
    EXPECT_EQ(content, "keep");
}

TEST(PosixFileSystem, ReadOnlyIsTheAbsenceOfWriteBits) {
    ScratchFolder dir;
    const std::string path = dir / "f";
    { std::ofstream(path) << "x"; }
    ASSERT_EQ(chmod(path.c_str(), 0664), 0);
    ASSERT_EQ(FsSetAttributes(path.c_str(), kAttrReadOnly | kAttrHidden | kAttrSystem), 1);
    EXPECT_EQ(ModeOf(path), 0444u);
    EXPECT_EQ(FsGetAttributes(path.c_str()), (int32_t)(kAttrArchive | kAttrReadOnly));
    ASSERT_EQ(FsSetAttributes(path.c_str(), kAttrArchive), 1);
    EXPECT_EQ(ModeOf(path), 0644u);
    EXPECT_EQ(FsGetAttributes(path.c_str()), (int32_t)kAttrArchive);
    // Clearing read-only on a writable file changes nothing.
    ASSERT_EQ(chmod(path.c_str(), 0660), 0);
    ASSERT_EQ(FsSetAttributes(path.c_str(), kAttrNormal), 1);
    EXPECT_EQ(ModeOf(path), 0660u);
    // Folders keep their write bits: files still have to go in.
    ASSERT_EQ(FsMakeFolder((dir / "d").c_str()), 1);
    mode_t before = ModeOf(dir / "d");
    EXPECT_EQ(FsSetAttributes((dir / "d").c_str(), kAttrReadOnly), 1);
    EXPECT_EQ(ModeOf(dir / "d"), before);
    EXPECT_EQ(FsGetAttributes((dir / "d").c_str()), (int32_t)kAttrFolder);
    // A file created read-only is read-only on disk but its handle still writes.
    FileHandle h = FsCreate((dir / "new").c_str(), kAttrReadOnly);
    ASSERT_NE(h, kInvalidHandle);
    EXPECT_EQ(FsWrite(h, "abc", 3), 3);
    FsClose(h);
    EXPECT_EQ(FsGetAttributes((dir / "new").c_str()) & kAttrReadOnly, (uint32_t)kAttrReadOnly);
}

TEST(PosixFileSystem, MaxComponentLengthOfNearestExistingFolder) {
    ScratchFolder dir;
    struct statvfs vfs;
    ASSERT_EQ(statvfs(dir.Path.c_str(), &vfs), 0);
    EXPECT_EQ(FsMaxComponentLength(Backslashed(dir / "a/b/c").c_str()), vfs.f_namemax);
    EXPECT_EQ(FsMaxComponentLength("/"), FsMaxComponentLength("/no-such-folder-for-qar/x"));
    EXPECT_GT(FsMaxComponentLength("relative-not-made"), 0u);
    EXPECT_GT(FsMaxComponentLength(""), 0u);
}
