// Reads the archive's directory one block at a time into the EntryBuffer, and walks its
// entries: the one walk that the extraction loop, the `qar` tool, the benchmark and the tests
// share.
#pragma once

#include <stdint.h>

#include "archive/records.h"

// Reads and decodes the next DirectoryBlock into entryBuffer (EntryCursor and EntryEnd span
// its entries). 0 or a negative error code.
int32_t ReadDirectoryBlock(uint8_t* entryBuffer);

// Starts a walk of the directory that begins at the file position directory (ArchiveBase +
// DirectoryOffset): the EntryBuffer is empty, and the first block is read from there.
void StartDirectoryWalk(uint8_t* entryBuffer, int32_t directory);

// The next entry of the walk: refills entryBuffer block by block when fewer than the entry's
// fixed bytes remain, reads the entry, points *name at its NameLength name bytes (inside
// entryBuffer, valid until the next call) and steps past the name and the extra bytes. 0, or
// ErrDamaged when the entry, its name or its extra bytes run past the decoded block, or the
// error of ReadDirectoryBlock.
int32_t NextDirectoryEntry(uint8_t* entryBuffer, DirectoryEntry* entry, const uint8_t** name);
