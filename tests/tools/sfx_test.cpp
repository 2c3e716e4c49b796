// Building installers: the stub image that `qar sfx` prepares passes the check the stub makes
// at start-up, any other change of a byte fails it while the fields that code signing
// rewrites do not count, unusable stubs and archives are refused, and `qar sfx` writes the
// stub and the archive as one file or nothing at all. The icon and version information that
// it adds to the stub's resources read back as written, and leave the stub's own bytes where
// they were.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <fstream>
#include <iterator>
#include <sstream>

#include "archive/records.h"
#include "decode/crc32.h"
#include "profile/product.h"
#include "profile/profile.h"
#include "startup/integrity.h"
#include "tests/support/fake_stub.h"
#include "tests/support/windows_name_cases.h"
#include "tools/embedded_stub.h"
#include "tools/icon_file.h"
#include "tools/installer_image.h"
#include "tools/installer_resources.h"
#include "tools/pe_resources.h"
#include "tools/product_values.h"
#include "tools/sfx_image.h"
#include "tools/version_info.h"

using namespace qartest;
namespace fs = std::filesystem;

namespace {

// The check the stub makes on its own image, through the stub's own code: it reads StubSize
// bytes of its file, as its profile in memory (the file's, from the fake stub's section)
// says, here the whole file, and checks them.
bool StubAccepts(const std::vector<uint8_t>& image) {
    if (ReadLe32(&image[kFakeProfileFile + kProfileStubSizeOffset]) != image.size()) return false;
    std::vector<uint8_t> copy = image;
    return CheckedArchiveBase(copy.data(), (uint32_t)copy.size(), kFakeProfileRva) == image.size();
}

std::vector<uint8_t> Prepared(bool x64 = false) {
    std::vector<uint8_t> image = FakeStub(x64);
    std::string error;
    EXPECT_TRUE(PrepareStubImage(&image, &error)) << error;
    return image;
}

class Sfx : public ::testing::Test {
protected:
    void SetUp() override { BuildCrcTable(); }
};

TEST_F(Sfx, PreparedImageCarriesItsSizeAndPassesTheStubsCheck) {
    for (bool x64 : {false, true}) {
        std::vector<uint8_t> image = Prepared(x64);
        EXPECT_EQ(ReadLe32(&image[kFakeProfileFile + kProfileStubSizeOffset]), image.size());
        EXPECT_TRUE(StubAccepts(image));
        EXPECT_FALSE(StubAccepts(FakeStub(x64))) << "an unprepared stub must not pass";
        EXPECT_STREQ(StubArchitecture(image), x64 ? "x64" : "x86");
    }
}

// The certificate-table entry lies 16 bytes further in a PE32+ header: each kind exempts
// its own entry and no other bytes.
TEST_F(Sfx, EveryChangedByteFailsExceptTheSigningFields) {
    for (bool x64 : {false, true}) {
        const std::vector<uint8_t> image = Prepared(x64);
        const uint32_t certificate = x64 ? kPe32PlusCertificateEntry : kPe32CertificateEntry;
        std::vector<bool> exempt(image.size(), false);
        for (uint32_t i = 0; i < 4; ++i) exempt[kFakePe + kPeChecksumField + i] = true;
        for (uint32_t i = 0; i < 8; ++i) exempt[kFakePe + certificate + i] = true;
        std::vector<uint8_t> changed = image;
        for (size_t i = 0; i < image.size(); ++i) {
            changed[i] ^= 0x5A;
            // The integrity words themselves fail too: the stored words no longer match.
            EXPECT_EQ(StubAccepts(changed), (bool)exempt[i]) << (x64 ? "x64" : "x86") << " byte " << i;
            changed[i] = image[i];
        }
    }
}

TEST_F(Sfx, SigningFieldsRewrittenTogetherStillPass) {
    for (bool x64 : {false, true}) {
        std::vector<uint8_t> image = Prepared(x64);
        const uint32_t certificate = x64 ? kPe32PlusCertificateEntry : kPe32CertificateEntry;
        WriteLe32(&image[kFakePe + kPeChecksumField], 0x0001F00D);
        WriteLe32(&image[kFakePe + certificate], (uint32_t)image.size() + 4096);
        WriteLe32(&image[kFakePe + certificate + 4], 0x5E8);
        EXPECT_TRUE(StubAccepts(image));
    }
}

// Another product's values: those that fit the profile's fields go there and leave the image
// its size; longer ones, or another program, go into a block at the image's end. Either way
// they read back as written, and the prepared image passes the stub's check while a change of
// any byte of the block fails it.
TEST_F(Sfx, ProductValuesGoIntoTheCheckedImage) {
    const std::vector<uint8_t> bare = FakeStub();
    ProductValues defaults;
    std::string error;
    ASSERT_TRUE(StubProductValues(bare, &defaults, &error)) << error;
    EXPECT_EQ(defaults.Title, Profile.Title);
    EXPECT_EQ(defaults.Program, kDefaultProgramToRun);
    ASSERT_TRUE(CheckProductValues(defaults, &error)) << error;

    std::vector<uint8_t> image = bare;
    ASSERT_TRUE(PutProductValues(&image, defaults, &error));
    EXPECT_EQ(image, bare) << "the stub's own values must leave it unchanged";

    ProductValues small = defaults;
    small.Title = "Short";
    small.Folder = "D:\\" + std::string(250, 'f');
    image = bare;
    ASSERT_TRUE(PutProductValues(&image, small, &error));
    EXPECT_EQ(image.size(), bare.size());
    ProductValues back;
    ASSERT_TRUE(StubProductValues(image, &back, &error));
    EXPECT_EQ(back.Title, "Short");
    EXPECT_EQ(back.Folder, small.Folder);
    EXPECT_EQ(back.PreferredFolder, defaults.PreferredFolder);

    for (int which = 0; which < 4; ++which) {
        ProductValues large = defaults;
        if (which == 0) large.Title = std::string(kTitleSlot - 1, 't');
        if (which == 1) large.ProbeFolder = "C:\\" + std::string(kFolderSlot - 4, 'p');
        if (which == 2) large.PreferredFolder = "C:\\Program Files\\" + std::string(200, 'q');
        if (which == 3) large.Program.clear();   // --no-run
        ASSERT_TRUE(CheckProductValues(large, &error)) << which << ": " << error;
        image = bare;
        ASSERT_TRUE(PutProductValues(&image, large, &error));
        ASSERT_EQ(image.size(), bare.size() + kProductBlockSize) << which;
        ASSERT_TRUE(StubProductValues(image, &back, &error)) << error;
        EXPECT_EQ(back.Title, large.Title) << which;
        EXPECT_EQ(back.ProbeFolder, large.ProbeFolder) << which;
        EXPECT_EQ(back.PreferredFolder, large.PreferredFolder) << which;
        EXPECT_EQ(back.Program, large.Program) << which;
        EXPECT_FALSE(PutProductValues(&image, large, &error)) << "a stub is given values once";
    }

    ASSERT_TRUE(PrepareStubImage(&image, &error)) << error;
    EXPECT_TRUE(StubAccepts(image));
    std::vector<uint8_t> changed = image;
    for (size_t i = image.size() - kProductBlockSize; i < image.size(); ++i) {
        changed[i] ^= 0x01;
        EXPECT_FALSE(StubAccepts(changed)) << "block byte " << i;
        changed[i] = image[i];
    }
}

// What the installer could not hold or use is refused before anything is built.
TEST_F(Sfx, ProductValuesTheInstallerCannotUseAreRefused) {
    ProductValues good;
    std::string error;
    ASSERT_TRUE(StubProductValues(FakeStub(), &good, &error));
    good.Program = "bin\\tool.exe";
    ASSERT_TRUE(CheckProductValues(good, &error)) << error;
    struct Bad {
        std::string ProductValues::*Field;
        std::string Value;
    } bad[] = {
        {&ProductValues::Title, ""},
        {&ProductValues::Title, std::string(kTitleSlot, 't')},
        {&ProductValues::Title, "line\nbreak"},
        {&ProductValues::Folder, "Program Files\\Product"},
        {&ProductValues::Folder, "\\\\server\\share"},
        {&ProductValues::Folder, "C:\\" + std::string(kFolderSlot - 3, 'f')},
        {&ProductValues::ProbeFolder, "C:\\a\\\\b"},
        {&ProductValues::PreferredFolder, "C:\\Program Files\\..\\Windows"},
        {&ProductValues::PreferredFolder, "C:\\Product?"},
        {&ProductValues::PreferredFolder, "C:\\Product."},
        {&ProductValues::Program, "\\tool.exe"},
        {&ProductValues::Program, "C:\\tool.exe"},
        {&ProductValues::Program, "..\\tool.exe"},
        {&ProductValues::Program, "bin/tool.exe"},
        {&ProductValues::Program, "bin\\"},
    };
    for (const Bad& b : bad) {
        ProductValues v = good;
        v.*b.Field = b.Value;
        EXPECT_FALSE(CheckProductValues(v, &error)) << b.Value;
    }
    // Folders and the program hold names as the installer extracts them: a folder of a
    // name it would refuse, or one Windows cannot make, is refused here too.
    auto folderAndProgram = [&](const std::string& name) {
        ProductValues folder = good, program = good;
        folder.Folder = "C:\\" + name + "\\Acme";
        program.Program = "bin\\" + name;
        return std::make_pair(CheckProductValues(folder, &error), CheckProductValues(program, &error));
    };
    for (const char* name : kAliasingNames) {
        EXPECT_EQ(folderAndProgram(name), std::make_pair(false, false)) << name;
    }
    for (const char* name : kForbiddenCharacterNames) {
        EXPECT_EQ(folderAndProgram(name), std::make_pair(false, false)) << name;
    }
    for (const char* name : kSoundNames) {
        EXPECT_EQ(folderAndProgram(name), std::make_pair(true, true)) << name;
    }
    ProductValues driveRelative = good;
    driveRelative.Folder = "C:Product";
    EXPECT_FALSE(CheckProductValues(driveRelative, &error));
    std::string converted;
    EXPECT_TRUE(ToCodePage("Caf\xC3\xA9", 1252, &converted, &error));
    EXPECT_EQ(converted, "Caf\xE9");
    EXPECT_FALSE(ToCodePage("\xD0\x9F", 1252, &converted, &error));
    EXPECT_NE(error.find("U+041F"), std::string::npos);
}

TEST_F(Sfx, UnusableStubsAreRefused) {
    std::string error;
    std::vector<uint8_t> image = FakeStub();
    image[0] = 'X';
    EXPECT_FALSE(PrepareStubImage(&image, &error));

    image = FakeStub();
    WriteLe16(&image[kFakePe + 24], kPeMagic32Plus);   // a PE32+ header for an i386 machine
    EXPECT_FALSE(PrepareStubImage(&image, &error));

    image = FakeStub(true);
    WriteLe16(&image[kFakePe + 4], 0xAA64);            // another machine
    EXPECT_FALSE(PrepareStubImage(&image, &error));

    image = FakeStub();
    WriteLe32(&image[kPeHeaderPointer], (uint32_t)image.size() - 8);   // header past the end
    EXPECT_FALSE(PrepareStubImage(&image, &error));

    image = FakeStub();
    memset(&image[kFakeProfileFile], 0, kProfileSize);
    EXPECT_FALSE(PrepareStubImage(&image, &error));
    EXPECT_NE(error.find("no installation profile"), std::string::npos);

    image = FakeStub();
    image.resize(image.size() + kProfileSize);
    memcpy(&image[image.size() - kProfileSize], &Profile, kProfileSize);
    EXPECT_FALSE(PrepareStubImage(&image, &error));
    EXPECT_NE(error.find("more than one"), std::string::npos);
}

// Where the stub's rule lets its profile lie: wholly inside the loaded part of the one
// section that holds its address in memory, in an image that holds every section's file
// bytes and no other copy of the profile's anchor.
TEST_F(Sfx, TheProfileMustLieWhollyInsideOneSectionOfTheImage) {
    const std::vector<uint8_t> stub = FakeStub();
    const uint32_t entry = FakeSectionEntry(false);
    std::vector<uint8_t> image;
    auto at = [&](uint32_t rva) { return LocateImageProfile(image.data(), (uint32_t)image.size(), rva); };

    image = stub;
    EXPECT_EQ(at(kFakeProfileRva), (int32_t)kFakeProfileFile);
    EXPECT_EQ(at(0x10), -1) << "the headers are no section";
    // The profile moved to the section's end: one byte further runs past it.
    const uint32_t last = kFakeSectionSize - kProfileSize;
    memset(&image[kFakeProfileFile], 0, kProfileSize);
    memcpy(&image[kFakeSectionFile + last], &stub[kFakeProfileFile], kProfileSize);
    EXPECT_EQ(at(kFakeSectionRva + last), (int32_t)(kFakeSectionFile + last));
    EXPECT_EQ(at(kFakeSectionRva + last + 1), -1);

    // The section's file bytes, or its size in memory, one byte short of the profile's end.
    for (uint32_t field : {8u, 16u}) {
        image = stub;
        WriteLe32(&image[entry + field], kFakeProfileFile - kFakeSectionFile + kProfileSize - 1);
        EXPECT_EQ(at(kFakeProfileRva), -1) << field;
        WriteLe32(&image[entry + field], kFakeProfileFile - kFakeSectionFile + kProfileSize);
        EXPECT_EQ(at(kFakeProfileRva), (int32_t)kFakeProfileFile) << field;
    }
    // File bytes that run past the image, or start there.
    image = stub;
    WriteLe32(&image[entry + 20], 0xFFFFFF00u);
    EXPECT_EQ(at(kFakeProfileRva), -1);
    image = stub;
    image.resize(image.size() - 1);
    EXPECT_EQ(at(kFakeProfileRva), -1);
    // A second section, away from the profile, whose file bytes lie behind the image.
    image = stub;
    WriteLe16(&image[kFakePe + 6], 2);
    WriteLe32(&image[entry + kPeSectionEntrySize + 8], 0x200);
    WriteLe32(&image[entry + kPeSectionEntrySize + 12], 0x8000);
    WriteLe32(&image[entry + kPeSectionEntrySize + 16], 0x200);
    WriteLe32(&image[entry + kPeSectionEntrySize + 20], (uint32_t)image.size());
    EXPECT_EQ(at(kFakeProfileRva), -1);
    image.resize(image.size() + 0x200);
    EXPECT_EQ(at(kFakeProfileRva), (int32_t)kFakeProfileFile);
    // The section table moved behind the section's bytes, zeros behind its one entry: it
    // must lie wholly in the image and have no more entries than the oldest loaders take.
    image = stub;
    const uint32_t table = (uint32_t)image.size();
    WriteLe16(&image[kFakePe + 20], (uint16_t)(table - kFakePe - 24));
    image.resize(table + kPeSectionEntrySize);
    memcpy(&image[table], &stub[entry], kPeSectionEntrySize);
    EXPECT_EQ(at(kFakeProfileRva), (int32_t)kFakeProfileFile);
    WriteLe16(&image[kFakePe + 6], 2);
    EXPECT_EQ(at(kFakeProfileRva), -1) << "a table running past the image";
    for (uint32_t count : {(uint32_t)kPeMostSections, kPeMostSections + 1}) {
        WriteLe16(&image[kFakePe + 6], (uint16_t)count);
        image.resize(table + count * kPeSectionEntrySize, 0);
        EXPECT_EQ(at(kFakeProfileRva), count <= kPeMostSections ? (int32_t)kFakeProfileFile : -1) << count;
    }
    // The anchor once more anywhere in the image, even where no section lies.
    for (uint32_t copy : {0u, kFakeSectionFile + kFakeSectionSize - kProfileAnchorSize}) {
        image = stub;
        memcpy(&image[copy], &image[kFakeProfileFile + kProfileAnchorOffset], kProfileAnchorSize);
        EXPECT_EQ(at(kFakeProfileRva), -1) << copy;
    }
}

TEST_F(Sfx, ArchivesAreCheckedBeforeTheyAreJoined) {
    std::string error;
    std::vector<uint8_t> archive(kArchiveHeaderSize, 0);
    memcpy(archive.data(), kArchiveMagic, 4);
    auto fits = [&](uint64_t stubSize, uint64_t archiveSize) {
        return CheckArchiveFits(stubSize, archive.data(), archive.size(), archiveSize, &error);
    };
    EXPECT_TRUE(fits(20000, archive.size()));
    EXPECT_FALSE(fits(0x7FFFFFFFu - 10, archive.size()));
    EXPECT_FALSE(fits(20000, 0x7FFFFFFFu - 19999));
    archive[0] = 'X';
    EXPECT_FALSE(fits(20000, archive.size()));
    archive.assign(kArchiveMagic, kArchiveMagic + 4);
    EXPECT_FALSE(fits(20000, archive.size()));
}

// An icon file of two images: a 16x16 bitmap whose entry leaves planes and bits per pixel 0,
// and a PNG image (its signature is all that tells it).
std::vector<uint8_t> TestIcon() {
    std::vector<uint8_t> bitmap(40 + 16 * 16 * 4 + 16 * 4, 0x33);
    WriteLe32(&bitmap[0], 40);
    WriteLe32(&bitmap[4], 16);
    WriteLe32(&bitmap[8], 32);
    WriteLe16(&bitmap[12], 1);
    WriteLe16(&bitmap[14], 32);
    std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    for (int i = 0; i < 100; ++i) png.push_back((uint8_t)(i * 31));
    std::vector<uint8_t> file(6 + 2 * 16, 0);
    WriteLe16(&file[2], 1);
    WriteLe16(&file[4], 2);
    const std::vector<uint8_t>* images[2] = {&bitmap, &png};
    for (int i = 0; i < 2; ++i) {
        uint8_t* entry = &file[6 + 16 * i];
        entry[0] = entry[1] = i ? 32 : 16;
        if (i) WriteLe16(entry + 4, 1), WriteLe16(entry + 6, 32);
        WriteLe32(entry + 8, (uint32_t)images[i]->size());
        WriteLe32(entry + 12, (uint32_t)file.size());
        file.insert(file.end(), images[i]->begin(), images[i]->end());
    }
    return file;
}

std::vector<uint8_t> EmbeddedStub(bool x64) {
    return x64 ? std::vector<uint8_t>(kEmbeddedStubX64, kEmbeddedStubX64 + kEmbeddedStubX64Size)
               : std::vector<uint8_t>(kEmbeddedStubX86, kEmbeddedStubX86 + kEmbeddedStubX86Size);
}

std::vector<uint8_t> BytesOf(const std::vector<uint8_t>& image, const Resource& r) {
    uint32_t at;
    if (!ResourceBytesAt(image, r.Rva, r.Size, &at)) return {};
    return std::vector<uint8_t>(image.begin() + at, image.begin() + at + r.Size);
}

// The real stubs' resources share their last section with the import tables and the
// profile: the new directory goes behind them. Everything read back is what was put in, in
// the order the format wants, no byte of the sections moves, and the headers describe the
// grown section as a loader needs it.
TEST_F(Sfx, ResourcesAddedToARealStubReadBackAndNothingMoves) {
    for (bool x64 : {false, true}) {
        const std::vector<uint8_t> bare = EmbeddedStub(x64);
        if (bare.empty()) continue;   // not built in
        std::vector<Resource> old, resources, back;
        std::string error;
        ASSERT_TRUE(ReadResources(bare, &old, &error)) << error;
        ASSERT_FALSE(old.empty());
        resources = old;
        std::vector<IconImage> images;
        ASSERT_TRUE(ParseIconFile(TestIcon(), &images, &error)) << error;
        PutIconResources(images, 1, 0, &resources);
        auto put = [&](const char16_t* type, const char16_t* name, uint16_t number,
                       std::vector<uint8_t> data) {
            Resource r;
            r.Type.Name = type;
            if (name) r.Name.Name = name;
            r.Name.Number = number;
            r.Data = data;
            PutResource(&resources, r);
        };
        put(u"ZETA", u"b", 0, {1, 2, 3});
        put(u"alpha", nullptr, 7, {4});
        put(u"alpha", u"A", 0, {4});
        put(u"alpha", u"A", 0, {5, 6});   // replaces the one before

        std::vector<uint8_t> image = bare;
        ASSERT_TRUE(AddResources(&image, resources, &error)) << error;
        ASSERT_TRUE(ReadResources(image, &back, &error)) << error;
        ASSERT_EQ(back.size(), resources.size());
        for (const Resource& want : resources) {
            const auto found = std::find_if(back.begin(), back.end(), [&](const Resource& r) {
                return r.Type.Number == want.Type.Number && r.Type.Name == want.Type.Name &&
                       r.Name.Number == want.Name.Number && r.Name.Name == want.Name.Name &&
                       r.Language == want.Language;
            });
            ASSERT_NE(found, back.end()) << want.Type.Number << "/" << want.Name.Number;
            EXPECT_EQ(BytesOf(image, *found), want.InImage ? BytesOf(bare, want) : want.Data);
            EXPECT_EQ(found->Rva % 4, 0u) << "data lies at a multiple of 4";
        }
        // Named entries before numbered ones, each kind in ascending order, at every level.
        auto before = [](const ResourceId& a, const ResourceId& b) {
            if (a.Name.empty() != b.Name.empty()) return !a.Name.empty();
            return a.Name.empty() ? a.Number < b.Number : a.Name < b.Name;
        };
        for (size_t i = 1; i < back.size(); ++i) {
            const Resource &a = back[i - 1], &b = back[i];
            const bool sameType = !before(a.Type, b.Type) && !before(b.Type, a.Type);
            const bool sameName = sameType && !before(a.Name, b.Name) && !before(b.Name, a.Name);
            EXPECT_TRUE(before(a.Type, b.Type) || (sameType && before(a.Name, b.Name)) ||
                        (sameName && a.Language < b.Language)) << i;
        }
        EXPECT_EQ(back[0].Type.Name, u"ZETA");
        EXPECT_EQ(back[1].Name.Name, u"A");

        // Past the headers, every byte of the stub stays where it was.
        const uint32_t pe = FindPeHeader(image.data(), (uint32_t)image.size());
        uint32_t count;
        const uint32_t table = PeSectionTable(image.data(), pe, &count);
        PeSection first, last;
        ASSERT_TRUE(ReadPeSection(image.data(), (uint32_t)image.size(), table, &first));
        ASSERT_TRUE(ReadPeSection(image.data(), (uint32_t)image.size(),
                                  table + (count - 1) * kPeSectionEntrySize, &last));
        PeSection bareLast;
        ASSERT_TRUE(ReadPeSection(bare.data(), (uint32_t)bare.size(),
                                  table + (count - 1) * kPeSectionEntrySize, &bareLast));
        ASSERT_GT(image.size(), bare.size());
        for (size_t i = first.RawOffset; i < bareLast.RawOffset + bareLast.VirtualSize; ++i) {
            ASSERT_EQ(image[i], bare[i]) << "byte " << i;
        }
        // The section's memory is all loaded from the file, which ends with it; the image's
        // size in memory covers it; the initialized data counts every such section's bytes.
        const uint32_t fileAlignment = ReadLe32(&image[pe + 24 + 36]);
        const uint32_t sectionAlignment = ReadLe32(&image[pe + 24 + 32]);
        const uint32_t sizeOfImage = ReadLe32(&image[pe + 24 + 56]);
        EXPECT_LE(last.VirtualSize, last.RawSize);
        EXPECT_EQ(last.RawOffset + last.RawSize, image.size());
        EXPECT_EQ(last.RawSize % fileAlignment, 0u);
        EXPECT_EQ(sizeOfImage % sectionAlignment, 0u);
        EXPECT_GE(sizeOfImage, last.Address + last.VirtualSize);
        EXPECT_LT(sizeOfImage - sectionAlignment, last.Address + last.VirtualSize);
        for (const std::vector<uint8_t>* i : {&bare, (const std::vector<uint8_t>*)&image}) {
            uint32_t initialized = 0;
            for (uint32_t s = 0; s < count; ++s) {
                const uint8_t* entry = &(*i)[table + s * kPeSectionEntrySize];
                if (ReadLe32(entry + 36) & 0x40) initialized += ReadLe32(entry + 16);
            }
            EXPECT_EQ(ReadLe32(&(*i)[pe + 24 + 8]), initialized);
        }

        // The stub still finds its profile and accepts its own image.
        ASSERT_TRUE(PrepareStubImage(&image, &error)) << error;
        uint32_t rva;
        ASSERT_GT(FindStubProfile(image.data(), (uint32_t)image.size(), &rva), 0);
        EXPECT_EQ(CheckedArchiveBase(image.data(), (uint32_t)image.size(), rva), image.size());

        // A stub that the section cannot grow in is left alone: bytes behind the section, a
        // signature.
        image = bare;
        image.push_back(0);
        EXPECT_FALSE(AddResources(&image, resources, &error));
        EXPECT_NE(error.find("last section"), std::string::npos) << error;
        EXPECT_EQ(image.size(), bare.size() + 1);
        image = bare;
        WriteLe32(&image[pe + PeCertificateEntry(image.data(), pe) + 4], 0x400);
        EXPECT_FALSE(AddResources(&image, resources, &error));
        EXPECT_NE(error.find("signed"), std::string::npos) << error;
    }
}

// A directory whose tables point anywhere: nothing is read outside the image, loops end,
// and every damage gives a reason.
TEST_F(Sfx, DamagedResourceDirectoriesAreRefused) {
    const std::vector<uint8_t> bare = EmbeddedStub(false);
    if (bare.empty()) GTEST_SKIP() << "no built-in stub";
    std::vector<Resource> resources;
    std::string error;
    const uint32_t pe = FindPeHeader(bare.data(), (uint32_t)bare.size());
    const uint32_t entry = PeCertificateEntry(bare.data(), pe) - 16;
    uint32_t directory;
    ASSERT_TRUE(ResourceBytesAt(bare, ReadLe32(&bare[pe + entry]), 16, &directory));
    std::vector<uint8_t> image = bare;
    WriteLe32(&image[directory + 16 + 4], 0x80000000u);   // the first type's names: the root again
    EXPECT_FALSE(ReadResources(image, &resources, &error));
    EXPECT_NE(error.find("damaged"), std::string::npos) << error;
    image = bare;
    WriteLe16(&image[directory + 14], 0xFFFF);             // more types than the section holds
    EXPECT_FALSE(ReadResources(image, &resources, &error));
    image = bare;
    WriteLe32(&image[pe + entry], 0x7FFFFFF0u);            // the directory outside every section
    EXPECT_FALSE(ReadResources(image, &resources, &error));
    // Each level's table shared by every entry above it: 60 types of 60 names in 60
    // languages, far more resources than the bytes that list them.
    image = bare;
    const uint32_t table = 16 + 60 * 8, data = 3 * table;
    memcpy(&image[directory + data], &bare[directory + 0xA0], 16);   // a data entry of the stub's own
    for (uint32_t level = 0; level < 3; ++level) {
        uint8_t* t = &image[directory + level * table];
        memset(t, 0, 16);
        WriteLe16(t + 14, 60);
        for (uint32_t i = 0; i < 60; ++i) {
            WriteLe32(t + 16 + 8 * i, i + 1);
            WriteLe32(t + 16 + 8 * i + 4, level < 2 ? 0x80000000u | (level + 1) * table : data);
        }
    }
    EXPECT_FALSE(ReadResources(image, &resources, &error));
    EXPECT_NE(error.find("more entries"), std::string::npos) << error;
    // Every byte of the directory and its data entries changed in turn.
    for (uint32_t i = directory; i < directory + 0xD0; ++i) {
        image = bare;
        image[i] ^= 0xA5;
        if (ReadResources(image, &resources, &error)) {
            for (const Resource& r : resources) EXPECT_EQ(BytesOf(image, r).size(), r.Size) << i;
        } else {
            EXPECT_FALSE(error.empty()) << i;
        }
    }
}

// Version information reads back as the options gave it, with the defaults that fill what
// was not given, and every text in the code page's reach.
TEST_F(Sfx, VersionInformationReadsBackAsGiven) {
    InstallerResourceOptions options;
    options.Version = "1.2.3";
    options.Company = "Caf\xC3\xA9 & Co";
    VersionInfo info, back;
    std::string error;
    ASSERT_TRUE(ChooseVersionInfo(options, 1252, "Product Setup", "setup.exe", &info, &error)) << error;
    const std::vector<uint8_t> data = VersionResourceData(info);
    ASSERT_TRUE(ReadVersionResource(data.data(), (uint32_t)data.size(), &back, &error)) << error;
    const uint16_t version[4] = {1, 2, 3, 0};
    EXPECT_TRUE(std::equal(version, version + 4, back.FileVersion));
    EXPECT_TRUE(std::equal(version, version + 4, back.ProductVersion));
    EXPECT_EQ(back.Language, 0);
    EXPECT_EQ(back.CodePage, 1252);
    std::map<std::string, std::string> strings;
    for (const auto& s : back.Strings) strings[Utf16ToUtf8(s.first)] = Utf16ToUtf8(s.second);
    EXPECT_EQ(strings, (std::map<std::string, std::string>{
                           {"CompanyName", "Caf\xC3\xA9 & Co"}, {"FileDescription", "Product Setup"},
                           {"FileVersion", "1.2.3"}, {"OriginalFilename", "setup.exe"},
                           {"ProductName", "Product Setup"}, {"ProductVersion", "1.2.3"}}));
    // Cut short anywhere, the data is no longer version information.
    for (uint32_t cut = 0; cut < data.size(); ++cut) {
        std::vector<uint8_t> part(data.begin(), data.begin() + cut);
        EXPECT_FALSE(ReadVersionResource(part.data(), cut, &back, &error)) << cut;
    }

    for (const char* bad : {"1", "1.2.3.4.5", "1..2", "1.2.", "1.65536", "1.-2", "v1.2", "1.2 "}) {
        options = InstallerResourceOptions();
        options.Version = bad;
        EXPECT_FALSE(ChooseVersionInfo(options, 1252, "T", "s.exe", &info, &error)) << bad;
        EXPECT_NE(error.find("--product-version"), std::string::npos) << error;
    }
    options = InstallerResourceOptions();
    options.Version = "65535.0.0.65535";
    EXPECT_TRUE(ChooseVersionInfo(options, 1252, "T", "s.exe", &info, &error)) << error;
    options.Copyright = "\xD0\x96";   // U+0416
    EXPECT_FALSE(ChooseVersionInfo(options, 1252, "T", "s.exe", &info, &error));
    EXPECT_NE(error.find("--copyright"), std::string::npos) << error;
    EXPECT_NE(error.find("U+0416"), std::string::npos) << error;
    EXPECT_TRUE(ChooseVersionInfo(options, 1251, "T", "s.exe", &info, &error)) << error;
    EXPECT_FALSE(ChooseVersionInfo(options, 1251, "T", "\xE2\x82\xAC\xE2\x82\xAD.exe", &info, &error));
    EXPECT_NE(error.find("-o "), std::string::npos) << error;
}

// Each reason an icon file cannot be used is told; a good one's group lists its images.
TEST_F(Sfx, IconFilesAreCheckedImageByImage) {
    const std::vector<uint8_t> good = TestIcon();
    std::vector<IconImage> images;
    std::string error;
    ASSERT_TRUE(ParseIconFile(good, &images, &error)) << error;
    ASSERT_EQ(images.size(), 2u);
    std::vector<Resource> resources;
    PutIconResources(images, 1, 0, &resources);
    PutIconResources(images, 1, 0, &resources);   // a second icon replaces the first
    ASSERT_EQ(resources.size(), 3u);
    const Resource& group = resources.back();
    ASSERT_EQ(group.Type.Number, kResourceGroupIcon);
    ASSERT_EQ(group.Data.size(), 6u + 2 * 14);
    EXPECT_EQ(ReadLe16(&group.Data[4]), 2);
    for (int i = 0; i < 2; ++i) {
        const uint8_t* entry = &group.Data[6 + 14 * i];
        const Resource& image = resources[i];
        EXPECT_EQ(image.Type.Number, kResourceIcon);
        EXPECT_EQ(ReadLe16(entry + 12), image.Name.Number) << "the group names the image's id";
        EXPECT_EQ(ReadLe32(entry + 8), image.Data.size());
        EXPECT_EQ(memcmp(entry, &good[6 + 16 * i], 4), 0);
        const uint32_t offset = ReadLe32(&good[6 + 16 * i + 12]);
        EXPECT_TRUE(std::equal(image.Data.begin(), image.Data.end(), good.begin() + offset));
        // The bitmap's planes and bits per pixel, left 0 in its file, come from its header.
        EXPECT_EQ(ReadLe16(entry + 4), 1);
        EXPECT_EQ(ReadLe16(entry + 6), 32);
    }

    struct Bad {
        const char* Why;
        std::function<void(std::vector<uint8_t>*)> Change;
    } bad[] = {
        {"not an icon file", [](std::vector<uint8_t>* f) { f->resize(5); }},
        {"not an icon file", [](std::vector<uint8_t>* f) { (*f)[0] = 1; }},
        {"cursor", [](std::vector<uint8_t>* f) { (*f)[2] = 2; }},
        {"no images", [](std::vector<uint8_t>* f) { (*f)[4] = 0; }},
        {"list of images runs past", [](std::vector<uint8_t>* f) { (*f)[4] = 200; }},
        {"image 2 of 2 runs past the end", [](std::vector<uint8_t>* f) { f->pop_back(); }},
        {"image 1 of 2 runs past the end", [](std::vector<uint8_t>* f) { WriteLe32(&(*f)[6 + 12], 0xFFFFFFF0u); }},
        {"image 1 of 2 is empty", [](std::vector<uint8_t>* f) { WriteLe32(&(*f)[6 + 8], 0); }},
        {"image 1 of 2 overlaps", [](std::vector<uint8_t>* f) { WriteLe32(&(*f)[6 + 12], 6); }},
        {"image 2 of 2 is neither a PNG image nor a bitmap",
         [](std::vector<uint8_t>* f) { (*f)[ReadLe32(&(*f)[6 + 16 + 12]) + 1] = 'J'; }},
        {"image 1 of 2 is neither", [](std::vector<uint8_t>* f) { (*f)[ReadLe32(&(*f)[6 + 12])] = 12; }},
        {"image 1 of 2 is neither", [](std::vector<uint8_t>* f) { WriteLe32(&(*f)[ReadLe32(&(*f)[6 + 12]) + 4], 0); }},
    };
    for (const Bad& b : bad) {
        std::vector<uint8_t> file = good;
        b.Change(&file);
        EXPECT_FALSE(ParseIconFile(file, &images, &error)) << b.Why;
        EXPECT_NE(error.find(b.Why), std::string::npos) << b.Why << ": " << error;
    }
}

// `qar sfx` run as a user runs it; what it writes to standard error goes to *err when given.
int RunQar(const std::string& args, std::string* err = nullptr) {
    char errPath[] = "/tmp/qar-sfx-err-XXXXXX";
    close(mkstemp(errPath));
    const std::string command = "'" + std::string(QAR_BINARY_DIR) + "/qar' " + args +
                                " >/dev/null 2>" + errPath;
    const int raw = system(command.c_str());
    if (err) {
        std::ifstream in(errPath);
        err->assign(std::istreambuf_iterator<char>(in), {});
    }
    unlink(errPath);
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
}

std::vector<uint8_t> ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void WriteAll(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary).write((const char*)bytes.data(), (std::streamsize)bytes.size());
}

