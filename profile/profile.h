// The installation profile: the compiled-in record that makes one installer differ from
// another, carries the decoder constants and holds the few run-time flags shared by the
// dialogs, the extraction loop and the decoders. Its layout is fixed byte for byte because
// `qar sfx` finds it inside a built stub and patches StubSize and the integrity words.
#pragma once

#include <stddef.h>
#include <stdint.h>

#pragma pack(push, 1)
struct InstallProfile {
    uint8_t LocalHeaderScratch[11];    // fixed part of the member's local header being gathered
    uint8_t Unused11;
    uint32_t StubSize;                 // bytes of executable image in front of the archive
    uint32_t IntegrityWords[2];        // written by `qar sfx`, checked by VerifyOwnImage
    uint8_t CancelRequested;
    uint8_t OverwriteWithoutPrompt;
    uint8_t UseShortNames;
    uint32_t ArchiveBase;              // file offset of the archive once the image checked out
    uint32_t DistanceAlphabetSizes[3];
    uint32_t DistanceLengthOffsets[3];
    char DirectorySignature[6];
    uint8_t ProductBlockSize[2];       // little-endian; 0: no product block (profile/product.h)
    uint32_t WindowSizes[3][8];
    char Title[21];
    char ProbeFolder[17];
    char PreferredFolder[25];
    char DestinationFolder[261];
};
#pragma pack(pop)

static_assert(offsetof(InstallProfile, LocalHeaderScratch) == 0, "profile layout");
static_assert(offsetof(InstallProfile, StubSize) == 12, "profile layout");
static_assert(offsetof(InstallProfile, IntegrityWords) == 16, "profile layout");
static_assert(offsetof(InstallProfile, CancelRequested) == 24, "profile layout");
static_assert(offsetof(InstallProfile, OverwriteWithoutPrompt) == 25, "profile layout");
static_assert(offsetof(InstallProfile, UseShortNames) == 26, "profile layout");
static_assert(offsetof(InstallProfile, ArchiveBase) == 27, "profile layout");
static_assert(offsetof(InstallProfile, DistanceAlphabetSizes) == 31, "profile layout");
static_assert(offsetof(InstallProfile, DistanceLengthOffsets) == 43, "profile layout");
static_assert(offsetof(InstallProfile, DirectorySignature) == 55, "profile layout");
static_assert(offsetof(InstallProfile, WindowSizes) == 63, "profile layout");
static_assert(offsetof(InstallProfile, Title) == 159, "profile layout");
static_assert(offsetof(InstallProfile, ProbeFolder) == 180, "profile layout");
static_assert(offsetof(InstallProfile, PreferredFolder) == 197, "profile layout");
static_assert(offsetof(InstallProfile, DestinationFolder) == 222, "profile layout");
static_assert(sizeof(InstallProfile) == 483, "profile layout");

// Offsets used by tools that patch or read a profile inside a built stub image.
enum : uint32_t {
    kProfileStubSizeOffset = 12,
    kProfileIntegrityOffset = 16,
    kProfileSize = 483,
    // Bytes 31..61 (alphabet sizes, length offsets, directory signature) are constant and
    // distinctive; tools search a stub image for them to find the profile.
    kProfileAnchorOffset = 31,
    kProfileAnchorSize = 30,
};

extern InstallProfile Profile;
