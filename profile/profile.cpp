#include "profile/profile.h"

// The shipped profile. `qar sfx` patches StubSize and IntegrityWords in the copy of the stub
// that it writes in front of an archive.
InstallProfile Profile = {
    {0},                              // LocalHeaderScratch
    0,
    18944,                            // StubSize
    {0, 0},                           // IntegrityWords
    0,                                // CancelRequested
    1,                                // OverwriteWithoutPrompt
    1,                                // UseShortNames
    0,                                // ArchiveBase
    {42, 14, 28},                     // DistanceAlphabetSizes
    {288, 330, 344},                  // DistanceLengthOffsets
    {'Q', 'A', 'R', 'D', 'E', 0},     // DirectorySignature
    {0, 0},                           // ProductBlockSize: none
    {
        {0x8000, 0x10000, 0x12000, 0x18000, 0x1E000, 0x24000, 0x2A000, 0x30000},
        {0x8000, 0x10000, 0x12000, 0x18000, 0x1E000, 0x24000, 0x2A000, 0x30000},
        {0x8000, 0x20000, 0x30000, 0x40000, 0x50000, 0x60000, 0x70000, 0x80000},
    },
    "Tavlore Installation",           // Title
    "C:\\Program Files",              // ProbeFolder
    "C:\\Program Files\\Tavlore",     // PreferredFolder
    "C:\\Tavlore",                    // DestinationFolder
};
