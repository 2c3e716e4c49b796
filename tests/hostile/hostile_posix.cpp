// Hostile ground on Linux: symbolic and hard links planted inside the destination (before
// the run, and swapped in while it goes on), a full file system, a read-only one, a folder the
// user may not write, a file that cannot be replaced; and the hostile names again, through
// the `qar extract` command.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>

#include "decode/crc32.h"
#include "extract/extract.h"
#include "platform/errors.h"
#include "platform/fs.h"
#include "platform/fs_posix.h"
#include "profile/profile.h"
#include "profile/state.h"
#include "tests/support/archive_builder.h"
#include "tests/support/fake_ui.h"

using namespace qartest;
namespace fs = std::filesystem;

namespace {

const std::string kQar = std::string(QAR_BINARY_DIR) + "/qar";
const Bytes kPayload = {'p', 'a', 'y', 'l', 'o', 'a', 'd'};
const Bytes kTarget = {'t', 'a', 'r', 'g', 'e', 't'};

struct Command {
    int Status;
    std::string Err;
};

// Runs a shell command, capturing its standard error.
Command Shell(const std::string& command, const std::string& errFile) {
    int raw = system((command + " >/dev/null 2>" + errFile).c_str());
    std::ifstream in(errFile);
    std::stringstream s;
    s << in.rdbuf();
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, s.str()};
}

class Hostile : public ::testing::Test {
protected:
    void SetUp() override {
        BuildCrcTable();
        root_ = MakeTempFolder("hostile");
        dest_ = root_ + "/dest";
        outside_ = root_ + "/outside";
        fs::create_directories(dest_);
        fs::create_directories(outside_);
        Profile.OverwriteWithoutPrompt = 1;
        TheFakeUi.Reset();
    }
    void TearDown() override {
        UnloadArchive();
        TheFakeUi.Reset();
        if (!mount_.empty()) umount2(mount_.c_str(), MNT_DETACH);
        RemoveTree(root_);
    }

    int Extract(ArchiveBuilder& b, const std::string& destination) {
        EXPECT_TRUE(LoadArchive(b.Build(), root_));
        memset(Profile.DestinationFolder, 0, sizeof Profile.DestinationFolder);
        strncpy(Profile.DestinationFolder, CorePath(destination).c_str(), sizeof Profile.DestinationFolder - 1);
        return ExtractAll(nullptr);
    }

    // Mounts a small tmpfs at root/name; false when this system does not let us.
    bool MountSmall(const std::string& name, const char* options) {
        std::string at = root_ + "/" + name;
        fs::create_directories(at);
        if (mount("tmpfs", at.c_str(), "tmpfs", 0, options) != 0) return false;
        mount_ = at;
        return true;
    }

    std::string Messages() const {
        std::string all;
        for (auto& m : TheFakeUi.Messages) all += m.Text + "|";
        return all;
    }

    std::string root_, dest_, outside_, mount_;
};

// A folder link inside the destination that points outside it: neither files nor folders
// are made through it, and nothing outside changes.
TEST_F(Hostile, FolderLinkInsideTheDestinationIsNotFollowed) {
    ASSERT_EQ(symlink(outside_.c_str(), (dest_ + "/sub").c_str()), 0);
    for (int shape = 0; shape < 3; ++shape) {
        SCOPED_TRACE(shape);
        ArchiveBuilder b;
        if (shape == 0) b.AddFile("sub\\x.txt", kPayload);
        if (shape == 1) b.AddFolder("sub\\made");
        if (shape == 2) b.AddFile("sub\\deeper\\y.txt", kPayload);
        TheFakeUi.Reset();
        Extract(b, dest_);
        EXPECT_TRUE(fs::is_empty(outside_)) << fs::directory_iterator(outside_)->path();
        EXPECT_FALSE(TheFakeUi.Messages.empty()) << "the entry cannot pass for extracted";
        UnloadArchive();
        RemoveTree(outside_);
        fs::create_directories(outside_);
    }
}

