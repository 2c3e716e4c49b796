// The QAR container records. Each is read from and written to its bytes field by field in
// little-endian order; nothing here casts a byte pointer to a wider type.
#pragma once

#include <stdint.h>

inline uint16_t ReadLe16(const uint8_t* p) { return (uint16_t)(p[0] | (p[1] << 8)); }
inline uint32_t ReadLe32(const uint8_t* p) {
    return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}
inline void WriteLe16(uint8_t* p, uint16_t v) { p[0] = (uint8_t)v; p[1] = (uint8_t)(v >> 8); }
inline void WriteLe32(uint8_t* p, uint32_t v) {
    p[0] = (uint8_t)v; p[1] = (uint8_t)(v >> 8); p[2] = (uint8_t)(v >> 16); p[3] = (uint8_t)(v >> 24);
}

enum : uint32_t {
    kArchiveHeaderSize = 42,
    kStreamMarkerSize = 6,
    kLocalHeaderSize = 11,
    kDirectorySignatureSize = 6,
    kEntryFixedSize = 38,
    kDirectoryBlockMaxDecoded = 8192,
    kDirectoryBlockMaxBytes = 8184,
    kMaxBlockDecodedSize = 1048575,
};

extern const uint8_t kArchiveMagic[4];        // "QAR\n"
extern const uint8_t kStreamMarker[6];        // "QARLH\0"
extern const uint8_t kDirectorySignature[6];  // "QARDE\0"

struct ArchiveHeader {
    uint8_t Magic[4];
    uint32_t DirectoryOffset;
    uint32_t EntryCount;
    uint32_t ArchiveSize;
    uint32_t StreamsSize;
    uint16_t ArchiverWord;    // the 16-bit value at offset 40, set by the archiver
};
void ReadArchiveHeader(const uint8_t* bytes, ArchiveHeader* header);
void WriteArchiveHeader(const ArchiveHeader& header, uint8_t* bytes);   // 42 bytes, reserved zero

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

// The fixed 38-byte part of a directory entry; the name and extra bytes follow it.
struct DirectoryEntry {
    uint32_t Reserved0;
    uint32_t StreamOffset;
    uint16_t Attributes;
    uint8_t ExtraLengthByte;
    uint8_t Flags;
    uint32_t MemberOffset;
    uint32_t MemberSize;
    uint32_t MemberCrc;
    uint16_t ExtraLengthWord;
    uint16_t NameLength;
    uint16_t CreateTime;
    uint16_t CreateDate;
    uint16_t WriteTime;
    uint16_t WriteDate;
    uint16_t Reserved36;
};
void ReadDirectoryEntry(const uint8_t* bytes, DirectoryEntry* entry);
void WriteDirectoryEntry(const DirectoryEntry& entry, uint8_t* bytes);  // 38 bytes

// Block header fields (the first 45 bits of every block).
struct BlockHeader {
    uint32_t BlockType;     // 0 stored, 1 compressed, 2..15 damaged
    uint32_t LastBlock;
    uint32_t DecodedSize;   // 0..1048575
    uint32_t BlockSize;     // bytes of the block in the file, header included
};
// Reads from the first 8 bytes of a block (6 suffice for all 45 bits).
void ReadBlockHeader(const uint8_t* bytes, BlockHeader* header);

// Calendar time, local, as the DOS date and time words of a directory entry hold it.
struct CivilTime {
    int Year, Month, Day, Hour, Minute, Second;
};
void DosToCivil(uint16_t date, uint16_t time, CivilTime* civil);
// Seconds are rounded down to even; years outside 1980..2107 are clamped to the range.
void CivilToDos(const CivilTime& civil, uint16_t* date, uint16_t* time);
