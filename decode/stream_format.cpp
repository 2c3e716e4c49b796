// The records of a solid stream, read and written byte by byte in little-endian order.
#include "decode/stream_format.h"

const uint8_t kStreamMarker[6] = {'Q', 'A', 'R', 'L', 'H', 0};

void ReadLocalHeader(const uint8_t* bytes, LocalHeader* header) {
    header->MemberSize = ReadLe32(bytes);
    header->VariableLength = ReadLe16(bytes + 4);
    header->Reserved6 = ReadLe16(bytes + 6);
    header->Reserved8 = ReadLe16(bytes + 8);
    header->Flags = bytes[10];
}

void WriteLocalHeader(const LocalHeader& header, uint8_t* bytes) {
    WriteLe32(bytes, header.MemberSize);
    WriteLe16(bytes + 4, header.VariableLength);
    WriteLe16(bytes + 6, header.Reserved6);
    WriteLe16(bytes + 8, header.Reserved8);
    bytes[10] = header.Flags;
}

void ReadBlockHeader(const uint8_t* bytes, BlockHeader* header) {
    uint32_t first = ReadLe32(bytes);
    header->BlockType = first & 0x0F;
    header->LastBlock = (first >> 4) & 1;
    header->DecodedSize = (first >> 5) & 0xFFFFF;
    // Bits 25..44 are bits 1..20 of the word at byte 3; they lie in bytes 3..5, so the block
    // needs no more than its first 6 bytes.
    uint32_t second = (uint32_t)bytes[3] | ((uint32_t)bytes[4] << 8) | ((uint32_t)bytes[5] << 16);
    header->BlockSize = (second >> 1) & 0xFFFFF;
}