TEST_F(Sfx, CommandJoinsStubAndArchiveOrWritesNothing) {
    char pattern[] = "/tmp/qar-sfx-XXXXXX";
    const std::string dir = mkdtemp(pattern);
    const std::string stub = dir + "/stub.exe", out = dir + "/setup.exe";
    WriteAll(stub, FakeStub());
    fs::create_directories(dir + "/tree/sub");
    std::ofstream(dir + "/tree/sub/a.txt") << "alpha\n";
    std::ofstream(dir + "/tree/tavlore.exe") << "the program the stub starts by default\n";
    ASSERT_EQ(RunQar("pack -q -o '" + dir + "/a.qar' '" + dir + "/tree'"), 0);

    ASSERT_EQ(RunQar("sfx --stub '" + stub + "' --archive '" + dir + "/a.qar' -o '" + out + "'"), 0);
    std::vector<uint8_t> setup = ReadAll(out), archive = ReadAll(dir + "/a.qar");
    const size_t stubSize = FakeStub().size();
    ASSERT_EQ(setup.size(), stubSize + archive.size());
    EXPECT_TRUE(std::equal(archive.begin(), archive.end(), setup.begin() + stubSize));
    EXPECT_TRUE(StubAccepts(std::vector<uint8_t>(setup.begin(), setup.begin() + stubSize)));

    // Packing the tree directly gives the same installer as packing first.
    ASSERT_EQ(RunQar("sfx -q --stub '" + stub + "' -o '" + dir + "/direct.exe' '" + dir + "/tree'"), 0);
    EXPECT_EQ(ReadAll(dir + "/direct.exe"), setup);
    // --exclude and --files-from reach packing, even with a value that looks like an option
    // of sfx; a graft of the folder gives the same installer again.
    std::ofstream(dir + "/list") << "sub=" << dir << "/tree/sub\ntavlore.exe=" << dir << "/tree/tavlore.exe\n";
    ASSERT_EQ(RunQar("sfx -q --stub '" + stub + "' -o '" + dir + "/graft.exe' --exclude -o --files-from '" +
                     dir + "/list'"), 0);
    EXPECT_EQ(ReadAll(dir + "/graft.exe"), setup);
    EXPECT_EQ(RunQar("sfx -q --stub '" + stub + "' -o '" + dir + "/none.exe' --exclude '*' '" + dir + "/tree'"), 2);
    EXPECT_FALSE(fs::exists(dir + "/none.exe"));

    // Refusals leave no output behind.
    fs::remove(out);
    WriteAll(dir + "/junk.qar", std::vector<uint8_t>(100, 'j'));
    EXPECT_NE(RunQar("sfx --stub '" + stub + "' --archive '" + dir + "/junk.qar' -o '" + out + "'"), 0);
    EXPECT_NE(RunQar("sfx --stub '" + dir + "/junk.qar' --archive '" + dir + "/a.qar' -o '" + out + "'"), 0);
    EXPECT_NE(RunQar("sfx -q --stub '" + stub + "' -o '" + out + "' '" + dir + "/missing'"), 0);
    EXPECT_NE(RunQar("sfx --stub '" + stub + "' --archive '" + dir + "/a.qar'"), 0);
    EXPECT_EQ(RunQar("sfx --arch x64 --stub '" + stub + "' --archive '" + dir + "/a.qar' -o '" + out + "'"), 2)
        << "an x86 stub given for --arch x64";
    EXPECT_EQ(RunQar("sfx --arch arm --archive '" + dir + "/a.qar' -o '" + out + "'"), 2);
    // Product values: refused ones end with status 2 and leave nothing; the program to run
    // must be a file of the archive.
    const std::string base = "sfx --stub '" + stub + "' --archive '" + dir + "/a.qar' -o '" + out + "' ";
    EXPECT_EQ(RunQar(base + "--folder 'relative\\path'"), 2);
    EXPECT_EQ(RunQar(base + "--title '" + std::string(kTitleSlot, 't') + "'"), 2);
    EXPECT_EQ(RunQar(base + "--title '\xD0\x9F'"), 2);
    EXPECT_EQ(RunQar(base + "--run 'sub\\missing.txt'"), 2);
    EXPECT_EQ(RunQar(base + "--run sub"), 2) << "a folder is no program";
    EXPECT_EQ(RunQar(base + "--run x.exe --no-run"), 2);
    EXPECT_FALSE(fs::exists(out));
    EXPECT_EQ(RunQar(base + "--run 'SUB\\A.TXT' --title 'Alpha Product'"), 0);
    EXPECT_EQ(RunQar("sfx -q --stub '" + stub + "' -o '" + out + "' --run nothere.exe '" + dir + "/tree'"), 2);
    fs::remove(out);

    // Another product: the program is named with --run, whose slashes stand for backslashes
    // and whose name matches its entry only whole; without --run or --no-run the archive must
    // be the sample product, holding its program.
    fs::create_directories(dir + "/tool/bin");
    std::ofstream(dir + "/tool/bin/tool") << "a file, not the program\n";
    std::ofstream(dir + "/tool/bin/tool.exe.txt") << "not the program either\n";
    const std::string tool = "sfx -q --stub '" + stub + "' -o '" + out + "' ";
    std::string err;
    EXPECT_EQ(RunQar(tool + "'" + dir + "/tool'", &err), 2);
    EXPECT_NE(err.find("--run"), std::string::npos) << err;
    EXPECT_NE(err.find("--no-run"), std::string::npos) << err;
    EXPECT_EQ(RunQar(tool + "--run bin/tool.exe '" + dir + "/tool'", &err), 2) << err;
    EXPECT_EQ(RunQar(tool + "--run bin/tool.exe.txt '" + dir + "/tool'", &err), 0) << err;
    ProductValues written;
    const std::vector<uint8_t> image = ReadAll(out);
    ASSERT_GT(image.size(), kFakeProfileFile + kProfileSize);
    const uint32_t toolStubSize = ReadLe32(&image[kFakeProfileFile + kProfileStubSizeOffset]);
    ASSERT_LE(toolStubSize, image.size());
    ASSERT_TRUE(ReadProductValues(image.data(), toolStubSize, kFakeProfileFile, &written));
    EXPECT_EQ(written.Program, "bin\\tool.exe.txt");
    EXPECT_NE(err.find("warning: the installer keeps the sample product's values (--title"),
              std::string::npos) << err;
    // Without -q the summary comes last and counts that warning with those of the packing.
    EXPECT_EQ(RunQar("sfx --stub '" + stub + "' -o '" + out + "' --run bin/tool.exe.txt '" + dir + "/tool'",
                     &err), 0) << err;
    const size_t summary = err.find("qar sfx: 2 files, 1 folder, ");
    EXPECT_GT(summary, err.find("sample product's values")) << err;
    EXPECT_EQ(err.find('\n', summary), err.size() - 1) << err;
    EXPECT_EQ(err.compare(err.size() - 12, 12, "; 1 warning\n"), 0) << err;
    EXPECT_EQ(RunQar(tool + "--no-run --title Tool --folder 'C:\\Tool' --preferred-folder "
                            "'C:\\Program Files\\Tool' '" + dir + "/tool'", &err), 0) << err;
    EXPECT_EQ(err, "") << "another product's own values draw no warning";
    fs::remove(out);
    EXPECT_FALSE(fs::exists(out));
    for (const auto& entry : fs::directory_iterator(dir))
        EXPECT_EQ(entry.path().filename().string().find("setup.exe."), std::string::npos) << entry.path();
    fs::remove_all(dir);
}

