// The integrity words of an installer image. `qar sfx` computes them into the copy of the
// stub it writes; the stub recomputes them at start-up (VerifyOwnImage).
//
// IntegrityWords[0] is the CRC-32 of the whole image (the first StubSize bytes of the file)
// taken with three fields as zero: the two integrity words themselves, and the two fields of
// the PE header that code signing rewrites (the CheckSum and the certificate-table entry of
// the data directory). Signing appends its certificate table behind the archive, which the
// extractor never reads, so a signed installer still passes while any other changed byte of
// the image fails. IntegrityWords[1] is that CRC XOR StubSize: it binds the length, so words
// computed over another length never pass by accident.
#pragma once

#include <stdint.h>

#include "archive/records.h"

// Offsets from the "PE\0\0" signature. The CheckSum field is at the same place in the PE32
// (i686) and PE32+ (x86-64) optional headers; the data directory, and with it the
// certificate-table entry (directory 4: its offset and size), lies 16 bytes further in
// PE32+, whose image base is 8 bytes wide and whose stack and heap sizes are too.
enum : uint32_t {
    kPeHeaderPointer = 0x3C,        // file offset of the PE header's offset in the DOS header
    kPeMachineField = 4,
    kPeMagicField = 24,             // 0x10B for PE32, 0x20B for PE32+
    kPeChecksumField = 88,
    kPe32CertificateEntry = 152,
    kPe32PlusCertificateEntry = 168,
    kPeMagic32 = 0x10B,
    kPeMagic32Plus = 0x20B,
    kPeMachineI386 = 0x14C,
    kPeMachineAmd64 = 0x8664,
    kPeSectionEntrySize = 40,
};

// The offset of a well-formed PE32 or PE32+ header in image (every field that the
// integrity words need lies inside the image), or 0 when it has none.
uint32_t FindPeHeader(const uint8_t* image, uint32_t size);

// The offset, from the PE header at pe, of the certificate-table entry: kPe32CertificateEntry
// or kPe32PlusCertificateEntry by the optional header's magic.
uint32_t PeCertificateEntry(const uint8_t* image, uint32_t pe);

// Zeroes, in place, the integrity words at profileOffset and the two signing fields of the PE
// header (when the image carries a well-formed PE32 or PE32+ header). Fields that do not lie wholly
// inside the image are left alone.
void ClearUnsignedFields(uint8_t* image, uint32_t size, uint32_t profileOffset);

// The two integrity words of image (size bytes, profile at profileOffset). The image is
// modified: ClearUnsignedFields runs on it first. Needs the CRC table (BuildCrcTable).
void ComputeIntegrityWords(uint8_t* image, uint32_t size, uint32_t profileOffset,
                           uint32_t words[2]);

// One entry of the section table: where the section lies in memory and in the file.
struct PeSection {
    uint32_t Address;      // relative virtual address
    uint32_t RawSize;      // bytes of the section in the file
    uint32_t RawOffset;    // file offset of those bytes (not checked against the image)
};

// The section table of the PE header at pe (from FindPeHeader): its file offset, and its
// number of entries in count. The table itself may run past the image; ReadPeSection checks.
inline uint32_t PeSectionTable(const uint8_t* image, uint32_t pe, uint32_t* count) {
    *count = ReadLe16(image + pe + 6);
    return pe + 24 + ReadLe16(image + pe + 20);
}

// The section-table entry at file offset at, or false when it runs past the image.
inline bool ReadPeSection(const uint8_t* image, uint32_t size, uint32_t at, PeSection* section) {
    if (at > size || size - at < kPeSectionEntrySize) return false;
    section->Address = ReadLe32(image + at + 12);
    section->RawSize = ReadLe32(image + at + 16);
    section->RawOffset = ReadLe32(image + at + 20);
    return true;
}

// The file offset of the byte at the relative virtual address rva, found through the
// section table of the image, or -1 when no section holds it in the file.
int32_t ImageRvaToFileOffset(const uint8_t* image, uint32_t size, uint32_t rva);

// What the installer shows when its image does not carry its integrity words; `qar` says
// the same of such an installer.
extern const char kAlteredImageMessage[];

// The stub's check of its own image (size bytes, the first StubSize bytes of its file, its
// profile at the relative virtual address profileRva): true when the profile lies wholly in
// the image, the integrity words it holds are those computed over the image, and it names no
// product block other than the one `qar sfx` writes. The image is modified
// (ComputeIntegrityWords). Needs the CRC table.
bool ImageCarriesItsWords(uint8_t* image, uint32_t size, uint32_t profileRva);
