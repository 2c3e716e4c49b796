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
