#include "startup/integrity.h"

#include <string.h>

#include "archive/records.h"
#include "decode/crc32.h"
#include "profile/profile.h"

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

int32_t ImageRvaToFileOffset(const uint8_t* image, uint32_t size, uint32_t rva) {
    uint32_t pe = FindPeHeader(image, size);
    if (!pe) return -1;
    uint32_t sections = ReadLe16(image + pe + 6);
    uint32_t table = pe + 24 + ReadLe16(image + pe + 20);
    for (uint32_t i = 0; i < sections; ++i) {
        uint32_t at = table + i * 40;
        // A section table running past the image ends the search.
        if (at > size || size - at < 40) return -1;
        uint32_t address = ReadLe32(image + at + 12);
        uint32_t rawSize = ReadLe32(image + at + 16);
        uint32_t rawOffset = ReadLe32(image + at + 20);
        if (rva >= address && rva - address < rawSize) {
            uint32_t offset = rawOffset + (rva - address);
            if (offset < rawOffset || offset >= size) return -1;
            return (int32_t)offset;
        }
    }
    return -1;
}
