// The QAR container records. Each is read from and written to its bytes field by field in
// little-endian order; nothing here casts a byte pointer to a wider type. The records of the
// solid streams, which the decoder reads too, are in decode/stream_format.h.
#pragma once

#include <stdint.h>

#include "decode/stream_format.h"
#include "platform/bytes.h"

enum : uint32_t {
    kArchiveHeaderSize = 42,
    kDirectorySignatureSize = 6,
    kEntryFixedSize = 38,
    kDirectoryBlockMaxDecoded = 8192,
    kDirectoryBlockMaxBytes = 8184,
};

extern const uint8_t kArchiveMagic[4];        // "QAR\n"
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

// Calendar time, local, as the DOS date and time words of a directory entry hold it.
struct CivilTime {
    int Year, Month, Day, Hour, Minute, Second;
};
void DosToCivil(uint16_t date, uint16_t time, CivilTime* civil);
// Seconds are rounded down to even; years outside 1980..2107 are clamped to the range.
void CivilToDos(const CivilTime& civil, uint16_t* date, uint16_t* time);
