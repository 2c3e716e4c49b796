// The file-system layer on whichever platform the tests run: results, and which operations
// clear, record or keep State.LastSystemError.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/fs.h"
#include "profile/state.h"
#include "tests/platform/fs_helpers.h"

namespace {

const int32_t kStale = 99;   // an error number no operation here produces

std::vector<uint8_t> Pattern(uint32_t n) {
    std::vector<uint8_t> bytes(n);
    for (uint32_t i = 0; i < n; ++i) bytes[i] = (uint8_t)(i * 7 + 3);
    return bytes;
}

// Creates path holding bytes through the layer.
void MakeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    FileHandle h = FsCreate(path.c_str(), kAttrNormal);
    ASSERT_NE(h, kInvalidHandle);
    ASSERT_EQ(FsWrite(h, bytes.data(), (uint32_t)bytes.size()), (int32_t)bytes.size());
    ASSERT_EQ(FsClose(h), 1);
}

bool SameCivil(const CivilTime& a, const CivilTime& b) {
    return a.Year == b.Year && a.Month == b.Month && a.Day == b.Day && a.Hour == b.Hour &&
           a.Minute == b.Minute && a.Second == b.Second;
}

}  // namespace

TEST(FileSystem, CreateWriteSeekReadRoundTrip) {
    ScratchFolder dir;
    const std::string path = dir / "data.bin";
    const std::vector<uint8_t> bytes = Pattern(1000);
    MakeFile(path, bytes);

    FileHandle h = FsOpen(path.c_str(), kGenericRead);
    ASSERT_NE(h, kInvalidHandle);
    EXPECT_EQ(FsSeek(h, 0, kFileEnd), 1000);
    EXPECT_EQ(FsSeek(h, 990, kFileBegin), 990);
    std::vector<uint8_t> got(64);
    EXPECT_EQ(FsRead(h, got.data(), 64), 10) << "short at the end of the file";
    EXPECT_EQ(std::vector<uint8_t>(got.begin(), got.begin() + 10),
              std::vector<uint8_t>(bytes.end() - 10, bytes.end()));
    EXPECT_EQ(FsRead(h, got.data(), 64), 0) << "nothing beyond the end";
    EXPECT_EQ(State.LastSystemError, 0);
    EXPECT_EQ(FsSeek(h, 0, kFileBegin), 0);
    got.assign(1000, 0);
    EXPECT_EQ(FsRead(h, got.data(), 1000), 1000);
    EXPECT_EQ(got, bytes);
    EXPECT_EQ(FsClose(h), 1);

    // Small reads from two handles on the file, taken in turns, each see their own next bytes;
    // a write behind such reads lands right behind the bytes read.
    FileHandle a = FsOpen(path.c_str(), kGenericRead | kGenericWrite);
    FileHandle b = FsOpen(path.c_str(), kGenericRead);
    ASSERT_NE(a, kInvalidHandle);
    ASSERT_NE(b, kInvalidHandle);
    uint8_t x[7], y[5];
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(FsRead(a, x, 7), 7);
        ASSERT_EQ(FsRead(b, y, 5), 5);
        EXPECT_TRUE(std::equal(x, x + 7, bytes.begin() + 7 * i)) << i;
        EXPECT_TRUE(std::equal(y, y + 5, bytes.begin() + 5 * i)) << i;
    }
    const uint8_t mark = (uint8_t)~bytes[21];
    EXPECT_EQ(FsWrite(a, &mark, 1), 1);
    EXPECT_EQ(FsSeek(b, 0, kFileBegin), 0);
    got.assign(1000, 0);
    EXPECT_EQ(FsRead(b, got.data(), 1000), 1000);
    std::vector<uint8_t> expected = bytes;
    expected[21] = mark;
    EXPECT_EQ(got, expected);
    EXPECT_EQ(FsClose(a), 1);
    EXPECT_EQ(FsClose(b), 1);

    // Creating an existing file empties it.
    h = FsCreate(path.c_str(), 0);
    ASSERT_NE(h, kInvalidHandle);
    EXPECT_EQ(FsSeek(h, 0, kFileEnd), 0);
    EXPECT_EQ(FsClose(h), 1);
}

TEST(FileSystem, ResettingOperationsClearTheErrorOnSuccess) {
    ScratchFolder dir;
    const std::string path = dir / "f.txt";
    State.LastSystemError = kStale;
    FileHandle h = FsCreate(path.c_str(), kAttrNormal);
    ASSERT_NE(h, kInvalidHandle);
    EXPECT_EQ(State.LastSystemError, 0);
    uint8_t b[4] = {1, 2, 3, 4};
    State.LastSystemError = kStale;
    EXPECT_EQ(FsWrite(h, b, 4), 4);
    EXPECT_EQ(State.LastSystemError, 0);
    State.LastSystemError = kStale;
    EXPECT_EQ(FsSeek(h, 1, kFileBegin), 1);
    EXPECT_EQ(State.LastSystemError, 0);
    State.LastSystemError = kStale;
    EXPECT_EQ(FsRead(h, b, 4), 3);
    EXPECT_EQ(State.LastSystemError, 0);
    State.LastSystemError = kStale;
    EXPECT_EQ(FsSetTimes(h, 0, 0, 0, 0), 1);
    EXPECT_EQ(State.LastSystemError, 0);
    EXPECT_EQ(FsClose(h), 1);
    State.LastSystemError = kStale;
    h = FsOpen(path.c_str(), kGenericRead);
    ASSERT_NE(h, kInvalidHandle);
    EXPECT_EQ(State.LastSystemError, 0);
    FsClose(h);
    State.LastSystemError = kStale;
    EXPECT_EQ(FsSetAttributes(path.c_str(), kAttrNormal), 1);
    EXPECT_EQ(State.LastSystemError, 0);
}

