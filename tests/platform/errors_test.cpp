// ReportError and SystemErrorSuffix: the texts users see, the buttons, the answers and the
// bookkeeping of the last system error around a message.
#include <gtest/gtest.h>
#include <string.h>

#include <string>

#include "extract/user_interface.h"
#include "platform/errors.h"
#include "platform/text.h"
#include "profile/state.h"
#include "tests/support/fake_ui.h"

namespace {

class ReportErrorTest : public ::testing::Test {
protected:
    void SetUp() override {
        TheFakeUi.Reset();
        CopyText(State.ProgramName, kProgramNameSize, "inst.exe");
        State.LastSystemError = 0;
    }
    // The only message shown so far.
    std::string Shown() {
        EXPECT_EQ(TheFakeUi.Messages.size(), 1u);
        return TheFakeUi.Messages.empty() ? std::string() : TheFakeUi.Messages.back().Text;
    }
    WindowHandle owner = reinterpret_cast<WindowHandle>(0x1234);
};

std::string SuffixFor(int32_t number) {
    State.LastSystemError = number;
    return SystemErrorSuffix();
}

}  // namespace

TEST(SystemErrorSuffix, Table) {
    EXPECT_EQ(SuffixFor(0), "");
    EXPECT_EQ(SuffixFor(2), "\nFile not found");
    EXPECT_EQ(SuffixFor(3), "\nPath not found");
    EXPECT_EQ(SuffixFor(5), "\nAccess denied");
    EXPECT_EQ(SuffixFor(15), "\nInvalid drive");
    EXPECT_EQ(SuffixFor(19), "\nDisk is write protected");
    EXPECT_EQ(SuffixFor(21), "\nDevice not ready");
    EXPECT_EQ(SuffixFor(25), "\nTrack not found");
    EXPECT_EQ(SuffixFor(26), "\nNot a DOS disk");
    EXPECT_EQ(SuffixFor(27), "\nSector not found");
    EXPECT_EQ(SuffixFor(29), "\nWrite fault");
    EXPECT_EQ(SuffixFor(30), "\nRead fault");
    EXPECT_EQ(SuffixFor(31), "\nGeneral failure");
    EXPECT_EQ(SuffixFor(39), "\nDisk full");
    EXPECT_EQ(SuffixFor(80), "\nFile exists");
    EXPECT_EQ(SuffixFor(112), "\nDisk full");
    EXPECT_EQ(SuffixFor(161), "\nInvalid path");
}

TEST(SystemErrorSuffix, NetworkRangeAndUnknownNumbers) {
    for (int32_t n = 50; n <= 71; ++n) EXPECT_EQ(SuffixFor(n), "\nNetwork error") << n;
    for (int32_t n : {1, 4, 6, 20, 28, 32, 49, 72, 79, 81, 183, 206, -1, 0x7FFFFFFF}) {
        EXPECT_EQ(SuffixFor(n), "") << n;
    }
}

TEST_F(ReportErrorTest, TextsWithNameAndSuffix) {
    struct Case {
        int32_t Code;
        const char* Text;
    };
    const Case cases[] = {
        {ErrOpen, "Cannot open C:\\x\\a.dat\nAccess denied"},
        {ErrCreate, "Cannot create C:\\x\\a.dat\nAccess denied"},
        {ErrRead, "Cannot read C:\\x\\a.dat\nAccess denied"},
        {ErrSeek, "Cannot read C:\\x\\a.dat\nAccess denied"},
        {ErrWrite, "Cannot write C:\\x\\a.dat\nAccess denied"},
        {ErrCreateFolder, "Cannot create folder C:\\x\\a.dat\nAccess denied"},
    };
    for (const Case& c : cases) {
        TheFakeUi.Reset();
        State.LastSystemError = 5;
        EXPECT_EQ(ReportError(owner, c.Code, "C:\\x\\a.dat", false), 1) << c.Code;
        EXPECT_EQ(Shown(), c.Text);
        EXPECT_EQ(TheFakeUi.Messages.back().Style, 0x30u);
        EXPECT_EQ(TheFakeUi.Messages.back().Owner, owner);
        EXPECT_EQ(State.LastSystemError, 0) << "cleared after formatting";
    }
}

TEST_F(ReportErrorTest, ProgramNameWhenNoNameAndEmptySuffix) {
    State.LastSystemError = 2;
    EXPECT_EQ(ReportError(nullptr, ErrOpen, nullptr, false), 1);
    EXPECT_EQ(Shown(), "Cannot open inst.exe\nFile not found");
    EXPECT_EQ(TheFakeUi.Messages.back().Owner, nullptr);

    // A short read records no system error: the message ends with the name.
    TheFakeUi.Reset();
    EXPECT_EQ(ReportError(nullptr, ErrRead, nullptr, false), 1);
    EXPECT_EQ(Shown(), "Cannot read inst.exe");
}

