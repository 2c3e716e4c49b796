// Walking real folders: names, order, attributes and times, and every refusal, each of
// which must name the offending path.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <iconv.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "archive/records.h"
#include "pack/source_tree.h"
#include "tests/support/windows_name_cases.h"
#include "text/code_pages.h"

using namespace qartest;

namespace {

class TempTree {
public:
    TempTree() {
        char pattern[] = "/tmp/qar-tree-XXXXXX";
        root_ = mkdtemp(pattern);
    }
    ~TempTree() { system(("rm -rf '" + root_ + "'").c_str()); }
    std::string Path(const std::string& relative) const { return root_ + "/" + relative; }
    void Folder(const std::string& relative) const { mkdir(Path(relative).c_str(), 0755); }
    void File(const std::string& relative, const std::string& content = "x") const {
        std::ofstream(Path(relative), std::ios::binary) << content;
    }
    const std::string& Root() const { return root_; }

private:
    std::string root_;
};

std::vector<std::string> Names(const std::vector<SourceEntry>& entries) {
    std::vector<std::string> names;
    for (const SourceEntry& e : entries) names.push_back(e.Name + (e.IsFolder ? "/" : ""));
    return names;
}

// Walks root alone and returns the refusal, or "" when it was accepted.
std::string Refusal(const std::vector<std::string>& paths, int codePage = 1252) {
    WalkOptions options;
    options.CodePage = codePage;
    try {
        WalkSources(paths, options);
    } catch (const PackError& e) {
        return e.what();
    }
    return "";
}

}  // namespace

TEST(SourceTree, NamesOrderAndMerging) {
    TempTree t;
    t.Folder("a");
    t.Folder("a/sub");
    t.Folder("a/sub/deep");
    t.Folder("a/empty");
    t.File("a/sub/z.txt");
    t.File("a/sub/B.txt");
    t.File("a/sub/deep/x");
    t.File("a/top");
    t.Folder("b");
    t.Folder("b/sub");
    t.File("b/sub/other");
    t.File("lone.exe", "MZ");
    const std::vector<SourceEntry> entries =
        WalkSources({t.Path("a"), t.Path("lone.exe"), t.Path("b/")}, WalkOptions());
    // Byte order (upper case before lower), folders before their contents, names relative to
    // each given folder, a given file by its name; "sub" of b merges into "sub" of a.
    const std::vector<std::string> expected = {
        "empty/", "sub/", "sub\\B.txt", "sub\\deep/", "sub\\deep\\x", "sub\\z.txt", "top",
        "lone.exe", "sub\\other",
    };
    EXPECT_EQ(Names(entries), expected);
    EXPECT_EQ(entries[7].Path, t.Path("lone.exe"));
    EXPECT_EQ(entries[7].Size, 2u);
}

TEST(SourceTree, AttributesAndTimes) {
    setenv("TZ", "UTC", 1);
    tzset();
    TempTree t;
    t.Folder("d");
    t.File("d/ro", "abc");
    t.File("d/rw", "abc");
    chmod(t.Path("d/ro").c_str(), 0444);
    // 2001-02-03 04:05:06 UTC
    const time_t when = 981173106;
    struct timespec times[2] = {{when, 0}, {when, 0}};
    utimensat(AT_FDCWD, t.Path("d/rw").c_str(), times, 0);
    WalkOptions options;
    std::vector<SourceEntry> e = WalkSources({t.Root()}, options);
    ASSERT_EQ(Names(e), (std::vector<std::string>{"d/", "d\\ro", "d\\rw"}));
    EXPECT_EQ(e[0].Attributes, 0x10);
    EXPECT_EQ(e[1].Attributes, 0x21);
    EXPECT_EQ(e[2].Attributes, 0x20);
    CivilTime c;
    DosToCivil(e[2].WriteDate, e[2].WriteTime, &c);
    EXPECT_EQ(c.Year, 2001);
    EXPECT_EQ(c.Month, 2);
    EXPECT_EQ(c.Day, 3);
    EXPECT_EQ(c.Hour, 4);
    EXPECT_EQ(c.Minute, 5);
    EXPECT_EQ(c.Second, 6);
    EXPECT_NE(e[2].CreateDate, 0);

    // SOURCE_DATE_EPOCH caps later times and leaves earlier ones.
    options.SourceDateEpoch = 946684800;   // 2000-01-01 00:00:00
    e = WalkSources({t.Root()}, options);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(e[i].WriteDate, ((2000 - 1980) << 9) | (1 << 5) | 1) << i;
        EXPECT_EQ(e[i].WriteTime, 0) << i;
        EXPECT_EQ(e[i].CreateDate, e[i].WriteDate) << i;
    }
    options.SourceDateEpoch = 2000000000;
    e = WalkSources({t.Root()}, options);
    DosToCivil(e[2].WriteDate, e[2].WriteTime, &c);
    EXPECT_EQ(c.Year, 2001);
}

