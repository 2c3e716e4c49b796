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
    kPeMostSections = 96,           // sections an image may have (older loaders' limit)
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
    uint32_t VirtualSize;  // bytes of the section in memory
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
    section->VirtualSize = ReadLe32(image + at + 8);
    section->Address = ReadLe32(image + at + 12);
    section->RawSize = ReadLe32(image + at + 16);
    section->RawOffset = ReadLe32(image + at + 20);
    return true;
}

// Where the installer's profile lies in its image (size bytes, the first StubSize bytes of
// its file) when its address relative to the image base is profileRva: the file offset of
// the profile, or -1 when the image cannot be the installer's. The rule, the same for the
// stub and for `qar`:
//   - the image has a well-formed PE header, at most kPeMostSections sections, and its
//     section table lies inside the image;
//   - every section's file bytes lie inside the image, so that the integrity words cover
//     every byte the loader maps;
//   - the first section whose memory holds profileRva holds the whole profile in the part
//     that the loader fills from the file (its file bytes and its memory size, whichever
//     ends first), so that the profile in memory is the one in the image.
// ImageProfileOffset applies these; LocateImageProfile also requires that the profile's
// anchor bytes (kProfileAnchorOffset) occur nowhere else in the image, so that no other
// place of the image can pass for the profile.
int32_t ImageProfileOffset(const uint8_t* image, uint32_t size, uint32_t profileRva);
int32_t LocateImageProfile(const uint8_t* image, uint32_t size, uint32_t profileRva);

// What the installer shows when its image does not carry its integrity words; `qar` says
// the same of such an installer.
extern const char kAlteredImageMessage[];

// The stub's check of its own image (size bytes: the first StubSize bytes of its file, with
// StubSize as its profile holds it; the profile at the relative virtual address profileRva):
// where the archive begins, size, when the image is accepted; 0 when it is refused. It is
// accepted when LocateImageProfile finds the profile, the integrity words it holds are those
// computed over the image (the second one binds size), and it names no product block other
// than the one `qar sfx` writes. The image is modified (ComputeIntegrityWords). Needs the
// CRC table.
uint32_t CheckedArchiveBase(uint8_t* image, uint32_t size, uint32_t profileRva);
