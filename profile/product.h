// The product's own values: the title of the dialogs and message boxes, the candidate
// destination folders and the program started when a run ends. The shipped profile holds
// them in its fixed fields (Title, ProbeFolder, PreferredFolder, DestinationFolder) and
// ProgramToRun is "tavlore.exe". `qar sfx` writes another product's values into its copy of
// the stub: the fallback folder into DestinationFolder (room for any path), the others into
// the fixed fields when they fit there and the program is the default one, otherwise into a
// product block that it appends to the stub, inside the image that the integrity check
// covers. Layout (docs/product-values.md):
//
//   profile offset 61, 2 bytes: the block's size, little-endian; 0 when there is none
//   the block: the last kProductBlockSize bytes of the image, four fixed slots, each a
//   zero-terminated text padded with zeros:
//     Title (kTitleSlot), ProbeFolder (kFolderSlot), PreferredFolder (kFolderSlot),
//     ProgramToRun (kFolderSlot; empty: start nothing)
#pragma once

#include <stdint.h>

enum : uint32_t {
    kProfileProductBlockOffset = 61,
    kTitleSlot = 128,
    kFolderSlot = 260,
    kProductBlockSize = kTitleSlot + 3 * kFolderSlot,
    kProbeSlotOffset = kTitleSlot,
    kPreferredSlotOffset = kTitleSlot + kFolderSlot,
    kProgramSlotOffset = kTitleSlot + 2 * kFolderSlot,
};

struct ProductTexts {
    const char* Title;
    const char* ProbeFolder;
    const char* PreferredFolder;
    const char* ProgramToRun;   // relative to the destination; empty: nothing is started
};

// The values in use: the profile's fields and kDefaultProgramToRun until UseProductBlock.
extern ProductTexts Product;
extern const char kDefaultProgramToRun[];   // "tavlore.exe"

// Takes the product's values from a product block (kProductBlockSize bytes, the end of the
// image that passed the integrity check): copies it and points Product into the copy. Every
// text of the copy ends inside it, whatever the block holds.
void UseProductBlock(const uint8_t* block);