TEST(SourceTree, RefusesNamesWindowsCannotHold) {
    TempTree t;
    const char* bad[] = {"a<b", "a>b", "a:b", "a\"b", "a|b", "a?b", "a*b", "a\\b", "tab\tx",
                         "CON", "con.txt", "Nul", "aux.tar.gz", "PRN", "COM1", "lpt9.log",
                         "NUL .txt", "dot.", "space ", "conin$", "CONOUT$.x", "COM\xC2\xB9",
                         "lpt\xC2\xB3.txt"};
    for (const char* name : bad) {
        TempTree one;
        one.File(name);
        const std::string why = Refusal({one.Root()});
        EXPECT_NE(why.find(one.Path(name)), std::string::npos) << name << ": " << why;
    }
    // The names the installer refuses to extract, and those Windows cannot make, are
    // refused here as the archive's code page holds them.
    for (int codePage : {1252, 1250}) {
        for (const char* name : kAliasingNames) {
            EXPECT_NE(CheckComponent(FromCodePage(name, codePage), codePage), "") << name;
        }
        for (const char* name : kForbiddenCharacterNames) {
            EXPECT_NE(CheckComponent(FromCodePage(name, codePage), codePage), "") << name;
        }
    }
    for (const char* name : kSoundNames) {
        EXPECT_EQ(CheckComponent(FromCodePage(name, 1252), 1252), "") << name;
    }
    const char* good[] = {"COM10", "console", "LPT0", "CONx.txt", "a.b.c", ".hidden", "x y", "caf\xC3\xA9",
                          "COM\xC2\xB9" "0", "LPT\xC2\xB4"};
    for (const char* name : good) {
        TempTree one;
        one.File(name);
        EXPECT_EQ(Refusal({one.Root()}), "") << name;
    }
    // A bad folder name is refused as well, and what lies inside it is still checked, so
    // that one walk lists every problem.
    t.Folder("trail.");
    t.File("trail./inner");
    t.File("trail./in|ner");
    t.File("late?");
    try {
        WalkSources({t.Root()}, WalkOptions());
        ADD_FAILURE() << "accepted";
    } catch (const InputProblems& e) {
        ASSERT_EQ(e.Lines.size(), 3u);
        EXPECT_NE(e.Lines[0].find(t.Path("late?")), std::string::npos) << e.Lines[0];
        EXPECT_NE(e.Lines[1].find(t.Path("trail.")), std::string::npos) << e.Lines[1];
        EXPECT_NE(e.Lines.at(2).find(t.Path("trail./in|ner")), std::string::npos);
    }
}

