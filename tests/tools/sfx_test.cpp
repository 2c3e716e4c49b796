// Building installers: the stub image that `qar sfx` prepares passes the check the stub makes
// at start-up, any other change of a byte fails it while the fields that code signing
// rewrites do not count, unusable stubs and archives are refused, and `qar sfx` writes the
// stub and the archive as one file or nothing at all.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
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
#include "tools/product_values.h"
#include "tools/sfx_image.h"

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
    EXPECT_TRUE(CheckArchiveFits(20000, archive, &error));
    EXPECT_FALSE(CheckArchiveFits(0x7FFFFFFFu - 10, archive, &error));
    archive[0] = 'X';
    EXPECT_FALSE(CheckArchiveFits(20000, archive, &error));
    archive.assign(kArchiveMagic, kArchiveMagic + 4);
    EXPECT_FALSE(CheckArchiveFits(20000, archive, &error));
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
    EXPECT_EQ(RunQar("sfx -q --stub '" + stub + "' -o '" + dir + "/none.exe' --exclude '*' '" + dir + "/tree'"), 1);
    EXPECT_FALSE(fs::exists(dir + "/none.exe"));

    // Refusals leave no output behind.
    fs::remove(out);
    WriteAll(dir + "/junk.qar", std::vector<uint8_t>(100, 'j'));
    EXPECT_NE(RunQar("sfx --stub '" + stub + "' --archive '" + dir + "/junk.qar' -o '" + out + "'"), 0);
    EXPECT_NE(RunQar("sfx --stub '" + dir + "/junk.qar' --archive '" + dir + "/a.qar' -o '" + out + "'"), 0);
    EXPECT_NE(RunQar("sfx -q --stub '" + stub + "' -o '" + out + "' '" + dir + "/missing'"), 0);
    EXPECT_NE(RunQar("sfx --stub '" + stub + "' --archive '" + dir + "/a.qar'"), 0);
    EXPECT_EQ(RunQar("sfx --arch x64 --stub '" + stub + "' --archive '" + dir + "/a.qar' -o '" + out + "'"), 1)
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
    EXPECT_EQ(RunQar(tool + "--no-run --title Tool --folder 'C:\\Tool' --preferred-folder "
                            "'C:\\Program Files\\Tool' '" + dir + "/tool'", &err), 0) << err;
    EXPECT_EQ(err, "") << "another product's own values draw no warning";
    fs::remove(out);
    EXPECT_FALSE(fs::exists(out));
    for (const auto& entry : fs::directory_iterator(dir))
        EXPECT_EQ(entry.path().filename().string().find("setup.exe."), std::string::npos) << entry.path();
    fs::remove_all(dir);
}

}  // namespace