TEST(FileSystem, NonResettingOperationsKeepAnEarlierError) {
    ScratchFolder dir;
    const std::string path = dir / "f.txt";
    MakeFile(path, Pattern(3));
    State.LastSystemError = kStale;
    EXPECT_NE(FsGetAttributes(path.c_str()), -1);
    EXPECT_EQ(FsMakeFolder((dir / "sub").c_str()), 1);
    EXPECT_EQ(FsDelete(path.c_str()), 1);
    FileHandle h = FsOpen((dir / "sub").c_str(), kGenericRead);   // a folder: fails, resets first
    EXPECT_EQ(h, kInvalidHandle);
    EXPECT_EQ(State.LastSystemError, kErrorAccessDenied);
    State.LastSystemError = kStale;
    EXPECT_EQ(FsGetAttributes((dir / "sub").c_str()) & kAttrFolder, (uint32_t)kAttrFolder);
    EXPECT_EQ(State.LastSystemError, kStale);
}

TEST(FileSystem, FailuresRecordWin32Numbers) {
    ScratchFolder dir;
    const std::string missing = dir / "missing.txt";
    const std::string deep = dir / "nofolder/x.txt";
    State.LastSystemError = kStale;
    EXPECT_EQ(FsOpen(missing.c_str(), kGenericRead), kInvalidHandle);
    EXPECT_EQ(State.LastSystemError, kErrorFileNotFound);
    EXPECT_EQ(FsOpen(deep.c_str(), kGenericRead), kInvalidHandle);
    EXPECT_EQ(State.LastSystemError, kErrorPathNotFound);
    EXPECT_EQ(FsCreate(deep.c_str(), kAttrNormal), kInvalidHandle);
    EXPECT_EQ(State.LastSystemError, kErrorPathNotFound);

    State.LastSystemError = 0;
    EXPECT_EQ(FsGetAttributes(missing.c_str()), -1);
    EXPECT_EQ(State.LastSystemError, kErrorFileNotFound);
    State.LastSystemError = 0;
    EXPECT_EQ(FsDelete(missing.c_str()), 0);
    EXPECT_EQ(State.LastSystemError, kErrorFileNotFound);
    State.LastSystemError = 0;
    EXPECT_EQ(FsMakeFolder((dir / "a/b").c_str()), 0);
    EXPECT_EQ(State.LastSystemError, kErrorPathNotFound);
    State.LastSystemError = 0;
    EXPECT_EQ(FsSetAttributes(missing.c_str(), kAttrNormal), 0);
    EXPECT_EQ(State.LastSystemError, kErrorFileNotFound);

    ASSERT_EQ(FsMakeFolder((dir / "a").c_str()), 1);
    State.LastSystemError = 0;
    EXPECT_EQ(FsMakeFolder((dir / "a").c_str()), 0);
    EXPECT_EQ(State.LastSystemError, kErrorAlreadyExists);
}

TEST(FileSystem, CloseKeepsAnEarlierErrorNumber) {
    ScratchFolder dir;
    const std::string path = dir / "f.txt";
    MakeFile(path, Pattern(1));
    FileHandle h = FsOpen(path.c_str(), kGenericRead);
    ASSERT_NE(h, kInvalidHandle);
    State.LastSystemError = kStale;
    EXPECT_EQ(FsClose(h), 1);
    EXPECT_EQ(State.LastSystemError, kStale) << "a good close resets nothing";

    // The handle is closed now: closing it again fails.
    State.LastSystemError = kErrorDiskFull;
    EXPECT_EQ(FsClose(h), 0);
    EXPECT_EQ(State.LastSystemError, kErrorDiskFull);
    State.LastSystemError = 0;
    EXPECT_EQ(FsClose(h), 0);
    EXPECT_NE(State.LastSystemError, 0);
}

TEST(FileSystem, ReadOnlyAttribute) {
    ScratchFolder dir;
    const std::string path = dir / "ro.txt";
    MakeFile(path, Pattern(10));
    int32_t attributes = FsGetAttributes(path.c_str());
    ASSERT_NE(attributes, -1);
    EXPECT_EQ(attributes & (kAttrFolder | kAttrReadOnly), 0u);

    ASSERT_EQ(FsSetAttributes(path.c_str(), kAttrReadOnly), 1);
    EXPECT_EQ(FsGetAttributes(path.c_str()) & kAttrReadOnly, (uint32_t)kAttrReadOnly);
    FileHandle h = FsOpen(path.c_str(), kGenericRead);
    ASSERT_NE(h, kInvalidHandle) << "reading is still allowed";
    FsClose(h);

    ASSERT_EQ(FsSetAttributes(path.c_str(), kAttrNormal), 1);
    EXPECT_EQ(FsGetAttributes(path.c_str()) & kAttrReadOnly, 0u);
    EXPECT_EQ(FsDelete(path.c_str()), 1);
    EXPECT_EQ(FsGetAttributes(path.c_str()), -1);
}

