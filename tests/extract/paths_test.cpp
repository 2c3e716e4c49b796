// 8.3 shortening, contained names and the byte-string helpers.
#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "extract/paths.h"
#include "profile/profile.h"
#include "tests/support/windows_name_cases.h"

using namespace qartest;

namespace {

std::string Shorten(const std::string& component) {
    char out[64];
    char* end = ShortenComponent(out, component.data(), component.data() + component.size());
    return std::string(out, end);
}

std::string ShortPath(const std::string& path, bool useShortNames = true) {
    char buffer[261] = {0};
    strcpy(buffer, path.c_str());
    uint8_t saved = Profile.UseShortNames;
    Profile.UseShortNames = useShortNames;
    MakeShortPath(buffer);
    Profile.UseShortNames = saved;
    return buffer;
}

TEST(ShortenComponent, EightThreeForms) {
    EXPECT_EQ(Shorten("Program Files"), "ProgramF");
    EXPECT_EQ(Shorten("readme.first.txt"), "readmefi.txt");
    EXPECT_EQ(Shorten("archive.tar.gz"), "archivet.gz");
    EXPECT_EQ(Shorten("page.html"), "page.htm");
    EXPECT_EQ(Shorten(".profile"), ".pro");
    EXPECT_EQ(Shorten("notes."), "notes.");
    EXPECT_EQ(Shorten("SETUP.EXE"), "SETUP.EXE");
    EXPECT_EQ(Shorten("averyveryverylongname"), "averyver");
    EXPECT_EQ(Shorten("a*b?c\"d<e>f|g/h:i j"), "abcdefgh");
    EXPECT_EQ(Shorten("*?*.t x*t"), ".txt");
    EXPECT_EQ(Shorten("x+y,z;=[].e e"), "x+y,z;=[.ee");
    EXPECT_EQ(Shorten(""), "");
}

TEST(ShortenComponent, RewritesInPlace) {
    char text[] = "readme.first.txt";
    char* end = ShortenComponent(text, text, text + strlen(text));
    EXPECT_EQ(std::string(text, end), "readmefi.txt");
}

TEST(MakeShortPath, ShortensEveryComponentOnlyWhenAsked) {
    EXPECT_EQ(ShortPath("C:\\Program Files\\Tavlore\\readme.first.txt"),
              "C:\\ProgramF\\Tavlore\\readmefi.txt");
    EXPECT_EQ(ShortPath("C:\\Program Files\\readme.first.txt", false),
              "C:\\Program Files\\readme.first.txt");
    EXPECT_EQ(ShortPath("\\\\lead\\Long Folder Name\\x"), "\\\\lead\\LongFold\\x");
    EXPECT_EQ(ShortPath("D:relative name.text"), "D:relative.tex");
    EXPECT_EQ(ShortPath("a\\\\b"), "a\\\\b");    // an empty component stays empty
    EXPECT_EQ(ShortPath("folder\\"), "folder\\");
    EXPECT_EQ(ShortPath(""), "");
}

TEST(IsContainedName, RefusesNamesThatLeaveTheFolder) {
    for (const char* bad : {"..", "..\\x", "a\\..\\..\\x", "a/../b", "\\abs", "/abs", "C:x",
                            "C:\\x", "a\\b:c", "a\\\\b", ".", "a\\.\\b", "...", ". .", "a\\ \\b",
                            "a\\.. ", "a..", "a.\\b", "b \\c", "NUL", "con.txt", "sub\\com1.x",
                            "aux .h", "LPT\xB9.log", "conout$", "a\x01" "b"}) {
        EXPECT_FALSE(IsContainedName(bad)) << bad;
    }
    for (const char* good : {"a", "a\\b\\c.txt", "..a", "nul1", "com0", "com", "lpt\xB4", "x.con",
                             "a\\...b", ".profile", "sub\\", "x y\\z", ""}) {
        EXPECT_TRUE(IsContainedName(good)) << good;
    }    // Each name on its own, as a folder on the way and as the last component.
    for (const char* name : kAliasingNames) {
        EXPECT_FALSE(IsContainedName(name)) << name;
        EXPECT_FALSE(IsContainedName((std::string("sub\\") + name + "\\x").c_str())) << name;
        EXPECT_FALSE(IsContainedName((std::string("sub/") + name).c_str())) << name;
    }
    for (const char* name : kSoundNames) {
        EXPECT_TRUE(IsContainedName(name)) << name;
        EXPECT_TRUE(IsContainedName((std::string("sub\\") + name + "\\x").c_str())) << name;
    }
}

TEST(ByteHelpers, Find) {
    const char* text = "a\\b\\c";
    EXPECT_EQ(FindChar(text, '\\'), text + 1);
    EXPECT_EQ(FindLastChar(text, '\\'), text + 3);
    EXPECT_EQ(FindChar(text, 0), text + 5);
    EXPECT_EQ(FindLastChar(text, 0), text + 5);
    EXPECT_EQ(FindChar(text, 'z'), nullptr);
    EXPECT_EQ(FindLastChar(text, 'z'), nullptr);

    const uint8_t bytes[] = {1, 2, 0, 2, 0xFF};
    EXPECT_EQ(FindByte(bytes, 2, 5), bytes + 1);
    EXPECT_EQ(FindByte(bytes, 0xFF, 5), bytes + 4);
    EXPECT_EQ(FindByte(bytes, 0xFF, 4), nullptr);
    EXPECT_EQ(FindByte(bytes, 1, 0), nullptr);
}

}  // namespace
