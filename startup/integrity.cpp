#include "startup/integrity.h"

#include <string.h>

#include "archive/records.h"
#include "decode/crc32.h"
#include "profile/product.h"
#include "profile/profile.h"

const char kAlteredImageMessage[] =
    "This self-extractor has been modified. An error may have occurred during downloading, "
    "or your computer may have a virus. Make sure your virus scanner is the latest version "
    "and scan your computer for viruses. You will need to get a new copy of this file.";

uint32_t PeCertificateEntry(const uint8_t* image, uint32_t pe) {
    // The two magics differ in bit 9 alone (0x10B, 0x20B); the entry moves by 16 with it.
    static_assert(((kPeMagic32 >> 5) & 16) == 0 && ((kPeMagic32Plus >> 5) & 16) == 16 &&
                      kPe32PlusCertificateEntry - kPe32CertificateEntry == 16,
                  "the certificate entry follows the magic's bit 9");
    return kPe32CertificateEntry + ((ReadLe16(image + pe + kPeMagicField) >> 5) & 16);
}

uint32_t FindPeHeader(const uint8_t* image, uint32_t size) {
    if (size < kPeHeaderPointer + 4) return 0;
    uint32_t pe = ReadLe32(image + kPeHeaderPointer);
    // The header must lie inside the image with the magic; then, by the magic, with the
    // certificate entry, the last field read.
    if (pe < kPeHeaderPointer + 4 || pe > size || size - pe < kPeMagicField + 2) return 0;
    if (ReadLe32(image + pe) != 0x00004550) return 0;   // "PE\0\0"
    uint32_t magic = ReadLe16(image + pe + kPeMagicField);
    if (magic != kPeMagic32 && magic != kPeMagic32Plus) return 0;
    if (size - pe < PeCertificateEntry(image, pe) + 8) return 0;
    return pe;
}

namespace {

void ClearRange(uint8_t* image, uint32_t size, uint32_t offset, uint32_t count) {
    if (offset > size || size - offset < count) return;
    memset(image + offset, 0, count);
}

}  // namespace

void ClearUnsignedFields(uint8_t* image, uint32_t size, uint32_t profileOffset) {
    ClearRange(image, size, profileOffset + kProfileIntegrityOffset, 8);
    uint32_t pe = FindPeHeader(image, size);
    if (!pe) return;
    ClearRange(image, size, pe + kPeChecksumField, 4);
    ClearRange(image, size, pe + PeCertificateEntry(image, pe), 8);
}

void ComputeIntegrityWords(uint8_t* image, uint32_t size, uint32_t profileOffset,
                           uint32_t words[2]) {
    ClearUnsignedFields(image, size, profileOffset);
    uint32_t crc = ~Crc32(image, size, 0xFFFFFFFFu);
    words[0] = crc;
    words[1] = crc ^ size;
}

int32_t ImageProfileOffset(const uint8_t* image, uint32_t size, uint32_t profileRva) {
    uint32_t pe = FindPeHeader(image, size);
    if (!pe) return -1;
    uint32_t sections;
    uint32_t entry = PeSectionTable(image, pe, &sections);
    if (sections > kPeMostSections) return -1;
    int32_t at = -1;
    for (; sections; --sections, entry += kPeSectionEntrySize) {
        if (entry > size - kPeSectionEntrySize) return -1;
        const uint8_t* e = image + entry;
        const uint32_t virtualSize = ReadLe32(e + 8), rawSize = ReadLe32(e + 16),
                       rawOffset = ReadLe32(e + 20);
        if (rawSize > size || rawOffset > size - rawSize) return -1;
        const uint32_t into = profileRva - ReadLe32(e + 12);
        if (at < 0 && into < virtualSize) {
            // Past either end the loader fills the section with zeros, not from the file.
            const uint32_t loaded = virtualSize < rawSize ? virtualSize : rawSize;
            if (loaded < kProfileSize || into > loaded - kProfileSize) return -1;
            at = (int32_t)(rawOffset + into);
        }
    }
    return at;
}

int32_t LocateImageProfile(const uint8_t* image, uint32_t size, uint32_t profileRva) {
    int32_t at = ImageProfileOffset(image, size, profileRva);
    if (at < 0) return -1;
    // The image holds the whole profile, so it is longer than the anchor.
    const uint8_t* anchor = image + at + kProfileAnchorOffset;
    uint32_t i = size - kProfileAnchorSize;
    do {
        if (image + i != anchor && memcmp(image + i, anchor, kProfileAnchorSize) == 0) return -1;
    } while (i--);
    return at;
}

uint32_t CheckedArchiveBase(uint8_t* image, uint32_t size, uint32_t profileRva) {
    int32_t at = LocateImageProfile(image, size, profileRva);
    if (at < 0) return 0;
    const uint8_t* profile = image + at;
    const uint32_t stored0 = ReadLe32(profile + kProfileIntegrityOffset);
    const uint32_t stored1 = ReadLe32(profile + kProfileIntegrityOffset + 4);
    // A product block is the one size that `qar sfx` writes, at the image's end.
    const uint32_t block = ReadLe16(profile + kProfileProductBlockOffset);
    if (block != 0 && (block != kProductBlockSize || size < block)) return 0;
    uint32_t words[2];
    ComputeIntegrityWords(image, size, (uint32_t)at, words);
    return words[0] == stored0 && words[1] == stored1 ? size : 0;
}
