// Recognising i386 PE images by their headers alone.
#include <gtest/gtest.h>
#include <string.h>

#include <fstream>
#include <iterator>
#include <vector>

#include "archive/records.h"
#include "pack/pe_detect.h"

namespace {

std::vector<uint8_t> Image(uint32_t peOffset, uint16_t machine, size_t size = 1024) {
    std::vector<uint8_t> d(size, 0);
    d[0] = 'M';
    d[1] = 'Z';
    WriteLe32(&d[0x3C], peOffset);
    if (peOffset + 6 <= size) {
        memcpy(&d[peOffset], "PE\0\0", 4);
        WriteLe16(&d[peOffset + 4], machine);
    }
    return d;
}

std::vector<uint8_t> Head(const char* path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> d(4096);
    in.read((char*)d.data(), (std::streamsize)d.size());
    d.resize((size_t)in.gcount());
    return d;
}

}  // namespace

TEST(PeDetect, HeadersDecide) {
    std::vector<uint8_t> d = Image(0x80, 0x014C);
    EXPECT_TRUE(IsX86PortableExecutable(d.data(), d.size()));
    EXPECT_FALSE(IsX86PortableExecutable(Image(0x80, 0x8664).data(), 1024));   // x86-64
    EXPECT_FALSE(IsX86PortableExecutable(Image(0x80, 0x01C4).data(), 1024));   // ARM
    // e_lfanew pointing past the bytes given, or so close to their end that the machine
    // field is cut off.
    EXPECT_FALSE(IsX86PortableExecutable(Image(0x80, 0x014C).data(), 0x80 + 5));
    EXPECT_TRUE(IsX86PortableExecutable(Image(0x80, 0x014C).data(), 0x80 + 6));
    EXPECT_FALSE(IsX86PortableExecutable(Image(0xFFFFFFF0u, 0x014C).data(), 1024));
    d[0x81] = 'X';   // no PE signature
    EXPECT_FALSE(IsX86PortableExecutable(d.data(), d.size()));
    d = Image(0x80, 0x014C);
    d[1] = 'Y';      // no MZ
    EXPECT_FALSE(IsX86PortableExecutable(d.data(), d.size()));
    EXPECT_FALSE(IsX86PortableExecutable(d.data(), 10));   // too short for e_lfanew
    EXPECT_FALSE(IsX86PortableExecutable(nullptr, 0));
}

TEST(PeDetect, RealFiles) {
    const std::vector<uint8_t> dll = Head("/usr/lib/i386-linux-gnu/wine/i386-windows/kernel32.dll");
    if (dll.empty()) GTEST_SKIP() << "no 32-bit Wine DLLs installed";
    EXPECT_TRUE(IsX86PortableExecutable(dll.data(), dll.size()));
    const std::vector<uint8_t> elf = Head("/bin/sh");
    EXPECT_FALSE(IsX86PortableExecutable(elf.data(), elf.size()));
}

// `--filter auto` takes x86-64 Windows images and x86 / x86-64 ELF files as well: their
// relative calls have the same form. Other machines and big-endian ELF files are left alone.
TEST(PeDetect, X86ExecutablesOfBothWidthsAndFormats) {
    EXPECT_TRUE(IsX86Executable(Image(0x80, 0x014C).data(), 1024));
    EXPECT_TRUE(IsX86Executable(Image(0x80, 0x8664).data(), 1024));
    EXPECT_FALSE(IsX86Executable(Image(0x80, 0x01C4).data(), 1024));   // ARM
    EXPECT_FALSE(IsX86Executable(Image(0x80, 0xAA64).data(), 1024));   // ARM64

    std::vector<uint8_t> elf(64, 0);
    memcpy(elf.data(), "\x7F" "ELF", 4);
    elf[4] = 2;   // 64-bit
    elf[5] = 1;   // little-endian
    for (uint16_t machine : {3, 62}) {
        WriteLe16(&elf[18], machine);
        EXPECT_TRUE(IsX86Executable(elf.data(), elf.size())) << machine;
        EXPECT_FALSE(IsX86PortableExecutable(elf.data(), elf.size()));
    }
    WriteLe16(&elf[18], 183);   // AArch64
    EXPECT_FALSE(IsX86Executable(elf.data(), elf.size()));
    WriteLe16(&elf[18], 62);
    elf[5] = 2;                 // big-endian
    EXPECT_FALSE(IsX86Executable(elf.data(), elf.size()));
    elf[5] = 1;
    EXPECT_FALSE(IsX86Executable(elf.data(), 19));   // machine field cut off
    elf[3] = 'G';
    EXPECT_FALSE(IsX86Executable(elf.data(), elf.size()));

    const std::vector<uint8_t> sh = Head("/bin/sh");
    if (!sh.empty()) {
        EXPECT_TRUE(IsX86Executable(sh.data(), sh.size()));
    }
}
