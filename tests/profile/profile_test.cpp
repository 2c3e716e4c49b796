// The shipped profile holds the values every installer starts from.
#include <gtest/gtest.h>
#include <string.h>

#include "profile/product.h"
#include "profile/profile.h"

TEST(Profile, ShippedValues) {
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(&Profile);
    EXPECT_EQ(bytes[12], 0x00);
    EXPECT_EQ(bytes[13], 0x4A);   // StubSize 18944 = 0x4A00, little-endian
    EXPECT_EQ(Profile.OverwriteWithoutPrompt, 1);
    EXPECT_EQ(Profile.UseShortNames, 1);
    EXPECT_EQ(0, memcmp(bytes + 55, "QARDE\0", 6));
    EXPECT_STREQ(Profile.Title, "Tavlore Installation");
    EXPECT_STREQ(Profile.DestinationFolder, "C:\\Tavlore");
    EXPECT_EQ(Profile.WindowSizes[2][7], 0x80000u);
    EXPECT_EQ(Profile.WindowSizes[1][3], 0x18000u);
    EXPECT_STREQ(Product.ProgramToRun, "tavlore.exe");
    EXPECT_STREQ(Product.Title, Profile.Title);
    // Each product text fills its field exactly, terminator included.
    EXPECT_EQ(strlen(Profile.Title) + 1, sizeof(Profile.Title));
    EXPECT_EQ(strlen(Profile.ProbeFolder) + 1, sizeof(Profile.ProbeFolder));
    EXPECT_EQ(strlen(Profile.PreferredFolder) + 1, sizeof(Profile.PreferredFolder));
}

// The installer takes another product's values from the block at its image's end; a block
// whose slots run on (not written by `qar sfx`) still gives texts that end inside the copy.
TEST(Profile, ProductBlockValuesStayInsideTheirCopy) {
    const ProductTexts shipped = Product;
    uint8_t block[kProductBlockSize] = {};
    memcpy(block, "A Title", 7);
    memcpy(block + kProbeSlotOffset, "D:\\Probe", 8);
    memcpy(block + kPreferredSlotOffset, "D:\\Probe\\Product", 16);
    memcpy(block + kProgramSlotOffset, "bin\\run.exe", 11);
    UseProductBlock(block);
    EXPECT_STREQ(Product.Title, "A Title");
    EXPECT_STREQ(Product.ProbeFolder, "D:\\Probe");
    EXPECT_STREQ(Product.PreferredFolder, "D:\\Probe\\Product");
    EXPECT_STREQ(Product.ProgramToRun, "bin\\run.exe");
    block[0] = 'X';
    EXPECT_STREQ(Product.Title, "A Title") << "the values are a copy of the block";

    memset(block, 'x', sizeof block);
    UseProductBlock(block);
    EXPECT_EQ(strlen(Product.Title), kProductBlockSize);
    EXPECT_EQ(strlen(Product.ProgramToRun), kProductBlockSize - kProgramSlotOffset);
    Product = shipped;
}
