// QAR container records: byte-by-byte little-endian readers and writers and DOS date/time
// conversion.
#include "archive/records.h"

const uint8_t kArchiveMagic[4] = {'Q', 'A', 'R', '\n'};
const uint8_t kDirectorySignature[6] = {'Q', 'A', 'R', 'D', 'E', 0};

static void ZeroBytes(uint8_t* bytes, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i) bytes[i] = 0;
}

void ReadArchiveHeader(const uint8_t* bytes, ArchiveHeader* header) {
    for (int i = 0; i < 4; ++i) header->Magic[i] = bytes[i];
    header->DirectoryOffset = ReadLe32(bytes + 4);
    header->EntryCount = ReadLe32(bytes + 8);
    header->ArchiveSize = ReadLe32(bytes + 20);
    header->StreamsSize = ReadLe32(bytes + 24);
    header->ArchiverWord = ReadLe16(bytes + 40);
}

void WriteArchiveHeader(const ArchiveHeader& header, uint8_t* bytes) {
    ZeroBytes(bytes, kArchiveHeaderSize);
    for (int i = 0; i < 4; ++i) bytes[i] = header.Magic[i];
    WriteLe32(bytes + 4, header.DirectoryOffset);
    WriteLe32(bytes + 8, header.EntryCount);
    WriteLe32(bytes + 20, header.ArchiveSize);
    WriteLe32(bytes + 24, header.StreamsSize);
    WriteLe16(bytes + 40, header.ArchiverWord);
}

void ReadDirectoryEntry(const uint8_t* bytes, DirectoryEntry* entry) {
    entry->Reserved0 = ReadLe32(bytes);
    entry->StreamOffset = ReadLe32(bytes + 4);
    entry->Attributes = ReadLe16(bytes + 8);
    entry->ExtraLengthByte = bytes[10];
    entry->Flags = bytes[11];
    entry->MemberOffset = ReadLe32(bytes + 12);
    entry->MemberSize = ReadLe32(bytes + 16);
    entry->MemberCrc = ReadLe32(bytes + 20);
    entry->ExtraLengthWord = ReadLe16(bytes + 24);
    entry->NameLength = ReadLe16(bytes + 26);
    entry->CreateTime = ReadLe16(bytes + 28);
    entry->CreateDate = ReadLe16(bytes + 30);
    entry->WriteTime = ReadLe16(bytes + 32);
    entry->WriteDate = ReadLe16(bytes + 34);
    entry->Reserved36 = ReadLe16(bytes + 36);
}

void WriteDirectoryEntry(const DirectoryEntry& entry, uint8_t* bytes) {
    WriteLe32(bytes, entry.Reserved0);
    WriteLe32(bytes + 4, entry.StreamOffset);
    WriteLe16(bytes + 8, entry.Attributes);
    bytes[10] = entry.ExtraLengthByte;
    bytes[11] = entry.Flags;
    WriteLe32(bytes + 12, entry.MemberOffset);
    WriteLe32(bytes + 16, entry.MemberSize);
    WriteLe32(bytes + 20, entry.MemberCrc);
    WriteLe16(bytes + 24, entry.ExtraLengthWord);
    WriteLe16(bytes + 26, entry.NameLength);
    WriteLe16(bytes + 28, entry.CreateTime);
    WriteLe16(bytes + 30, entry.CreateDate);
    WriteLe16(bytes + 32, entry.WriteTime);
    WriteLe16(bytes + 34, entry.WriteDate);
    WriteLe16(bytes + 36, entry.Reserved36);
}

void DosToCivil(uint16_t date, uint16_t time, CivilTime* civil) {
    civil->Year = 1980 + (date >> 9);
    civil->Month = (date >> 5) & 0x0F;
    civil->Day = date & 0x1F;
    civil->Hour = time >> 11;
    civil->Minute = (time >> 5) & 0x3F;
    civil->Second = (time & 0x1F) * 2;
}

static int Clamp(int value, int low, int high) {
    return value < low ? low : (value > high ? high : value);
}

void CivilToDos(const CivilTime& civil, uint16_t* date, uint16_t* time) {
    CivilTime c = civil;
    // A moment outside the DOS range becomes its nearest end, not just its year clamped:
    // 1979-12-31 turns into 1980-01-01 00:00:00 rather than 1980-12-31.
    if (c.Year < 1980) {
        c = CivilTime{1980, 1, 1, 0, 0, 0};
    } else if (c.Year > 2107) {
        c = CivilTime{2107, 12, 31, 23, 59, 58};
    }
    int month = Clamp(c.Month, 1, 12);
    int day = Clamp(c.Day, 1, 31);
    int hour = Clamp(c.Hour, 0, 23);
    int minute = Clamp(c.Minute, 0, 59);
    int second = Clamp(c.Second, 0, 59);
    *date = (uint16_t)(((c.Year - 1980) << 9) | (month << 5) | day);
    *time = (uint16_t)((hour << 11) | (minute << 5) | (second / 2));
}
