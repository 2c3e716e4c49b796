// Bounded formatting: every result is terminated and nothing lands past the given size.
#include <gtest/gtest.h>
#include <string.h>

#include <string>

#include "platform/text.h"

namespace {

// A buffer of size bytes followed by guard bytes that must stay untouched.
struct Guarded {
    char Bytes[64];
    explicit Guarded() { memset(Bytes, '#', sizeof Bytes); }
    bool GuardIntact(uint32_t size) const {
        for (uint32_t i = size; i < sizeof Bytes; ++i) {
            if (Bytes[i] != '#') return false;
        }
        return true;
    }
};

}  // namespace

TEST(FormatText, Conversions) {
    char b[64];
    EXPECT_EQ(FormatText(b, sizeof b, "Cannot open %s%s", "a.exe", "\nFile not found"), 32u);
    EXPECT_STREQ(b, "Cannot open a.exe\nFile not found");
    // Anything but %s is copied as it stands, a lone % at the end included, and takes no
    // argument: the %s behind it still gets the first.
    FormatText(b, sizeof b, "%u %c %d %x %s 100%", "text", 5);
    EXPECT_STREQ(b, "%u %c %d %x text 100%");
    FormatText(b, sizeof b, "%s|%s", "", "end");
    EXPECT_STREQ(b, "|end");
}

TEST(FormatText, CutsWhatDoesNotFit) {
    const std::string longName(300, 'n');
    for (uint32_t size = 1; size <= 40; ++size) {
        Guarded g;
        uint32_t n = FormatText(g.Bytes, size, "Cannot create folder %s%s", longName.c_str(), "\nDisk full");
        EXPECT_EQ(n, size - 1) << size;
        EXPECT_EQ(strlen(g.Bytes), n) << size;
        EXPECT_TRUE(g.GuardIntact(size)) << size;
        EXPECT_EQ(std::string(g.Bytes), std::string("Cannot create folder ").append(longName).substr(0, n));
    }
    // A conversion that is not known is cut at the buffer end like any other text.
    Guarded g;
    EXPECT_EQ(FormatText(g.Bytes, 4, "%u%c"), 3u);
    EXPECT_STREQ(g.Bytes, "%u%");
    EXPECT_TRUE(g.GuardIntact(4));
    // Exact fit: the text fills everything but the terminator.
    Guarded exact;
    EXPECT_EQ(FormatText(exact.Bytes, 6, "ab%sc", "XY"), 5u);
    EXPECT_STREQ(exact.Bytes, "abXYc");
    EXPECT_TRUE(exact.GuardIntact(6));
}

TEST(FormatText, ZeroSizeWritesNothing) {
    Guarded g;
    EXPECT_EQ(FormatText(g.Bytes, 0, "abc"), 0u);
    EXPECT_TRUE(g.GuardIntact(0));
    EXPECT_EQ(CopyText(g.Bytes, 0, "abc"), 0u);
    EXPECT_TRUE(g.GuardIntact(0));
}

TEST(CopyText, BoundedAndTerminated) {
    Guarded g;
    EXPECT_EQ(CopyText(g.Bytes, 5, "abcdefgh"), 4u);
    EXPECT_STREQ(g.Bytes, "abcd");
    EXPECT_TRUE(g.GuardIntact(5));
    EXPECT_EQ(CopyText(g.Bytes, 64, "tavlore.exe"), 11u);
    EXPECT_STREQ(g.Bytes, "tavlore.exe");
    EXPECT_EQ(CopyText(g.Bytes, 64, ""), 0u);
    EXPECT_EQ(g.Bytes[0], 0);
    EXPECT_EQ(TextLength(""), 0u);
    EXPECT_EQ(TextLength("C:\\Tavlore"), 10u);
}