// A link planted where a file is to be written (or replaced): the target keeps its bytes.
TEST_F(Hostile, FileLinkInsideTheDestinationIsNotFollowed) {
    std::string target = outside_ + "/target";
    WriteWholeFile(target, kTarget);
    ASSERT_EQ(symlink(target.c_str(), (dest_ + "/x.txt").c_str()), 0);
    ArchiveBuilder b;
    b.AddFile("x.txt", kPayload);
    Extract(b, dest_);
    EXPECT_EQ(ReadWholeFile(target), kTarget);
    // A link to a file made a folder entry must not hand its attributes to the target.
    ASSERT_EQ(symlink(target.c_str(), (dest_ + "/folder").c_str()), 0);
    UnloadArchive();
    ArchiveBuilder f;
    size_t i = f.AddFolder("folder");
    f.Layout();
    f.Entries[i].Fields.Attributes = 0x01;   // read-only
    EXPECT_TRUE(LoadArchive(f.Write(), root_));
    memset(Profile.DestinationFolder, 0, sizeof Profile.DestinationFolder);
    strncpy(Profile.DestinationFolder, CorePath(dest_).c_str(), sizeof Profile.DestinationFolder - 1);
    ExtractAll(nullptr);
    struct stat st;
    ASSERT_EQ(stat(target.c_str(), &st), 0);
    EXPECT_NE(st.st_mode & S_IWUSR, 0u) << "the link's target was made read-only";
    EXPECT_EQ(ReadWholeFile(target), kTarget);
}

// A hard link planted where a file is to be replaced: the file is replaced, the bytes it
// shared with a file outside stay as they were.
TEST_F(Hostile, HardLinkInsideTheDestinationIsNotWrittenThrough) {
    std::string target = outside_ + "/target";
    WriteWholeFile(target, kTarget);
    ASSERT_EQ(link(target.c_str(), (dest_ + "/x.txt").c_str()), 0);
    ArchiveBuilder b;
    b.AddFile("x.txt", kPayload);
    EXPECT_EQ(Extract(b, dest_), 0);
    EXPECT_TRUE(TheFakeUi.Messages.empty());
    EXPECT_EQ(ReadWholeFile(target), kTarget);
    EXPECT_EQ(ReadWholeFile(dest_ + "/x.txt"), kPayload);
}

// What lies under a folder, links included and never followed: each path with its kind,
// permission bits and bytes (a link's target text).
std::map<std::string, std::string> Snapshot(const std::string& folder) {
    std::map<std::string, std::string> out;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(folder, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        struct stat st;
        std::string path = it->path().string();
        if (lstat(path.c_str(), &st) != 0) continue;
        std::string what = std::to_string(st.st_mode) + ":";
        if (S_ISREG(st.st_mode)) {
            Bytes b = ReadWholeFile(path);
            what += std::string(b.begin(), b.end());
        } else if (S_ISLNK(st.st_mode)) {
            what += fs::read_symlink(it->path(), ec).string();
        }
        out[it->path().lexically_relative(folder).string()] = what;
    }
    return out;
}

// The layer itself, given the destination, with links beneath it: once with openat2 where
// the kernel has it, once walking each component by hand as on kernels without it.
class LinksBeneath : public Hostile, public ::testing::WithParamInterface<bool> {
protected:
    void SetUp() override {
        Hostile::SetUp();
        FsWalkByHand(GetParam());
    }
    void TearDown() override {
        FsSetDestination(nullptr);
        FsWalkByHand(false);
        Hostile::TearDown();
    }
    // Expects the operation's failure with error 681.
    static void Refused(bool failed, const char* what) {
        EXPECT_TRUE(failed) << what;
        EXPECT_EQ(State.LastSystemError, kErrorStoppedOnLink) << what;
    }
};

INSTANTIATE_TEST_SUITE_P(Walks, LinksBeneath, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return std::string(info.param ? "ByHand" : "Openat2");
                         });