TEST(SourceTree, RefusesLinksCaseClashesAndLongNames) {
    {
        // Links are followed; a link to nothing or back into its own folder is left out with
        // a warning, and so is every link when they are skipped.
        TempTree t;
        t.Folder("d");
        t.File("d/target", "abc");
        ASSERT_EQ(symlink("target", t.Path("d/link").c_str()), 0);
        ASSERT_EQ(symlink("..", t.Path("d/up").c_str()), 0);
        ASSERT_EQ(symlink("missing", t.Path("d/gone").c_str()), 0);
        std::vector<std::string> warned;
        std::vector<WalkWarning> kinds;
        WalkOptions options;
        options.Warn = [&](WalkWarning kind, const std::string& line) {
            kinds.push_back(kind);
            warned.push_back(line);
        };
        std::vector<SourceEntry> e = WalkSources({t.Root()}, options);
        EXPECT_EQ(Names(e), (std::vector<std::string>{"d/", "d\\link", "d\\target"}));
        EXPECT_EQ(e.at(1).Size, 3u);
        ASSERT_EQ(warned.size(), 2u);
        EXPECT_NE(warned[0].find(t.Path("d/gone")), std::string::npos) << warned[0];
        EXPECT_NE(warned[1].find(t.Path("d/up")), std::string::npos) << warned[1];
        EXPECT_EQ(kinds, std::vector<WalkWarning>(2, WalkWarning::LinkSkipped));
        EXPECT_EQ(Refusal({t.Path("d/link")}), "");
        warned.clear();
        kinds.clear();
        options.Links = LinkChoice::Skip;
        EXPECT_EQ(Names(WalkSources({t.Root()}, options)), (std::vector<std::string>{"d/", "d\\target"}));
        EXPECT_EQ(kinds, std::vector<WalkWarning>(3, WalkWarning::LinkSkipped));
    }
    {
        // A followed link to what lies outside every given path is packed and told, with
        // where it leads: a folder's link once, not again for the links within that folder.
        // "in2" begins with the name "in" but lies outside it.
        TempTree t;
        t.Folder("in");
        t.File("in/own", "own");
        t.Folder("in2");
        t.File("in2/far", "far");
        t.Folder("in2/sub");
        ASSERT_EQ(symlink("../far", t.Path("in2/sub/again").c_str()), 0);
        ASSERT_EQ(symlink(t.Path("in2/far").c_str(), t.Path("in/far").c_str()), 0);
        ASSERT_EQ(symlink("../in2/sub", t.Path("in/sub").c_str()), 0);
        ASSERT_EQ(symlink("../in/own", t.Path("in/near").c_str()), 0);
        ASSERT_EQ(symlink("/nonexistent-qar-target", t.Path("in/none").c_str()), 0);
        std::vector<std::pair<WalkWarning, std::string>> warned;
        WalkOptions options;
        options.Warn = [&](WalkWarning kind, const std::string& line) { warned.emplace_back(kind, line); };
        const std::vector<SourceEntry> e = WalkSources({t.Path("in")}, options);
        EXPECT_EQ(Names(e), (std::vector<std::string>{"far", "near", "own", "sub/", "sub\\again"}));
        char* resolved = realpath(t.Root().c_str(), nullptr);
        const std::string real = resolved;
        free(resolved);
        ASSERT_EQ(warned.size(), 3u);
        EXPECT_EQ(warned[0].first, WalkWarning::LinkLeadsOut);
        EXPECT_NE(warned[0].second.find("'" + t.Path("in/far") + "'"), std::string::npos) << warned[0].second;
        EXPECT_NE(warned[0].second.find("'" + real + "/in2/far'"), std::string::npos) << warned[0].second;
        EXPECT_EQ(warned[1].first, WalkWarning::LinkSkipped) << warned[1].second;   // to nothing
        EXPECT_EQ(warned[2].first, WalkWarning::LinkLeadsOut);
        EXPECT_NE(warned[2].second.find("'" + t.Path("in/sub") + "'"), std::string::npos) << warned[2].second;
        EXPECT_NE(warned[2].second.find("'" + real + "/in2/sub'"), std::string::npos) << warned[2].second;
        // Left out, a link is not told as leading out.
        warned.clear();
        options.Excludes = {"sub/"};
        WalkSources({t.Path("in")}, options);
        ASSERT_EQ(warned.size(), 2u);
        EXPECT_NE(warned[0].second.find(t.Path("in/far")), std::string::npos) << warned[0].second;
        options.Excludes.clear();
        // Given as well, the other folder is part of the tree; so is a given file.
        warned.clear();
        WalkSources({SourceRoot{t.Path("in"), "", false}, SourceRoot{t.Path("in2"), "other", true}}, options);
        ASSERT_EQ(warned.size(), 1u);
        EXPECT_EQ(warned[0].first, WalkWarning::LinkSkipped);
        warned.clear();
        WalkSources({SourceRoot{t.Path("in"), "", false}, SourceRoot{t.Path("in2/far"), "x", true}}, options);
        ASSERT_EQ(warned.size(), 2u);
        EXPECT_NE(warned[1].second.find(t.Path("in/sub")), std::string::npos) << warned[1].second;
    }
    {
        TempTree t;
        t.File("Readme");
        t.File("README");
        const std::string why = Refusal({t.Root()});
        EXPECT_NE(why.find("letter case"), std::string::npos) << why;
        EXPECT_NE(why.find(t.Path("Readme")), std::string::npos) << why;
    }
    {
        TempTree t;   // letters beyond ASCII fold too: É and é
        t.File("\xC3\x89t\xC3\xA9");
        t.File("\xC3\xA9t\xC3\xA9");
        EXPECT_NE(Refusal({t.Root()}).find("letter case"), std::string::npos);
    }
    {
        TempTree t;   // the same file twice
        t.File("f");
        EXPECT_NE(Refusal({t.Path("f"), t.Path("f")}).find("same archive name"), std::string::npos);
    }
    {
        TempTree t;   // 259 characters are fine, 260 are not
        const std::string folder(200, 'd');
        t.Folder(folder);
        t.File(folder + "/" + std::string(58, 'f'));
        EXPECT_EQ(Refusal({t.Root()}), "");
        t.File(folder + "/" + std::string(59, 'g'));
        EXPECT_NE(Refusal({t.Root()}).find("259"), std::string::npos);
    }
    {
        TempTree t;
        t.File("fifo-maker");
        ASSERT_EQ(mkfifo(t.Path("pipe").c_str(), 0644), 0);
        EXPECT_NE(Refusal({t.Root()}).find(t.Path("pipe")), std::string::npos);
    }
    {
        TempTree t;   // a member's record must fit 32-bit stream offsets (sparse files cost no space)
        t.File("huge");
        ASSERT_EQ(truncate(t.Path("huge").c_str(), (off_t)kMaxMemberSize), 0);
        EXPECT_EQ(Refusal({t.Root()}), "");
        ASSERT_EQ(truncate(t.Path("huge").c_str(), (off_t)kMaxMemberSize + 1), 0);
        EXPECT_NE(Refusal({t.Root()}).find(t.Path("huge")), std::string::npos);
    }
    EXPECT_NE(Refusal({"/nonexistent/qar/path"}).find("/nonexistent/qar/path"), std::string::npos);
}

