// The extraction loop behind the Extract command.
#pragma once

#include <stdint.h>

#include "extract/user_interface.h"

// Extracts every entry into the folder in Profile.DestinationFolder, building the paths in
// State.OutputPath. Returns 0 or a negative error code for the caller to report; errors of
// single entries are reported here.
int ExtractAll(WindowHandle dialog);

// What the last run did, entry by entry; the `qar` tool turns it into its exit status.
struct ExtractCounts {
    uint32_t Folders;     // folder entries made
    uint32_t Files;       // files written whose CRC-32 matched
    uint32_t Skipped;     // existing files kept because the user said No
    uint32_t LeftOut;     // entries not extracted: name too long, create failed and OK chosen
    uint32_t Failed;      // files that failed their CRC check or could not be written
};
extern ExtractCounts LastRunCounts;
