// The directory's check values: computed by the packer, verified by every reader of the
// whole directory. Layout and meaning: archive/dircheck.h.
#include "archive/dircheck.h"

#include "decode/crc32.h"
#include "platform/bytes.h"
#include "profile/state.h"

const uint8_t kCheckTag[4] = {'q', 'd', 'c', '1'};

namespace {

void EnsureTable() {
    if (State.CrcTable[1] == 0) BuildCrcTable();
}

// CRC-32 of header with HeaderCrc taken as zero.
uint32_t HeaderCheckValue(const uint8_t* header) {
    EnsureTable();
    const uint8_t zero[4] = {0, 0, 0, 0};
    uint32_t crc = Crc32(header, kCheckHeaderCrcOffset, 0xFFFFFFFFu);
    crc = Crc32(zero, 4, crc);
    crc = Crc32(header + kCheckHeaderCrcOffset + 4, kArchiveHeaderSize - kCheckHeaderCrcOffset - 4, crc);
    return ~crc;
}

bool TagHolds(const uint8_t* header) {
    for (int i = 0; i < 4; ++i) {
        if (header[kCheckTagOffset + i] != kCheckTag[i]) return false;
    }
    return true;
}

}  // namespace

uint32_t EntryCheckValue(uint32_t index, const uint8_t* entry, uint32_t size) {
    EnsureTable();
    uint8_t start[8];
    WriteLe32(start, index);
    WriteLe32(start + 4, 0);   // the EntryCrc field itself
    uint32_t crc = Crc32(start, 8, 0xFFFFFFFFu);
    crc = Crc32(entry + 4, size - 4, crc);
    return ~crc;
}

void SealEntry(uint32_t index, uint8_t* entry, uint32_t size) {
    WriteLe32(entry + kEntryCrcOffset, EntryCheckValue(index, entry, size));
}

void SealHeader(uint8_t header[kArchiveHeaderSize], uint16_t nameCodePage, uint32_t directoryCrc) {
    for (int i = 0; i < 4; ++i) header[kCheckTagOffset + i] = kCheckTag[i];
    WriteLe16(header + kCheckCodePageOffset, nameCodePage);
    WriteLe32(header + kCheckDirectoryCrcOffset, directoryCrc);
    WriteLe32(header + kCheckHeaderCrcOffset, HeaderCheckValue(header));
}

void ReadHeaderCheck(const uint8_t header[kArchiveHeaderSize], HeaderChecks* checks) {
    // The tag put back in place, so that a changed tag still shows as damage when the rest
    // of the header adds up to its CRC.
    uint8_t copy[kArchiveHeaderSize];
    for (uint32_t i = 0; i < kArchiveHeaderSize; ++i) copy[i] = header[i];
    for (int i = 0; i < 4; ++i) copy[kCheckTagOffset + i] = kCheckTag[i];
    const bool tag = TagHolds(header);
    const bool crc = HeaderCheckValue(copy) == ReadLe32(header + kCheckHeaderCrcOffset);
    checks->Status = tag && crc ? kHeaderChecked : (tag || crc) ? kHeaderDamaged : kHeaderUnchecked;
    checks->NameCodePage = ReadLe16(header + kCheckCodePageOffset);
    checks->DirectoryCrc = ReadLe32(header + kCheckDirectoryCrcOffset);
}

void StartDirectoryCheck(DirectoryCheck* check) {
    EnsureTable();
    check->Index = 0;
    check->RunningCrc = 0xFFFFFFFFu;
}

bool CheckDirectoryEntry(DirectoryCheck* check, const uint8_t* entry, uint32_t size) {
    const bool holds = EntryCheckValue(check->Index, entry, size) == ReadLe32(entry + kEntryCrcOffset);
    check->RunningCrc = Crc32(entry, size, check->RunningCrc);
    ++check->Index;
    return holds;
}

bool FinishDirectoryCheck(const DirectoryCheck& check, const HeaderChecks& header) {
    return ~check.RunningCrc == header.DirectoryCrc;
}

uint32_t DirectoryCheckValue(const uint8_t* directory, uint32_t size) {
    EnsureTable();
    return ~Crc32(directory, size, 0xFFFFFFFFu);
}