// A folder link at any depth of a member's path: no operation reaches through it, and what
// it points to (laid out so that following it would succeed) stays as it was.
TEST_P(LinksBeneath, FolderLinkAtEveryDepthIsRefused) {
    const std::string parts[] = {"a", "b", "c", "d"};
    for (int depth = 0; depth < 4; ++depth) {
        SCOPED_TRACE(depth);
        RemoveTree(dest_);
        RemoveTree(outside_);
        std::string real = dest_, mirror = outside_, linked;
        for (int i = 0; i < 4; ++i) {
            real += "/" + parts[i];
            if (i == depth) linked = real;
            if (i > depth) mirror += "/" + parts[i];
        }
        fs::create_directories(real);
        fs::create_directories(mirror);
        WriteWholeFile(real + "/old.txt", kTarget);
        WriteWholeFile(mirror + "/old.txt", kTarget);
        RemoveTree(linked);
        ASSERT_EQ(symlink(outside_.c_str(), linked.c_str()), 0);
        const auto before = Snapshot(outside_);

        ASSERT_EQ(FsSetDestination(dest_.c_str()), 1);
        const std::string file = real + "/old.txt";
        Refused(FsCreate((real + "/new.txt").c_str(), kAttrNormal) == kInvalidHandle, "create");
        Refused(FsMakeFolder((real + "/made").c_str()) == 0, "make folder");
        Refused(FsSetAttributes(file.c_str(), kAttrReadOnly) == 0, "set attributes");
        Refused(FsDelete(file.c_str()) == 0, "delete");
        Refused(FsGetAttributes(file.c_str()) == -1, "get attributes");
        Refused(FsOpen(file.c_str(), kGenericRead | kGenericWrite) == kInvalidHandle, "open");
        FsSetDestination(nullptr);
        EXPECT_EQ(Snapshot(outside_), before);
    }
}

// Links where the member itself is: a link to a file outside, a dangling one (creating
// through it would make its target), and a hard link that shares its bytes with a file
// outside (replaced by a file of its own).
TEST_P(LinksBeneath, LinkedMemberIsNeverWrittenThrough) {
    const std::string target = outside_ + "/target", absent = outside_ + "/absent";
    WriteWholeFile(target, kTarget);
    ASSERT_EQ(symlink(target.c_str(), (dest_ + "/soft").c_str()), 0);
    ASSERT_EQ(symlink(absent.c_str(), (dest_ + "/dangling").c_str()), 0);
    ASSERT_EQ(symlink((outside_ + "/missing-folder").c_str(), (dest_ + "/gone").c_str()), 0);
    ASSERT_EQ(link(target.c_str(), (dest_ + "/hard").c_str()), 0);
    const auto before = Snapshot(outside_);
    ASSERT_EQ(FsSetDestination(dest_.c_str()), 1);

    for (const char* name : {"soft", "dangling"}) {
        SCOPED_TRACE(name);
        const std::string member = dest_ + "/" + name;
        Refused(FsCreate(member.c_str(), kAttrNormal) == kInvalidHandle, "create");
        Refused(FsOpen(member.c_str(), kGenericWrite) == kInvalidHandle, "open");
        Refused(FsSetAttributes(member.c_str(), kAttrReadOnly) == 0, "set attributes");
        Refused(FsGetAttributes(member.c_str()) == -1, "get attributes");
        EXPECT_EQ(FsMakeFolder(member.c_str()), 0);
        Refused(FsCreate((member + "/x").c_str(), kAttrNormal) == kInvalidHandle, "create inside");
    }
    Refused(FsMakeFolder((dest_ + "/gone/x").c_str()) == 0, "make folder inside");
    EXPECT_EQ(Snapshot(outside_), before);

    // Deleting a link removes the link, nothing it points to.
    EXPECT_EQ(FsDelete((dest_ + "/soft").c_str()), 1);
    EXPECT_FALSE(fs::is_symlink(dest_ + "/soft"));

    FileHandle h = FsCreate((dest_ + "/hard").c_str(), kAttrNormal);
    ASSERT_NE(h, kInvalidHandle);
    EXPECT_EQ(FsWrite(h, kPayload.data(), (uint32_t)kPayload.size()), (int32_t)kPayload.size());
    FsClose(h);
    EXPECT_EQ(Snapshot(outside_), before);
    EXPECT_EQ(ReadWholeFile(dest_ + "/hard"), kPayload);
    EXPECT_EQ(fs::hard_link_count(dest_ + "/hard"), 1u);
}