TEST_F(ReportErrorTest, FixedTexts) {
    const char* damaged = "Archive data is damaged, probably caused by\na corrupt disk or download error";
    State.LastSystemError = 112;
    ReportError(owner, ErrDamaged, "ignored", false);
    EXPECT_EQ(Shown(), damaged);
    EXPECT_EQ(State.LastSystemError, 0);
    TheFakeUi.Reset();
    ReportError(owner, ErrInputExhausted, nullptr, false);
    EXPECT_EQ(Shown(), damaged);
    TheFakeUi.Reset();
    State.LastSystemError = 5;
    ReportError(owner, ErrNoMemory, nullptr, false);
    EXPECT_EQ(Shown(), "Not enough memory");
    EXPECT_EQ(State.LastSystemError, 0);
}

TEST_F(ReportErrorTest, CrcQuotesThePathWithoutSuffix) {
    State.LastSystemError = 5;
    EXPECT_EQ(ReportError(owner, ErrCrc, "sub\\TAVLORE.HLP", false), 1);
    EXPECT_EQ(Shown(), "File \"sub\\TAVLORE.HLP\" fails error check");
    EXPECT_EQ(State.LastSystemError, 0);
}

TEST_F(ReportErrorTest, CodesWithoutMessageShowNothingAndKeepTheError) {
    for (int32_t code : std::initializer_list<int32_t>{ErrSilent, ErrCancelled, 0, 1, 42, -4, -7, -10, -13, -51, -1000}) {
        State.LastSystemError = 3;
        EXPECT_EQ(ReportError(owner, code, "x", false), 0) << code;
        EXPECT_EQ(ReportError(owner, code, "x", true), 0) << code;
        EXPECT_EQ(State.LastSystemError, 3) << code;
    }
    EXPECT_TRUE(TheFakeUi.Messages.empty());
}

TEST_F(ReportErrorTest, AskOffersOkAndCancel) {
    TheFakeUi.MessageAnswers = {kAnswerOk, kAnswerCancel};
    State.LastSystemError = 5;
    EXPECT_EQ(ReportError(owner, ErrCreate, "C:\\T\\f.txt", true), 0);
    State.LastSystemError = 5;
    EXPECT_EQ(ReportError(owner, ErrCreate, "C:\\T\\f.txt", true), 1);
    ASSERT_EQ(TheFakeUi.Messages.size(), 2u);
    for (const FakeUi::Message& m : TheFakeUi.Messages) {
        EXPECT_EQ(m.Text, "Cannot create C:\\T\\f.txt\nAccess denied");
        EXPECT_EQ(m.Style, 0x31u);
    }
    // A notice returns 1 whatever button closed it.
    TheFakeUi.MessageAnswers = {kAnswerOk};
    EXPECT_EQ(ReportError(owner, ErrCrc, "f", false), 1);
}

TEST_F(ReportErrorTest, LongestMessagesFitAndOverlongNamesKeepTheSuffix) {
    // A 259-character path with the longest text and suffix is shown whole.
    std::string path = "C:\\" + std::string(256, 'p');
    State.LastSystemError = 19;
    ReportError(owner, ErrCreateFolder, path.c_str(), false);
    EXPECT_EQ(Shown(), "Cannot create folder " + path + "\nDisk is write protected");

    // A name longer than any path is shortened, never written past MessageText (the field
    // behind it stays as it was), and the reason stays readable.
    void* const behind = reinterpret_cast<void*>(0x5A5A5A5A);
    State.DialogFont = behind;
    for (size_t length : {size_t(350), size_t(353), size_t(354), size_t(355), size_t(2000)}) {
        TheFakeUi.Reset();
        std::string name(length, 'q');
        memset(State.MessageText + 0, 0, kMessageTextSize);
        State.LastSystemError = 19;
        ReportError(owner, ErrCreateFolder, name.c_str(), false);
        std::string text = Shown();
        EXPECT_LT(text.size(), size_t(kMessageTextSize)) << length;
        EXPECT_EQ(text.rfind("Cannot create folder q", 0), 0u) << length;
        EXPECT_EQ(text.substr(text.size() - 24), "\nDisk is write protected") << length;
        if (length <= kMessageTextSize - 1 - 21 - 24) {
            EXPECT_EQ(text, "Cannot create folder " + name + "\nDisk is write protected");
        } else {
            EXPECT_EQ(text.size(), size_t(kMessageTextSize - 1)) << length;
            EXPECT_NE(text.find("...\nDisk"), std::string::npos) << length;
        }
    }
    // The same bound holds for the quoted name of a checksum failure.
    TheFakeUi.Reset();
    ReportError(owner, ErrCrc, std::string(1000, 'c').c_str(), false);
    EXPECT_EQ(Shown().size(), size_t(kMessageTextSize - 1));
    EXPECT_EQ(State.DialogFont, behind);
}
