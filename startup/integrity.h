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

enum : uint32_t {
    kPeHeaderPointer = 0x3C,   // file offset of the PE header's offset in the DOS header
    kPeChecksumField = 88,     // from the "PE\0\0" signature, PE32 optional header
    kPeCertificateEntry = 152, // data directory 4: offset and size of the certificate table
    kPeHeaderMinimum = 160,    // bytes of PE header the two fields above need
};

// Zeroes, in place, the integrity words at profileOffset and the two signing fields of the PE
// header (when the image carries a well-formed PE32 header). Fields that do not lie wholly
// inside the image are left alone.
void ClearUnsignedFields(uint8_t* image, uint32_t size, uint32_t profileOffset);

// The two integrity words of image (size bytes, profile at profileOffset). The image is
// modified: ClearUnsignedFields runs on it first. Needs the CRC table (BuildCrcTable).
void ComputeIntegrityWords(uint8_t* image, uint32_t size, uint32_t profileOffset,
                           uint32_t words[2]);

// The file offset of the byte at the relative virtual address rva, found through the
// section table of the image, or -1 when no section holds it in the file.
int32_t ImageRvaToFileOffset(const uint8_t* image, uint32_t size, uint32_t rva);