// Beneath the destination no path climbs out, whether or not ".." would land inside again.
TEST_P(LinksBeneath, ClimbingOutOfTheDestinationIsRefused) {
    fs::create_directories(dest_ + "/sub");
    ASSERT_EQ(FsSetDestination(dest_.c_str()), 1);
    for (const char* name : {"/../escaped", "/sub/../../escaped", "/sub/../inside"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(FsCreate((dest_ + name).c_str(), kAttrNormal), kInvalidHandle);
        EXPECT_EQ(FsMakeFolder((dest_ + name + "-folder").c_str()), 0);
    }
    EXPECT_FALSE(fs::exists(root_ + "/escaped"));
    EXPECT_FALSE(fs::exists(root_ + "/escaped-folder"));
    EXPECT_FALSE(fs::exists(dest_ + "/inside"));
}

// The destination typed through a link: the layer opens no folder through one, and the
// `qar` tool resolves the user's text before the run, so the files land in the real folder.
TEST_F(Hostile, DestinationTypedThroughALinkIsResolvedByTheTool) {
    const std::string typed = root_ + "/typed";
    ASSERT_EQ(symlink(dest_.c_str(), typed.c_str()), 0);
    EXPECT_EQ(FsSetDestination(typed.c_str()), 0);
    EXPECT_EQ(State.LastSystemError, kErrorStoppedOnLink);

    ArchiveBuilder b;
    b.AddFile("sub\\x.txt", kPayload);
    WriteWholeFile(root_ + "/typed.qar", b.Build());
    Command c = Shell(kQar + " extract -q -y " + root_ + "/typed.qar -d " + typed + "/new", root_ + "/err.txt");
    EXPECT_EQ(c.Status, 0) << c.Err;
    EXPECT_EQ(ReadWholeFile(dest_ + "/new/sub/x.txt"), kPayload);
}

// A folder of the destination swapped for a link to a folder outside, and back, over and
// over while a run extracts many members into it: whenever a member is reached, the folder is
// either real (the member lands inside) or a link (the member is refused); nothing is ever
// written outside. A sound layer cannot fail this; a check followed by a separate use of
// the path fails it when a swap falls between the two, which is likely but not certain.
TEST_F(Hostile, FolderSwappedForALinkDuringTheRunLeadsNothingOutside) {
    const std::string sub = dest_ + "/sub", swap = dest_ + "/swap";
    fs::create_directories(sub);
    ASSERT_EQ(symlink(outside_.c_str(), swap.c_str()), 0);
    ArchiveBuilder b;
    // Files only: a folder entry that cannot be made ends the run, a file lets it go on.
    for (int i = 0; i < 1500; ++i) {
        b.AddFile("sub\\f" + std::to_string(i), kPayload);
        b.AddFile("sub\\d" + std::to_string(i) + "\\g", kPayload);
    }
    std::atomic<bool> stop(false);
    std::atomic<long> swaps(0);
    std::thread flipper([&] {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (!stop && std::chrono::steady_clock::now() < deadline) {
            if (renameat2(AT_FDCWD, sub.c_str(), AT_FDCWD, swap.c_str(), RENAME_EXCHANGE) != 0) break;
            ++swaps;
        }
    });
    Extract(b, dest_);
    stop = true;
    flipper.join();
    ASSERT_GT(swaps.load(), 0) << "the folder was never swapped";
    EXPECT_TRUE(fs::is_empty(outside_)) << fs::directory_iterator(outside_)->path();
    // Whatever was counted as written is in the real folder, wherever it is now.
    const std::string real = fs::is_symlink(sub) ? swap : sub;
    uint32_t files = 0;
    for (auto& entry : fs::recursive_directory_iterator(real)) files += entry.is_regular_file() ? 1 : 0;
    EXPECT_EQ(files, LastRunCounts.Files);
}

// A destination on a full file system: "Cannot write ...\nDisk full", and the partial file
// is gone.
TEST_F(Hostile, FullFileSystemReportsDiskFullAndLeavesNoPartialFile) {
    if (!MountSmall("full", "size=64k")) GTEST_SKIP() << "cannot mount a tmpfs here";
    ArchiveBuilder b;
    b.AddFile("small.txt", kPayload);
    b.AddFile("big.bin", RandomBytes(256 * 1024, 5));
    EXPECT_EQ(Extract(b, mount_ + "/dest"), 0);
    ASSERT_EQ(TheFakeUi.Messages.size(), 1u) << Messages();
    const std::string& text = TheFakeUi.Messages[0].Text;
    EXPECT_EQ(text.rfind("Cannot write ", 0), 0u) << text;
    EXPECT_NE(text.find("big.bin\nDisk full"), std::string::npos) << text;
    EXPECT_FALSE(fs::exists(mount_ + "/dest/big.bin"));
    EXPECT_EQ(ReadWholeFile(mount_ + "/dest/small.txt"), kPayload);
}

// The same through `qar extract`, with a file-size limit standing in for the full disk (it
// needs no mount): the command fails, says "Disk full" on the message's line and leaves no
// partial file.
TEST_F(Hostile, FileSizeLimitThroughTheToolReportsDiskFull) {
    ArchiveBuilder b;
    b.AddFile("big.bin", RandomBytes(256 * 1024, 6));
    WriteWholeFile(root_ + "/big.qar", b.Build());
    Command c = Shell("bash -c \"trap '' XFSZ; ulimit -f 64; exec " + kQar + " extract -q -y " +
                          root_ + "/big.qar -d " + dest_ + "\"",
                      root_ + "/err.txt");
    EXPECT_NE(c.Status, 0);
    EXPECT_NE(c.Err.find("Cannot write "), std::string::npos) << c.Err;
    EXPECT_NE(c.Err.find("big.bin: Disk full"), std::string::npos) << c.Err;
    EXPECT_FALSE(fs::exists(dest_ + "/big.bin"));
}

// A read-only file system: the file cannot be created, the message says why, nothing is made.
TEST_F(Hostile, ReadOnlyFileSystemIsReportedAsWriteProtected) {
    if (!MountSmall("ro", "size=64k")) GTEST_SKIP() << "cannot mount a tmpfs here";
    ASSERT_EQ(mount("tmpfs", mount_.c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY, "size=64k"), 0);
    ArchiveBuilder b;
    b.AddFile("a.txt", kPayload);
    EXPECT_EQ(Extract(b, mount_), 0);
    ASSERT_EQ(TheFakeUi.Messages.size(), 1u) << Messages();
    EXPECT_EQ(TheFakeUi.Messages[0].Text, "Cannot create " + CorePath(mount_) + "\\a.txt\nDisk is write protected");
    EXPECT_TRUE(fs::is_empty(mount_));
}

// A folder the user may not write to, through `qar extract` run as an unprivileged user:
// "Cannot create .../a.txt: Permission denied" (the system's words on Linux), and nothing
// is made.
TEST_F(Hostile, FolderWithoutWriteAccessIsReportedAsAccessDenied) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to switch to an unprivileged user";
    ArchiveBuilder b;
    b.AddFile("a.txt", kPayload);
    b.AddFile("sub\\b.txt", kPayload);
    WriteWholeFile(root_ + "/ro.qar", b.Build());
    chmod(root_.c_str(), 0755);
    chmod((root_ + "/ro.qar").c_str(), 0644);
    chmod(dest_.c_str(), 0555);
    Command c = Shell("setpriv --reuid=65534 --regid=65534 --clear-groups " + kQar +
                          " extract -q -y " + root_ + "/ro.qar -d " + dest_ + " </dev/null",
                      root_ + "/err.txt");
    EXPECT_NE(c.Status, 0);
    EXPECT_NE(c.Err.find("Cannot create " + dest_ + "/a.txt: Permission denied"), std::string::npos)
        << c.Err;
    EXPECT_TRUE(fs::is_empty(dest_));
}

