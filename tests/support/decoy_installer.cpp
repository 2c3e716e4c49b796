#include "tests/support/decoy_installer.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>

#include "archive/records.h"
#include "profile/product.h"
#include "profile/profile.h"
#include "startup/integrity.h"

namespace qartest {

namespace {

// Optional-header fields at the same offsets in PE32 and PE32+.
const uint32_t kSectionAlignment = 24 + 32, kFileAlignment = 24 + 36, kSizeOfImage = 24 + 56,
               kSizeOfHeaders = 24 + 60;

[[noreturn]] void Fail(const char* what) {
    fprintf(stderr, "decoy installer: %s\n", what);
    abort();
}

uint32_t Align(uint32_t n, uint32_t to) { return (n + to - 1) / to * to; }

struct Pe {
    uint32_t Header, Table, Count;
};

Pe ReadPe(const Bytes& file) {
    Pe pe;
    pe.Header = ReadLe32(&file[kPeHeaderPointer]);
    pe.Table = PeSectionTable(file.data(), pe.Header, &pe.Count);
    return pe;
}

// The index of the section whose file bytes hold offset.
uint32_t SectionHolding(const Bytes& file, const Pe& pe, uint32_t offset) {
    for (uint32_t i = 0; i < pe.Count; ++i) {
        PeSection s;
        if (!ReadPeSection(file.data(), (uint32_t)file.size(), pe.Table + i * kPeSectionEntrySize, &s)) break;
        if (offset - s.RawOffset < s.RawSize) return i;
    }
    Fail("no section holds the profile");
}

// Adds a section entry (readable initialised data) behind the others, after moving the PE
// header and the section table up to the end of the DOS header when the headers have no
// room left for it, and grows the image's size in memory to cover it. Returns the PE.
Pe AddSection(Bytes* file, uint32_t address, uint32_t virtualSize, uint32_t rawOffset,
              uint32_t rawSize) {
    Pe pe = ReadPe(*file);
    uint32_t end = pe.Table + (pe.Count + 1) * kPeSectionEntrySize;
    if (end > ReadLe32(&(*file)[pe.Header + kSizeOfHeaders])) {
        const uint32_t to = kPeHeaderPointer + 4, length = pe.Table + pe.Count * kPeSectionEntrySize - pe.Header;
        memmove(&(*file)[to], &(*file)[pe.Header], length);
        memset(&(*file)[to + length], 0, pe.Header - to);
        WriteLe32(&(*file)[kPeHeaderPointer], to);
        pe = ReadPe(*file);
        end = pe.Table + (pe.Count + 1) * kPeSectionEntrySize;
        if (end > ReadLe32(&(*file)[pe.Header + kSizeOfHeaders])) Fail("no room for a section entry");
    }
    uint8_t* e = &(*file)[pe.Table + pe.Count * kPeSectionEntrySize];
    memset(e, 0, kPeSectionEntrySize);
    memcpy(e, ".decoy", 6);
    WriteLe32(e + 8, virtualSize);
    WriteLe32(e + 12, address);
    WriteLe32(e + 16, rawSize);
    WriteLe32(e + 20, rawOffset);
    WriteLe32(e + 36, 0x40000040);
    WriteLe16(&(*file)[pe.Header + 6], (uint16_t)(pe.Count + 1));
    const uint32_t alignment = ReadLe32(&(*file)[pe.Header + kSectionAlignment]);
    WriteLe32(&(*file)[pe.Header + kSizeOfImage], Align(address + virtualSize, alignment));
    return ReadPe(*file);
}

}  // namespace

void ResealProfile(Bytes* file, uint32_t offset) {
    const uint32_t stubSize = ReadLe32(&(*file)[offset + kProfileStubSizeOffset]);
    if (stubSize > file->size()) Fail("a profile's StubSize runs past the file");
    Bytes image(file->begin(), file->begin() + stubSize);
    uint32_t words[2];
    ComputeIntegrityWords(image.data(), stubSize, offset, words);
    WriteLe32(&(*file)[offset + kProfileIntegrityOffset], words[0]);
    WriteLe32(&(*file)[offset + kProfileIntegrityOffset + 4], words[1]);
}

namespace {

// The real profile's offset and the length of the stub in front of the archive.
uint32_t RealProfile(const Bytes& installer, uint32_t* stubSize) {
    const int64_t at = FirstProfileOffset(installer);
    if (at < 0) Fail("no profile");
    *stubSize = ReadLe32(&installer[at + kProfileStubSizeOffset]);
    if (ReadLe16(&installer[at + kProfileProductBlockOffset]) != 0) Fail("a product block");
    return (uint32_t)at;
}

}  // namespace

int64_t FirstProfileOffset(const Bytes& image) {
    const uint8_t* anchor = (const uint8_t*)&Profile + kProfileAnchorOffset;
    for (size_t i = kProfileAnchorOffset; i + kProfileAnchorSize <= image.size(); ++i) {
        if (memcmp(&image[i], anchor, kProfileAnchorSize) == 0) return (int64_t)(i - kProfileAnchorOffset);
    }
    return -1;
}

Bytes CutSectionDecoy(const Bytes& installer, const Bytes& benignArchive, uint32_t* realOut) {
    uint32_t stubSize;
    const uint32_t real = RealProfile(installer, &stubSize);
    if (installer[real + kProfileSize - 1] != 0) Fail("the profile's last byte is not zero");
    Bytes file = installer;
    Pe pe = ReadPe(file);
    const uint32_t fileAlignment = ReadLe32(&file[pe.Header + kFileAlignment]);
    const uint32_t at = pe.Table + SectionHolding(file, pe, real) * kPeSectionEntrySize;
    WriteLe32(&file[at + 16], real + kProfileSize - 1 - ReadLe32(&file[at + 20]));

    const uint32_t decoyOffset = Align((uint32_t)file.size(), fileAlignment);
    const uint32_t decoySize = Align(kProfileSize, fileAlignment);
    pe = AddSection(&file, ReadLe32(&file[pe.Header + kSizeOfImage]), kProfileSize, decoyOffset,
                    decoySize);
    file.resize(decoyOffset, 0);
    file.insert(file.end(), installer.begin() + real, installer.begin() + real + kProfileSize);
    file.resize(decoyOffset + decoySize, 0);
    WriteLe32(&file[decoyOffset + kProfileStubSizeOffset], (uint32_t)file.size());
    file.insert(file.end(), benignArchive.begin(), benignArchive.end());
    // The real profile's image lies in front of the decoy's, whose words cover the real ones.
    ResealProfile(&file, real);
    ResealProfile(&file, decoyOffset);
    if (realOut) *realOut = real;
    return file;
}

Bytes FarSectionDecoy(const Bytes& installer, const Bytes& benignArchive, uint32_t* realOut) {
    uint32_t stubSize;
    const uint32_t real = RealProfile(installer, &stubSize);
    Bytes file(installer.begin(), installer.begin() + stubSize);
    Pe pe = ReadPe(file);
    const uint32_t index = SectionHolding(file, pe, real);
    uint32_t entry = pe.Table + index * kPeSectionEntrySize;
    const uint32_t virtualSize = ReadLe32(&file[entry + 8]), rawSize = ReadLe32(&file[entry + 16]),
                   rawOffset = ReadLe32(&file[entry + 20]);
    const uint32_t fileAlignment = ReadLe32(&file[pe.Header + kFileAlignment]);
    // The added section keeps the section's old file bytes, and with them the decoy profile,
    // which names the image as it was and the benign archive behind it.
    pe = AddSection(&file, ReadLe32(&file[pe.Header + kSizeOfImage]), virtualSize, rawOffset, rawSize);
    const uint32_t decoy = real;
    file.insert(file.end(), benignArchive.begin(), benignArchive.end());

    const uint32_t far = Align(std::max<uint32_t>((uint32_t)file.size(), 16u << 20), fileAlignment);
    entry = pe.Table + index * kPeSectionEntrySize;
    WriteLe32(&file[entry + 20], far);
    file.resize(far, 0);
    file.insert(file.end(), installer.begin() + rawOffset, installer.begin() + rawOffset + rawSize);
    const uint32_t farProfile = far + (real - rawOffset);
    WriteLe32(&file[farProfile + kProfileStubSizeOffset], (uint32_t)file.size());
    file.insert(file.end(), installer.begin() + stubSize, installer.end());
    // The decoy's image lies in front of the real one, whose words cover the decoy's.
    ResealProfile(&file, decoy);
    ResealProfile(&file, farProfile);
    if (realOut) *realOut = farProfile;
    return file;
}

}  // namespace qartest