// An installer takes the mode of a program under the umask; a run that Ctrl-C ends while it
// packs leaves nothing in the output folder and exits with 128 + SIGINT.
TEST_F(Sfx, OutputTakesTheUmaskAndAnInterruptedRunLeavesNothing) {
    char pattern[] = "/tmp/qar-sfx-int-XXXXXX";
    const std::string dir = mkdtemp(pattern);
    WriteAll(dir + "/stub.exe", FakeStub());
    fs::create_directories(dir + "/tree");
    fs::create_directories(dir + "/out");
    std::vector<uint8_t> noise(4 << 20);
    uint32_t x = 12345;
    for (uint8_t& b : noise) b = (uint8_t)((x = x * 1103515245u + 12345u) >> 23);
    WriteAll(dir + "/tree/noise.bin", noise);
    const std::string qar = std::string(QAR_BINARY_DIR) + "/qar";
    const std::string stub = dir + "/stub.exe", tree = dir + "/tree";

    const mode_t saved = umask(027);
    const int status = RunQar("sfx -q --no-run --stored --stub '" + stub + "' -o '" + dir + "/out/a.exe' '" + tree + "'");
    umask(saved);
    ASSERT_EQ(status, 0);
    struct stat info;
    ASSERT_EQ(stat((dir + "/out/a.exe").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0750u);
    fs::remove(dir + "/out/a.exe");

    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        freopen("/dev/null", "w", stderr);
        const std::string out = dir + "/out/b.exe";
        execl(qar.c_str(), "qar", "sfx", "-q", "--no-run", "-9", "--threads", "1", "--stub", stub.c_str(),
              "-o", out.c_str(), tree.c_str(), (char*)nullptr);
        _exit(127);
    }
    // Ended as soon as its temporary file is there.
    bool seen = false;
    for (int i = 0; i < 20000 && !seen; ++i) {
        for (const auto& e : fs::directory_iterator(dir + "/out")) seen = true, (void)e;
        if (!seen) usleep(500);
    }
    EXPECT_TRUE(seen);
    kill(child, SIGINT);
    int raw = 0;
    ASSERT_EQ(waitpid(child, &raw, 0), child);
    EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 128 + SIGINT) << raw;
    EXPECT_TRUE(fs::is_empty(dir + "/out"));
    fs::remove_all(dir);
}