// Patterns against archive names: '*' and '?' within one name, '**' across folders, letter
// case folded as Windows folds it, and a matching folder leaves everything below it out.
TEST(SourceTree, ExcludePatterns) {
    EXPECT_TRUE(GlobMatches("*.pdb", "a.pdb"));
    EXPECT_FALSE(GlobMatches("*.pdb", "bin/a.pdb"));
    EXPECT_FALSE(GlobMatches("bin*", "bin/a"));
    EXPECT_FALSE(GlobMatches("a?b", "a/b"));
    EXPECT_TRUE(GlobMatches("a?c", "abc"));
    EXPECT_FALSE(GlobMatches("a?c", "ac"));
    EXPECT_TRUE(GlobMatches("**/*.pdb", "a.pdb"));
    EXPECT_TRUE(GlobMatches("**/*.pdb", "x/y/a.pdb"));
    EXPECT_TRUE(GlobMatches("x/**/a", "x/a"));
    EXPECT_TRUE(GlobMatches("x/**/a", "x/p/q/a"));
    EXPECT_FALSE(GlobMatches("x/**/a", "y/p/a"));
    EXPECT_TRUE(GlobMatches("*.PDB", "\xc3\x84.pdb"));
    EXPECT_TRUE(GlobMatches("\xc3\xa4*", "\xc3\x84.pdb"));   // a-umlaut against A-umlaut
    EXPECT_FALSE(GlobMatches("a*", "ba"));                   // anchored at both ends
    // Patterns that would take exponential time with naive backtracking.
    EXPECT_FALSE(GlobMatches("*a*a*a*a*a*a*a*a*a*a*a*a*a*b", std::string(20000, 'a')));
    std::string deep;
    for (int i = 0; i < 2000; ++i) deep += "a*a/";
    EXPECT_FALSE(GlobMatches("**/a*/**/a*/**/a*/**/a*/**/a*/**/b", deep + "aa"));
    EXPECT_TRUE(GlobMatches("**/a*/**/a*/**/a*/**/a*/**/a*/**/b", deep + "b"));

    TempTree t;
    t.Folder("bin");
    t.File("bin/app.exe");
    t.File("bin/app.PDB");
    t.File("top.pdb");
    t.Folder("Tests");
    t.Folder("Tests/deep");
    t.File("Tests/deep/t");
    t.Folder("keep");
    t.File("keep/tests");   // a file: a folder-only pattern leaves it in
    mkfifo(t.Path("secret").c_str(), 0644);   // excluded, so never inspected nor a problem
    WalkOptions options;
    options.Excludes = {"**/*.pdb", "**/tests/", "secret"};
    const std::vector<std::string> expected = {"bin/", "bin\\app.exe", "keep/", "keep\\tests"};
    EXPECT_EQ(Names(WalkSources({t.Root()}, options)), expected);
}