// An existing file that cannot be replaced (read-only): its message, and it keeps its bytes.
TEST_F(Hostile, FileThatCannotBeReplacedKeepsItsBytes) {
    std::string existing = dest_ + "/a.txt";
    WriteWholeFile(existing, kTarget);
    chmod(existing.c_str(), 0444);
    ArchiveBuilder b;
    b.AddFile("a.txt", kPayload);
    Extract(b, dest_);
    ASSERT_EQ(TheFakeUi.Messages.size(), 1u) << Messages();
    EXPECT_EQ(TheFakeUi.Messages[0].Text, "Cannot create " + CorePath(existing) + "\nAccess denied");
    EXPECT_EQ(ReadWholeFile(existing), kTarget);
}

// Names with control characters are listed and tested with those characters escaped, so
// that an archive cannot send escape sequences to the reviewer's terminal or hide a name.
TEST_F(Hostile, ListAndTestShowNoControlCharacters) {
    ArchiveBuilder b;
    b.AddFile(std::string("a\x1b]0;owned\x07") + "b", kPayload);
    b.AddFile("c\rd", kPayload);
    WriteWholeFile(root_ + "/ctl.qar", b.Build());
    for (const char* command : {"list", "test"}) {
        SCOPED_TRACE(command);
        std::string out = root_ + "/out.txt";
        int raw = system((kQar + " " + command + " " + root_ + "/ctl.qar >" + out + " 2>&1").c_str());
        EXPECT_TRUE(WIFEXITED(raw));
        Bytes shown = ReadWholeFile(out);
        for (uint8_t c : shown) EXPECT_TRUE(c >= 0x20 || c == '\n') << (int)c;
        std::string text(shown.begin(), shown.end());
        EXPECT_NE(text.find("a\\x1B]0;owned\\x07b"), std::string::npos) << text;
        EXPECT_NE(text.find("c\\x0Dd"), std::string::npos) << text;
    }
}

