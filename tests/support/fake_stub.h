// A small stand-in for the installer stub, laid out as the linker lays out the real one:
// headers, then one data section at file offset 0x200 (RVA 0x1000) holding a copy of the
// profile at RVA 0x1100. PE32 (i686) by default, PE32+ (x86-64) with x64, whose optional
// header is 16 bytes longer. The rest of the section is filler.
#pragma once

#include <stdint.h>

#include <vector>

namespace qartest {

const uint32_t kFakePe = 0x80;
const uint32_t kFakeSectionFile = 0x200, kFakeSectionRva = 0x1000, kFakeSectionSize = 0x400;
const uint32_t kFakeProfileRva = 0x1100, kFakeProfileFile = 0x300;

// The file offset of the fake stub's section-table entry.
inline uint32_t FakeSectionEntry(bool x64) { return kFakePe + 24 + (x64 ? 240 : 224); }

std::vector<uint8_t> FakeStub(bool x64 = false);

}  // namespace qartest