// NAME=SOURCE places a file or folder under another archive name; the folders above it
// come first and merge with those of the same name.
TEST(SourceTree, GraftPoints) {
    const SourceRoot plain = ParseSourceLine("dir/file");
    EXPECT_FALSE(plain.Grafted);
    EXPECT_EQ(plain.Path, "dir/file");
    const SourceRoot graft = ParseSourceLine("a\\=b/c=d=e\\\\f\\g");
    EXPECT_TRUE(graft.Grafted);
    EXPECT_EQ(graft.Name, "a=b/c");
    EXPECT_EQ(graft.Path, "d=e\\f\\g");

    TempTree t;
    t.Folder("man");
    t.Folder("man/en");
    t.File("man/en/index.html");
    t.File("README", "readme");
    t.Folder("tree");
    t.File("tree/x");
    const std::vector<SourceRoot> roots = {
        {t.Path("tree"), "", false},
        {t.Path("man"), "doc/manual", true},
        {t.Path("README"), "doc/read me.txt", true},
        {t.Path("README"), "extra/", true},
    };
    const std::vector<std::string> expected = {
        "x", "doc/", "doc\\manual/", "doc\\manual\\en/", "doc\\manual\\en\\index.html",
        "doc\\read me.txt", "extra/", "extra\\README",
    };
    const std::vector<SourceEntry> entries = WalkSources(roots, WalkOptions());
    EXPECT_EQ(Names(entries), expected);
    EXPECT_EQ(entries[5].Path, t.Path("README"));
    EXPECT_EQ(entries[5].Size, 6u);
    WalkOptions options;
    options.Excludes = {"doc/manual/en"};
    EXPECT_EQ(Names(WalkSources(roots, options)).size(), expected.size() - 2);

    // Every problem in one pass: a name leaving the top, an empty or absolute one, a name
    // Windows refuses, a clash between a graft and a walked file, a missing source.
    const std::vector<SourceRoot> bad = {
        {t.Path("tree"), "", false},
        {t.Path("README"), "../up", true},
        {t.Path("README"), "", true},
        {t.Path("README"), "/abs", true},
        {t.Path("README"), "a/b?", true},
        {t.Path("README"), "X", true},
        {t.Path("nothing"), "n", true},
    };
    try {
        WalkSources(bad, WalkOptions());
        ADD_FAILURE() << "accepted";
    } catch (const InputProblems& e) {
        ASSERT_EQ(e.Lines.size(), 6u) << e.what();
        EXPECT_NE(e.Lines[0].find("leaves the top"), std::string::npos) << e.Lines[0];
        EXPECT_NE(e.Lines[1].find("is empty"), std::string::npos) << e.Lines[1];
        EXPECT_NE(e.Lines[2].find("starts with '/'"), std::string::npos) << e.Lines[2];
        EXPECT_NE(e.Lines[3].find("character ?"), std::string::npos) << e.Lines[3];
        EXPECT_NE(e.Lines[4].find("letter case"), std::string::npos) << e.Lines[4];
        EXPECT_NE(e.Lines[5].find(t.Path("nothing")), std::string::npos) << e.Lines[5];
    }
}