// The hostile names through the command: it fails with the damage message and writes
// nothing outside the destination.
TEST_F(Hostile, HostileNamesThroughTheTool) {
    for (const char* name : {"..\\x", "a\\..\\..\\x", "\\x", "C:x", "x:stream", "NUL", "x."}) {
        SCOPED_TRACE(name);
        ArchiveBuilder b;
        b.AddFile(name, kPayload);
        WriteWholeFile(root_ + "/names.qar", b.Build());
        std::string inner = dest_ + "/in";
        Command c = Shell(kQar + " extract -q -y " + root_ + "/names.qar -d " + inner, root_ + "/err.txt");
        EXPECT_EQ(c.Status, 1);
        EXPECT_NE(c.Err.find("Archive data is damaged"), std::string::npos) << c.Err;
        EXPECT_FALSE(fs::exists(dest_ + "/x"));
        EXPECT_FALSE(fs::exists(root_ + "/x"));
        EXPECT_TRUE(fs::is_empty(outside_));
        RemoveTree(inner);
    }
}

}  // namespace

namespace {

// Paths at and around the layer's limit are refused with "name too long", never copied past
// the end of the buffer that holds them (the sanitizer build shows a write of one byte too
// many, which the kernel's own refusal would hide).
TEST(HostilePaths, PathsAtTheLengthLimitAreRefusedWithinTheirBuffer) {
    for (size_t length : {4094u, 4095u, 4096u, 4097u, 5000u}) {
        std::string path = "/tmp/" + std::string(length - 5, 'a');
        State.LastSystemError = 0;
        EXPECT_EQ(FsOpen(path.c_str(), kGenericRead), kInvalidHandle) << length;
        EXPECT_EQ(State.LastSystemError, 206) << length;
        State.LastSystemError = 0;
        EXPECT_EQ(FsGetAttributes(path.c_str()), -1) << length;
        EXPECT_EQ(State.LastSystemError, 206) << length;
    }
}

}  // namespace
