// Hostile ground on Windows: a file that another program holds open without sharing, a file
// that is a hard link to a file outside the destination, and junctions or symbolic links
// planted inside it. (A read-only file is covered on Linux; Wine run as root replaces one.)
#include <gtest/gtest.h>
#include <windows.h>
#include <winioctl.h>

#include <string.h>

#include <filesystem>
#include <string>
#include <vector>

#include "decode/crc32.h"
#include "extract/extract.h"
#include "platform/fs.h"
#include "profile/product.h"
#include "profile/profile.h"
#include "profile/state.h"
#include "tests/support/archive_builder.h"
#include "tests/support/fake_ui.h"

using namespace qartest;
namespace fs = std::filesystem;

namespace {

const Bytes kOld = {'o', 'l', 'd'};
const Bytes kNew = {'n', 'e', 'w', ' ', 'b', 'y', 't', 'e', 's'};

bool IsReparsePoint(const std::string& path) {
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// The reparse data of a junction: where it leads, as the file system stores it.
struct MountPointData {
    DWORD ReparseTag;
    WORD ReparseDataLength;
    WORD Reserved;
    WORD SubstituteNameOffset;
    WORD SubstituteNameLength;
    WORD PrintNameOffset;
    WORD PrintNameLength;
    WCHAR PathBuffer[2 * MAX_PATH];
};

// Makes folder `link` a junction to the folder `target` (a full path); false with the reason.
bool MakeJunction(const std::string& link, const std::string& target, std::string* why) {
    if (!CreateDirectoryA(link.c_str(), nullptr)) {
        *why = "CreateDirectoryA failed, error " + std::to_string(GetLastError());
        return false;
    }
    std::wstring substitute = L"\\??\\" + fs::path(target).wstring();
    MountPointData data = {};
    data.ReparseTag = IO_REPARSE_TAG_MOUNT_POINT;
    data.SubstituteNameLength = (WORD)(substitute.size() * sizeof(WCHAR));
    data.PrintNameOffset = (WORD)(data.SubstituteNameLength + sizeof(WCHAR));
    memcpy(data.PathBuffer, substitute.c_str(), data.SubstituteNameLength);
    data.ReparseDataLength = (WORD)(8 + data.PrintNameOffset + sizeof(WCHAR));
    HANDLE h = CreateFileA(link.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    DWORD returned = 0;
    bool made = h != INVALID_HANDLE_VALUE &&
                DeviceIoControl(h, FSCTL_SET_REPARSE_POINT, &data, 8 + data.ReparseDataLength,
                                nullptr, 0, &returned, nullptr);
    DWORD error = GetLastError();
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    if (made && IsReparsePoint(link)) return true;
    *why = made ? "FSCTL_SET_REPARSE_POINT reported success but made no junction"
                : "FSCTL_SET_REPARSE_POINT failed, error " + std::to_string(error);
    RemoveDirectoryA(link.c_str());
    return false;
}

// Makes `link` a symbolic link to `target` (a folder when folder is true), or for a folder a
// junction when no symbolic link can be made; false with the reasons when neither works.
bool MakeLink(const std::string& link, const std::string& target, bool folder, std::string* why) {
    const DWORD unprivileged = 0x2;   // SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE
    DWORD flags = unprivileged | (folder ? SYMBOLIC_LINK_FLAG_DIRECTORY : 0);
    BOOLEAN made = CreateSymbolicLinkA(link.c_str(), target.c_str(), flags);
    DWORD error = GetLastError();
    if (made && IsReparsePoint(link)) return true;
    *why = made ? "CreateSymbolicLinkA reported success but made no link"
                : "CreateSymbolicLinkA failed, error " + std::to_string(error);
    if (made) {
        folder ? RemoveDirectoryA(link.c_str()) : DeleteFileA(link.c_str());
    }
    if (!folder) return false;
    std::string junction;
    if (MakeJunction(link, target, &junction)) return true;
    *why += "; " + junction;
    return false;
}

class HostileWindows : public ::testing::Test {
protected:
    void SetUp() override {
        BuildCrcTable();
        root_ = MakeTempFolder("hostile-win");
        dest_ = root_ + "\\dest";
        outside_ = root_ + "\\outside";
        fs::create_directories(dest_);
        fs::create_directories(outside_);
        Profile.OverwriteWithoutPrompt = 1;
        TheFakeUi.Reset();
    }
    void TearDown() override {
        FsSetDestination(nullptr);
        UnloadArchive();
        TheFakeUi.Reset();
        // Links first, so that removing the tree cannot reach through them.
        for (const char* name : {"\\sub", "\\x.txt"}) {
            if (IsReparsePoint(dest_ + name)) {
                RemoveDirectoryA((dest_ + name).c_str()) || DeleteFileA((dest_ + name).c_str());
            }
        }
        RemoveTree(root_);
    }
    int Extract(ArchiveBuilder& b, const std::string& destination) {
        EXPECT_TRUE(LoadArchive(b.Build(), root_));
        memset(Profile.DestinationFolder, 0, sizeof Profile.DestinationFolder);
        strncpy(Profile.DestinationFolder, destination.c_str(), sizeof Profile.DestinationFolder - 1);
        int r = ExtractAll(nullptr);
        UnloadArchive();
        return r;
    }
    std::string root_, dest_, outside_;
};

TEST_F(HostileWindows, FileOpenWithoutSharingIsNotReplaced) {
    const std::string file = dest_ + "\\a.txt";
    WriteWholeFile(file, kOld);
    HANDLE held = CreateFileA(file.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    ArchiveBuilder b;
    b.AddFile("a.txt", kNew);
    EXPECT_EQ(Extract(b, dest_), 0);
    CloseHandle(held);
    ASSERT_EQ(TheFakeUi.Messages.size(), 1u);
    // A sharing violation has no line of its own in the message table.
    EXPECT_EQ(TheFakeUi.Messages[0].Text, "Cannot create " + file);
    EXPECT_EQ(ReadWholeFile(file), kOld);
}

// A file of the destination that is a hard link to a file outside it: writing it would
// change the file outside. The run refuses that file with a message that names it and goes
// on with the next; the shared bytes stay as they were.
TEST_F(HostileWindows, HardLinkedFileIsNotWritten) {
    const std::string target = outside_ + "\\target", file = dest_ + "\\a.txt";
    WriteWholeFile(target, kOld);
    ASSERT_TRUE(CreateHardLinkA(file.c_str(), target.c_str(), nullptr)) << GetLastError();
    ArchiveBuilder b;
    b.AddFile("a.txt", kNew);
    b.AddFile("b.txt", kNew);
    EXPECT_EQ(Extract(b, dest_), 0);
    ASSERT_EQ(TheFakeUi.Messages.size(), 1u);
    EXPECT_EQ(TheFakeUi.Messages[0].Text, "Cannot create " + file + "\nFile or folder is a link");
    EXPECT_EQ(ReadWholeFile(target), kOld);
    EXPECT_EQ(ReadWholeFile(dest_ + "\\b.txt"), kNew);
    EXPECT_EQ(LastRunCounts.Files, 1u);

    // Nor are its attributes, which it shares as well, changed by the layer during a run.
    ASSERT_EQ(FsSetDestination(dest_.c_str()), 1);
    EXPECT_EQ(FsSetAttributes(file.c_str(), FILE_ATTRIBUTE_READONLY), 0);
    EXPECT_EQ(State.LastSystemError, kErrorStoppedOnLink);
    EXPECT_EQ(GetFileAttributesA(target.c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
}

// A junction or symbolic link inside the destination that leads to a folder outside it:
// neither files nor folders are made through it, at any depth. Nor is the destination itself
// such a link: the run refuses it before it writes anything.
TEST_F(HostileWindows, FolderLinkInsideTheDestinationIsNotFollowed) {
    std::string why;
    if (!MakeLink(dest_ + "\\sub", outside_, true, &why)) {
        GTEST_SKIP() << "this system makes no folder link: " << why;
    }
    for (int shape = 0; shape < 3; ++shape) {
        SCOPED_TRACE(shape);
        ArchiveBuilder b;
        if (shape == 0) b.AddFile("sub\\x.txt", kNew);
        if (shape == 1) b.AddFolder("sub\\made");
        if (shape == 2) b.AddFile("sub\\deeper\\y.txt", kNew);
        TheFakeUi.Reset();
        Extract(b, dest_);
        EXPECT_TRUE(fs::is_empty(outside_)) << fs::directory_iterator(outside_)->path();
        EXPECT_FALSE(TheFakeUi.Messages.empty()) << "the entry cannot pass for extracted";
    }
    ASSERT_EQ(FsSetDestination(dest_.c_str()), 1);
    EXPECT_EQ(FsCreate((dest_ + "\\sub\\x.txt").c_str(), kAttrNormal), kInvalidHandle);
    EXPECT_EQ(State.LastSystemError, kErrorStoppedOnLink);
    FsSetDestination(nullptr);

    ArchiveBuilder b;
    b.AddFile("x.txt", kNew);
    TheFakeUi.Reset();
    EXPECT_EQ(Extract(b, dest_ + "\\sub"), 0);
    ASSERT_EQ(TheFakeUi.Messages.size(), 1u);
    EXPECT_EQ(TheFakeUi.Messages[0].Text, "Cannot create folder " + dest_ + "\\sub\nFile or folder is a link");
    EXPECT_TRUE(fs::is_empty(outside_));
}

// A symbolic link where a file is to be written: the file it points to keeps its bytes.
TEST_F(HostileWindows, FileLinkInsideTheDestinationIsNotFollowed) {
    const std::string target = outside_ + "\\target";
    WriteWholeFile(target, kOld);
    std::string why;
    if (!MakeLink(dest_ + "\\x.txt", target, false, &why)) {
        GTEST_SKIP() << "this system makes no file link: " << why;
    }
    ArchiveBuilder b;
    b.AddFile("x.txt", kNew);
    Extract(b, dest_);
    ASSERT_EQ(TheFakeUi.Messages.size(), 1u);
    EXPECT_EQ(TheFakeUi.Messages[0].Text, "Cannot create " + dest_ + "\\x.txt\nFile or folder is a link");
    EXPECT_EQ(ReadWholeFile(target), kOld);
}

// The folders of a run, the destination included, are held from when the run first makes or
// enters them until it ends: none can be renamed or removed meanwhile (and so none replaced
// by a junction), while files can still be made in them. The run's end lets them go.
TEST_F(HostileWindows, FoldersOfARunCannotBeRenamedUntilItEnds) {
    const std::string deep = dest_ + "\\a\\b";
    ASSERT_EQ(FsSetDestination(dest_.c_str()), 1);
    ASSERT_EQ(FsMakeFolder((dest_ + "\\a").c_str()), 1);
    ASSERT_EQ(FsMakeFolder(deep.c_str()), 1);
    FileHandle file = FsCreate((deep + "\\x.txt").c_str(), kAttrNormal);
    ASSERT_NE(file, kInvalidHandle) << State.LastSystemError;
    FsClose(file);
    // More folders than the first block of records takes: those held before it grew stay held.
    for (int i = 0; i < 100; ++i) {
        ASSERT_EQ(FsMakeFolder((deep + "\\" + std::to_string(i)).c_str()), 1) << i;
        FileHandle f = FsCreate((deep + "\\" + std::to_string(i) + "\\y.txt").c_str(), kAttrNormal);
        ASSERT_NE(f, kInvalidHandle) << i;
        FsClose(f);
    }
    for (const std::string& folder : {dest_, dest_ + "\\a", deep, deep + "\\0", deep + "\\99"}) {
        EXPECT_FALSE(MoveFileA(folder.c_str(), (folder + "-moved").c_str())) << folder;
    }
    FsSetDestination(nullptr);
    EXPECT_TRUE(MoveFileA(deep.c_str(), (deep + "-moved").c_str())) << GetLastError();
    EXPECT_TRUE(MoveFileA(dest_.c_str(), (dest_ + "-moved").c_str())) << GetLastError();
}

// What was verified is what starts: from its verified write until the start, the program's
// file can be neither replaced, renamed, deleted nor written, even while later entries are
// still being extracted; a second name given to it meanwhile stops the start instead.
TEST_F(HostileWindows, ProgramHeldFromItsWriteUntilItsStart) {
    const std::string program = dest_ + "\\" + Product.ProgramToRun, other = outside_ + "\\evil.exe";
    const Bytes code(5000, 'p');
    WriteWholeFile(other, kOld);
    static std::vector<std::string> refused;
    static std::string paths[2];
    static int linked;
    paths[0] = program;
    paths[1] = other;
    refused.clear();
    linked = 0;
    ArchiveBuilder b;
    b.AddFile(Product.ProgramToRun, code);
    b.AddFile("later.txt", kNew);
    // Pumped after the program's entry and again before and after the next one's member.
    TheFakeUi.OnPump = [](int) {
        const char* p = paths[0].c_str();
        if (GetFileAttributesA(p) == INVALID_FILE_ATTRIBUTES) return;
        if (!DeleteFileA(p)) refused.push_back("delete");
        if (!MoveFileA(p, (paths[0] + ".moved").c_str())) refused.push_back("rename");
        if (!CopyFileA(paths[1].c_str(), p, FALSE)) refused.push_back("copy over");
        if (!MoveFileExA(paths[1].c_str(), p, MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED))
            refused.push_back("move over");
        HANDLE h = CreateFileA(p, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, 0, nullptr);
        if (h == INVALID_HANDLE_VALUE) refused.push_back("write");
        else CloseHandle(h);
    };
    EXPECT_EQ(Extract(b, dest_), 0);
    EXPECT_EQ(TheFakeUi.PumpCount, 4);
    EXPECT_EQ(refused.size(), 5u * 4u);
    EXPECT_TRUE(TheFakeUi.Messages.empty()) << TheFakeUi.Messages[0].Text;
    ASSERT_EQ(TheFakeUi.StartedPrograms.size(), 1u);
    EXPECT_EQ(ReadWholeFile(program), code);

    // A hard link made to the held file: the start is refused, with the reason.
    TheFakeUi.Reset();
    TheFakeUi.OnPump = [](int) {
        if (linked == 0 && GetFileAttributesA(paths[0].c_str()) != INVALID_FILE_ATTRIBUTES)
            linked = CreateHardLinkA((paths[0] + ".link").c_str(), paths[0].c_str(), nullptr) ? 1 : 2;
    };
    DeleteFileA(program.c_str());
    EXPECT_EQ(Extract(b, dest_), 0);
    if (linked != 1) GTEST_SKIP() << "this system makes no hard link to a file open for reading only";
    EXPECT_TRUE(TheFakeUi.StartedPrograms.empty());
    ASSERT_EQ(TheFakeUi.Messages.size(), 1u);
    EXPECT_EQ(TheFakeUi.Messages[0].Text, "Cannot open " + program + "\nFile or folder is a link");
}

}  // namespace