TEST(SourceTree, UnreadableFilesAndFolders) {
    if (geteuid() == 0) GTEST_SKIP() << "root reads every file";
    TempTree t;
    t.File("secret");
    chmod(t.Path("secret").c_str(), 0);
    EXPECT_NE(Refusal({t.Root()}).find(t.Path("secret")), std::string::npos);
    chmod(t.Path("secret").c_str(), 0644);
    t.Folder("closed");
    chmod(t.Path("closed").c_str(), 0);
    EXPECT_NE(Refusal({t.Root()}).find(t.Path("closed")), std::string::npos);
    chmod(t.Path("closed").c_str(), 0755);
}

TEST(SourceTree, CodePageConversion) {
    TempTree t;
    t.File("\xC5\x82\xC3\xB3" "d\xC5\xBA");   // "łódź": 1250 has it, 1252 does not
    const std::string why = Refusal({t.Root()}, 1252);
    EXPECT_NE(why.find("U+0142"), std::string::npos) << why;
    WalkOptions options;
    options.CodePage = 1250;
    std::vector<SourceEntry> e = WalkSources({t.Root()}, options);
    EXPECT_EQ(e.at(0).Name, "\xB3\xF3" "d\x9F");
    EXPECT_NE(Refusal({t.Root()}, 437), "");
    EXPECT_NE(Refusal({t.Root()}, 65001).find("not supported"), std::string::npos);

    TempTree u;
    u.File("\xCE\xA9mega\xE2\x82\xAC");   // Ω and €: 437 has Ω only, 1252 € only
    EXPECT_NE(Refusal({u.Root()}, 437).find("U+20AC"), std::string::npos);
    EXPECT_NE(Refusal({u.Root()}, 1252).find("U+03A9"), std::string::npos);

    TempTree v;
    v.File("bad\xC3(");   // invalid UTF-8
    EXPECT_NE(Refusal({v.Root()}).find("UTF-8"), std::string::npos);
    std::vector<uint32_t> cps;
    EXPECT_FALSE(DecodeUtf8("\xC0\xAF", &cps));         // overlong '/'
    EXPECT_FALSE(DecodeUtf8("\xED\xA0\x80", &cps));     // surrogate
    EXPECT_FALSE(DecodeUtf8("\xF4\x90\x80\x80", &cps)); // above U+10FFFF
    EXPECT_TRUE(DecodeUtf8("\xF0\x9F\x98\x80", &cps));
    EXPECT_EQ(cps, std::vector<uint32_t>{0x1F600});
}

// The code-page tables against the C library's converter, code by code: every byte, and in
// the double-byte code pages every lead byte with every second byte; what a code stands for
// must be written back as that code, or as the converter writes that code point.
TEST(SourceTree, CodePageTablesAgreeWithIconv) {
    for (int cp : {1252, 1250, 1251, 1253, 1254, 1257, 437, 932, 936, 949, 950}) {
        const std::string name = "CP" + std::to_string(cp);
        iconv_t to = iconv_open("UTF-32LE", name.c_str());
        iconv_t from = iconv_open(name.c_str(), "UTF-32LE");
        if (to == (iconv_t)-1 || from == (iconv_t)-1) GTEST_SKIP() << name << " not available";
        // The code point of bytes, or 0xFFFF when they are not exactly one character.
        auto decode = [&](std::string in) -> uint32_t {
            uint8_t out[8] = {};
            char* inp = &in[0];
            char* outp = (char*)out;
            size_t inLeft = in.size(), outLeft = sizeof out;
            iconv(to, nullptr, nullptr, nullptr, nullptr);
            const size_t r = iconv(to, &inp, &inLeft, &outp, &outLeft);
            return r == (size_t)-1 || inLeft != 0 || outLeft != 4 ? 0xFFFF : ReadLe32(out);
        };
        auto encode = [&](uint32_t u) -> int {
            uint8_t in[4];
            WriteLe32(in, u);
            char out[8];
            char* inp = (char*)in;
            char* outp = out;
            size_t inLeft = 4, outLeft = sizeof out;
            iconv(from, nullptr, nullptr, nullptr, nullptr);
            if (iconv(from, &inp, &inLeft, &outp, &outLeft) == (size_t)-1) return -1;
            return sizeof out - outLeft == 1 ? (uint8_t)out[0] : (uint8_t)out[0] << 8 | (uint8_t)out[1];
        };
        std::vector<uint32_t> codes;
        for (uint32_t b = 0x80; b < 0x100; ++b) {
            // A lead byte: no character alone, the first of one with some second byte.
            const std::string one(1, (char)b);
            bool lead = false;
            for (uint32_t t = 0x40; t <= 0xFF && decode(one) == 0xFFFF && !lead; ++t) {
                lead = decode(one + (char)t) != 0xFFFF;
            }
            EXPECT_EQ(IsLeadByte(cp, (uint8_t)b), lead) << name << " byte " << b;
            codes.push_back(b);
            for (uint32_t t = 0x40; lead && t <= 0xFF; ++t) codes.push_back(b << 8 | t);
        }
        for (uint32_t code : codes) {
            std::string bytes;
            if (code > 0xFF) bytes += (char)(code >> 8);
            bytes += (char)code;
            const uint32_t theirs = decode(bytes);
            ASSERT_EQ(CodePageToUnicode(cp, code), theirs) << name << " code " << std::hex << code;
            if (theirs == 0xFFFF) continue;
            const int written = EncodeCodePoint(cp, theirs);
            if (written != (int)code) {
                ASSERT_EQ(written, encode(theirs)) << name << " code " << std::hex << code;
            }
        }
        iconv_close(to);
        iconv_close(from);
    }
}

