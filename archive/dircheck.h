// Check values of the directory, kept in bytes that the installer never reads, so that a
// reader of the whole directory (`qar list | test | extract`) can tell a changed directory
// from an intact one, and name the entries that changed. The packer seals an archive with
// them; every reader verifies them through the functions below.
//
// Layout (all little-endian; the fields the installer reads are untouched):
//   header  12..15  CheckTag "qdc1": the archive carries the check values below
//           16..17  NameCodePage: the code page the entry names were written in
//           18..19  zero
//           28..31  DirectoryCrc: CRC-32 of the decoded directory, the EntryCount entries
//                   in order, each as it lies in the directory (fixed bytes, name, extra bytes)
//           32..35  HeaderCrc: CRC-32 of the 42 header bytes with these four taken as zero;
//                   it covers DirectoryOffset, EntryCount and every other header byte
//           36..39  zero
//   entry    0..3   EntryCrc: CRC-32 of the entry's index (4 bytes, counted from 0) followed
//                   by the entry's bytes with these four taken as zero; an entry moved,
//                   dropped or repeated fails it as surely as a changed one
//           36..37  zero
// The checks are present only when both the tag and HeaderCrc hold: the reserved bytes of
// an archive from another writer, whatever they hold, pass both with probability 2^-64.
// When one holds and the other does not, the header is damaged: a flipped bit in our own
// header (say in EntryCount) may not make the archive pass as one without checks.
#pragma once

#include <stdint.h>

#include "archive/records.h"

enum : uint32_t {
    kCheckTagOffset = 12,
    kCheckCodePageOffset = 16,
    kCheckDirectoryCrcOffset = 28,
    kCheckHeaderCrcOffset = 32,
    kEntryCrcOffset = 0,
};

extern const uint8_t kCheckTag[4];   // "qdc1"

enum HeaderCheck : int {
    kHeaderUnchecked = 0,   // no check values (an older archive, or another writer's)
    kHeaderChecked = 1,     // the check values are present and the header is intact
    kHeaderDamaged = 2,     // the header carries the checks, but they do not hold
};

// The checks of a header as ReadHeaderCheck found them.
struct HeaderChecks {
    HeaderCheck Status;
    uint16_t NameCodePage;    // valid when Status is kHeaderChecked
    uint32_t DirectoryCrc;
};

// The packer's side. entry spans the entry's bytes (fixed part, name, extra bytes) in the
// decoded directory; SealEntry writes its EntryCrc. SealHeader writes the tag, code page,
// directory CRC and the header's own CRC into a header written by WriteArchiveHeader.
uint32_t EntryCheckValue(uint32_t index, const uint8_t* entry, uint32_t size);
void SealEntry(uint32_t index, uint8_t* entry, uint32_t size);
void SealHeader(uint8_t header[kArchiveHeaderSize], uint16_t nameCodePage, uint32_t directoryCrc);

// The reader's side.
void ReadHeaderCheck(const uint8_t header[kArchiveHeaderSize], HeaderChecks* checks);

// Verification of a directory entry by entry as a walk meets them.
struct DirectoryCheck {
    uint32_t Index;        // the next entry's index
    uint32_t RunningCrc;   // of the entries so far, neither preset nor inverted
};
void StartDirectoryCheck(DirectoryCheck* check);
// Adds the entry (its bytes as SealEntry took them) to the directory's CRC; true when its
// own EntryCrc holds.
bool CheckDirectoryEntry(DirectoryCheck* check, const uint8_t* entry, uint32_t size);
// True when the entries checked add up to the DirectoryCrc of the header.
bool FinishDirectoryCheck(const DirectoryCheck& check, const HeaderChecks& header);

// The whole directory's CRC of a decoded directory that holds exactly its entries.
uint32_t DirectoryCheckValue(const uint8_t* directory, uint32_t size);