// What a command prints on standard output.
std::string QarOutput(const std::string& args) {
    const std::string command = "'" + std::string(QAR_BINARY_DIR) + "/qar' " + args + " 2>/dev/null";
    FILE* p = popen(command.c_str(), "r");
    std::string out;
    char buffer[4096];
    size_t n;
    while (p && (n = fread(buffer, 1, sizeof buffer, p)) > 0) out.append(buffer, n);
    if (p) pclose(p);
    return out;
}

// With the built-in stub: no icon or version option, no change to the stub beyond what it
// always gets; with them, an installer that `qar list` reads them back from; bad ones
// refused with status 2 and nothing written.
TEST_F(Sfx, CommandAddsIconAndVersionOnlyWhenAsked) {
    const std::vector<uint8_t> stub = EmbeddedStub(false);
    if (stub.empty()) GTEST_SKIP() << "no built-in stub";
    char pattern[] = "/tmp/qar-sfx-XXXXXX";
    const std::string dir = mkdtemp(pattern);
    fs::create_directories(dir + "/tree");
    std::ofstream(dir + "/tree/tavlore.exe") << "program\n";
    WriteAll(dir + "/good.ico", TestIcon());
    ASSERT_EQ(RunQar("pack -q -o '" + dir + "/a.qar' '" + dir + "/tree'"), 0);
    const std::string base = "sfx --archive '" + dir + "/a.qar' -o '" + dir + "/setup.exe' ";
    const std::vector<uint8_t> archive = ReadAll(dir + "/a.qar");

    ASSERT_EQ(RunQar(base), 0);
    std::vector<uint8_t> expected = stub;
    std::string error;
    ASSERT_TRUE(PrepareStubImage(&expected, &error)) << error;
    expected.insert(expected.end(), archive.begin(), archive.end());
    EXPECT_EQ(ReadAll(dir + "/setup.exe"), expected);
    EXPECT_NE(QarOutput("list --json '" + dir + "/setup.exe'").find("\"icon\":false,\"version\":null}"),
              std::string::npos);

    ASSERT_EQ(RunQar(base + "--icon '" + dir + "/good.ico' --product-version 2.5 --company 'Caf\xC3\xA9 Ltd' "
                     "--product-name Widget --description 'Widget setup' --copyright '(c) Widget' "
                     "--title 'Widget Setup'"), 0);
    const std::vector<uint8_t> setup = ReadAll(dir + "/setup.exe");
    ASSERT_GT(setup.size(), expected.size());
    const uint32_t stubSize = (uint32_t)(setup.size() - archive.size());
    EXPECT_TRUE(std::equal(archive.begin(), archive.end(), setup.begin() + stubSize));
    std::vector<uint8_t> image(setup.begin(), setup.begin() + stubSize);
    uint32_t rva;
    ASSERT_GT(FindStubProfile(image.data(), stubSize, &rva), 0);
    EXPECT_EQ(CheckedArchiveBase(image.data(), stubSize, rva), stubSize);
    const std::string json = QarOutput("list --json '" + dir + "/setup.exe'");
    EXPECT_NE(json.find("\"icon\":true,\"version\":{\"file_version\":\"2.5.0.0\",\"product_version\":"
                        "\"2.5.0.0\",\"strings\":{\"CompanyName\":\"Caf\xC3\xA9 Ltd\",\"FileDescription\":"
                        "\"Widget setup\",\"FileVersion\":\"2.5\",\"LegalCopyright\":\"(c) Widget\","
                        "\"OriginalFilename\":\"setup.exe\",\"ProductName\":\"Widget\",\"ProductVersion\":"
                        "\"2.5\"}}}\n"),
              std::string::npos) << json;
    const std::string text = QarOutput("list '" + dir + "/setup.exe'");
    EXPECT_NE(text.find("  icon: yes\n  file version: 2.5.0.0\n"), std::string::npos) << text;
    EXPECT_NE(text.find("  CompanyName: Caf\xC3\xA9 Ltd\n"), std::string::npos) << text;

    fs::remove(dir + "/setup.exe");
    std::ofstream(dir + "/bad.ico") << "GIF89a, not an icon";
    EXPECT_EQ(RunQar(base + "--icon '" + dir + "/bad.ico'"), 2);
    EXPECT_EQ(RunQar(base + "--icon '" + dir + "/missing.ico'"), 1);
    std::vector<uint8_t> icon = TestIcon();   // its PNG image, the last bytes, carries the anchor
    uint8_t anchor[30];
    ProfileAnchor(anchor);
    memcpy(&icon[icon.size() - sizeof anchor], anchor, sizeof anchor);
    WriteAll(dir + "/anchor.ico", icon);
    EXPECT_EQ(RunQar(base + "--icon '" + dir + "/anchor.ico'"), 2);
    EXPECT_EQ(RunQar(base + "--product-version 1.2.70000"), 2);
    EXPECT_EQ(RunQar(base + "--company '\xD0\x96'"), 2);
    EXPECT_EQ(RunQar(base + "--company"), 2);
    EXPECT_FALSE(fs::exists(dir + "/setup.exe"));
    EXPECT_EQ(RunQar(base + "--company '\xD0\x96' --codepage 1251"), 0);
    fs::remove_all(dir);
}

}  // namespace