// Names in double-byte code pages: packed as lead and second byte, read back whole, and
// refused with a message when a second byte would be split or dropped by the installer.
TEST(SourceTree, DoubleByteNames) {
    std::string out, error;
    ASSERT_TRUE(ToCodePage("\xE6\x97\xA5\xE6\x9C\xAC.txt", 932, &out, &error)) << error;   // 日本
    EXPECT_EQ(out, "\x93\xFA\x96\x7B.txt");
    EXPECT_EQ(FromCodePage(out, 932), "\xE6\x97\xA5\xE6\x9C\xAC.txt");
    // ソ is 0x83 0x5C in code page 932.
    EXPECT_FALSE(ToCodePage("\xE3\x82\xBD", 932, &out, &error));
    EXPECT_NE(error.find("0x5C, which the installer takes for a path separator"), std::string::npos)
        << error;
    // ポ is 0x83 0x7C: a name that holds it is not packed.
    TempTree t;
    t.File("\xE3\x83\x9D.txt");
    EXPECT_NE(Refusal({t.Root()}, 932).find("U+30DD, whose second byte in code page 932 is 0x7C"),
              std::string::npos);
    // A lead byte without a valid second byte stands for nothing; what follows is kept.
    EXPECT_EQ(FromCodePage("\x93/a", 932), "\xEF\xBF\xBD/a");
    EXPECT_EQ(FromCodePage("\x93", 932), "\xEF\xBF\xBD");
}

TEST(SourceTree, CaseFolding) {
    EXPECT_EQ(FoldCase('a'), (uint32_t)'A');
    EXPECT_EQ(FoldCase(0xE9), 0xC9u);    // é
    EXPECT_EQ(FoldCase(0xF7), 0xF7u);    // ÷ is no letter
    EXPECT_EQ(FoldCase(0xFF), 0x178u);   // ÿ
    EXPECT_EQ(FoldCase(0x142), 0x141u);  // ł
    EXPECT_EQ(FoldCase(0x13A), 0x139u);  // ĺ
    EXPECT_EQ(FoldCase(0x17A), 0x179u);  // ź
    EXPECT_EQ(FoldCase(0x161), 0x160u);  // š
    EXPECT_EQ(FoldCase(0x3C9), 0x3A9u);  // ω
    EXPECT_EQ(FoldCase(0x3C2), 0x3C2u);  // final sigma stays
    EXPECT_EQ(FoldCase(0x44F), 0x42Fu);  // я
    EXPECT_EQ(FoldCase(0x451), 0x401u);  // ё
    EXPECT_EQ(FoldCase(0x491), 0x490u);  // ґ
    EXPECT_EQ(FoldCase(0x42F), 0x42Fu);  // Я stays
}