TEST(FileSystem, SetTimesHonoursZeroDates) {
    ScratchFolder dir;
    const std::string path = dir / "t.txt";
    const CivilTime example{2000, 8, 31, 21, 53, 28};   // DOS 0x291F / 0xAEAE
    FileHandle h = FsCreate(path.c_str(), kAttrNormal);
    ASSERT_NE(h, kInvalidHandle);
    // Only the write time: the creation pair is zero.
    EXPECT_EQ(FsSetTimes(h, 0, 0, 0x291F, 0xAEAE), 1);
    ASSERT_EQ(FsClose(h), 1);
    CivilTime written{};
    ASSERT_TRUE(ReadWriteTime(path, &written));
    EXPECT_TRUE(SameCivil(written, example)) << written.Year << "-" << written.Month << "-"
                                             << written.Day << " " << written.Hour << ":"
                                             << written.Minute << ":" << written.Second;

    // Files written one after another with stamps that share their date, or their time of
    // day, each get their own.
    const struct {
        uint16_t Date, Time;
        CivilTime Expected;
    } stamps[] = {{0x291F, 0x0000, {2000, 8, 31, 0, 0, 0}},
                  {0x2B21, 0x0000, {2001, 9, 1, 0, 0, 0}},
                  {0x2B21, 0x6000, {2001, 9, 1, 12, 0, 0}}};
    for (const auto& stamp : stamps) {
        const std::string other = dir / "stamp.txt";
        h = FsCreate(other.c_str(), kAttrNormal);
        ASSERT_NE(h, kInvalidHandle);
        EXPECT_EQ(FsSetTimes(h, 0, 0, stamp.Date, stamp.Time), 1);
        ASSERT_EQ(FsClose(h), 1);
        ASSERT_TRUE(ReadWriteTime(other, &written));
        EXPECT_TRUE(SameCivil(written, stamp.Expected)) << stamp.Date << " " << stamp.Time;
    }

    // A zero write date leaves the write time alone whatever its time word says, also when
    // a creation time is given.
    h = FsOpen(path.c_str(), kGenericRead | kGenericWrite);
    ASSERT_NE(h, kInvalidHandle);
    EXPECT_EQ(FsSetTimes(h, 0x2B21, 0x6000, 0, 0x1234), 1);   // created 2001-09-01 12:00:00
    EXPECT_EQ(FsSetTimes(h, 0, 0, 0, 0), 1);
    ASSERT_EQ(FsClose(h), 1);
    ASSERT_TRUE(ReadWriteTime(path, &written));
    EXPECT_TRUE(SameCivil(written, example));

    // A failing call records the platform's number.
    State.LastSystemError = 0;
    EXPECT_EQ(FsSetTimes(h, 0, 0, 0x291F, 0xAEAE), 0);
    EXPECT_NE(State.LastSystemError, 0);
}

TEST(FileSystem, WritesFailWithoutResettingOtherwise) {
    ScratchFolder dir;
    const std::string path = dir / "r.txt";
    MakeFile(path, Pattern(5));
    FileHandle h = FsOpen(path.c_str(), kGenericRead);
    ASSERT_NE(h, kInvalidHandle);
    uint8_t b[5] = {};
    EXPECT_EQ(FsWrite(h, b, 5), -1) << "handle opened for reading";
    EXPECT_NE(State.LastSystemError, 0);
    EXPECT_EQ(FsSeek(h, -10, kFileBegin), -1);
    EXPECT_NE(State.LastSystemError, 0);
    FsClose(h);
}

TEST(FileSystem, MaxComponentLengthOfAFolderStillToBeMade) {
    ScratchFolder dir;
    EXPECT_GT(FsMaxComponentLength((dir / "not/made/yet").c_str()), 12u);
    EXPECT_GT(FsMaxComponentLength(dir.Path.c_str()), 12u);
    // No drive and no server: the volume of the current directory answers.
    EXPECT_GT(FsMaxComponentLength("relative-not-made"), 12u);
    EXPECT_GT(FsMaxComponentLength("\\rooted-not-made"), 12u);
}

TEST(Memory, AllocateGrowFree) {
    uint8_t* p = static_cast<uint8_t*>(MemAlloc(100));
    ASSERT_NE(p, nullptr);
    for (int i = 0; i < 100; ++i) p[i] = (uint8_t)i;
    uint8_t* q = static_cast<uint8_t*>(MemRealloc(p, 100000));
    ASSERT_NE(q, nullptr);
    for (int i = 0; i < 100; ++i) EXPECT_EQ(q[i], (uint8_t)i);
    q[99999] = 1;
    MemFree(q);
}
