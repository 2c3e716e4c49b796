// The records of a solid stream that member extraction reads: the stream marker, the local
// header in front of each member with its filter flags, and the header of every block. The
// container records built on them (archive header, directory entries) are in
// archive/records.h.
#pragma once

#include <stdint.h>

#include "platform/bytes.h"

enum : uint32_t {
    kStreamMarkerSize = 6,
    kLocalHeaderSize = 11,
    kMaxBlockDecodedSize = 1048575,
};

extern const uint8_t kStreamMarker[6];        // "QARLH\0"

struct LocalHeader {
    uint32_t MemberSize;
    uint16_t VariableLength;
    uint16_t Reserved6;
    uint16_t Reserved8;
    uint8_t Flags;
};
void ReadLocalHeader(const uint8_t* bytes, LocalHeader* header);
void WriteLocalHeader(const LocalHeader& header, uint8_t* bytes);      // 11 bytes

enum : uint8_t {
    FlagFolder = 0x01,
    FlagCallFilter16 = 0x02,
    FlagCallFilter32 = 0x04,
};

// Block header fields (the first 45 bits of every block).
struct BlockHeader {
    uint32_t BlockType;     // 0 stored, 1 compressed, 2..15 damaged
    uint32_t LastBlock;
    uint32_t DecodedSize;   // 0..1048575
    uint32_t BlockSize;     // bytes of the block in the file, header included
};
// Reads from the first 8 bytes of a block (6 suffice for all 45 bits).
void ReadBlockHeader(const uint8_t* bytes, BlockHeader* header);
