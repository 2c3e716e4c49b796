// Agreement between `qar` and the installer on where the archive behind a stub begins: for
// any file, the offset that qar's locate code reports (InstallerArchiveBase) is the one the
// stub's own check (CheckedArchiveBase) computes from the profile address the section table
// gives, or both refuse.
//
// The stub is modelled by what it has at start-up: its profile in memory is the file's at an
// occurrence of the anchor, which the loader brought there from a section whose file bytes
// hold it; its address is that section's address for it. It reads as many bytes of its file
// as that profile's StubSize says and checks them. Every such address of every occurrence is
// tried. First every profile of the input gets its integrity words sealed over its image, as
// a tamperer would do, so that where the profiles lie decides, not a broken CRC.
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "archive/records.h"
#include "decode/crc32.h"
#include "fuzz/support/fuzz_archive.h"
#include "profile/profile.h"
#include "startup/integrity.h"
#include "tools/installer_image.h"

namespace {

// The profiles considered: the first few occurrences of the anchor.
const int kMostProfiles = 8;

std::vector<uint32_t> Profiles(const std::vector<uint8_t>& file) {
    std::vector<uint32_t> found;
    for (long at = FindAnchor(file.data(), file.size());
         at >= 0 && (int)found.size() < kMostProfiles; at = FindAnchor(file.data(), file.size(), (size_t)at + 1)) {
        if (at >= (long)kProfileAnchorOffset && (size_t)at - kProfileAnchorOffset + kProfileSize <= file.size())
            found.push_back((uint32_t)at - kProfileAnchorOffset);
    }
    return found;
}

void Seal(std::vector<uint8_t>* file, uint32_t at) {
    const uint32_t stubSize = ReadLe32(&(*file)[at + kProfileStubSizeOffset]);
    if (stubSize > file->size() || stubSize < at + kProfileSize) return;
    std::vector<uint8_t> image(file->begin(), file->begin() + stubSize);
    uint32_t words[2];
    ComputeIntegrityWords(image.data(), stubSize, at, words);
    WriteLe32(&(*file)[at + kProfileIntegrityOffset], words[0]);
    WriteLe32(&(*file)[at + kProfileIntegrityOffset + 4], words[1]);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool ready = (BuildCrcTable(), true);
    (void)ready;
    if (size == 0 || size > 0x7FFFFFFFu) return 0;
    std::vector<uint8_t> file(data, data + size);
    const std::vector<uint32_t> profiles = Profiles(file);
    for (uint32_t at : profiles) Seal(&file, at);

    FILE* f = fmemopen(file.data(), file.size(), "rb");
    FuzzCheck(f != nullptr, "fmemopen");
    uint32_t qarBase = 0;
    std::string error;
    const bool qarFound = InstallerArchiveBase(f, "input", file.size(), &qarBase, &error);
    fclose(f);
    FuzzCheck(qarFound || !error.empty(), "a refusal is explained");

    // The stub, for every profile and every address the section table gives it.
    const uint32_t n = (uint32_t)file.size();
    const uint32_t pe = FindPeHeader(file.data(), n);
    uint32_t sections = 0;
    const uint32_t table = pe ? PeSectionTable(file.data(), pe, &sections) : 0;
    bool witnessed = false;
    for (uint32_t at : profiles) {
        const uint32_t stubSize = ReadLe32(&file[at + kProfileStubSizeOffset]);
        if (stubSize > n) continue;   // the stub cannot read its image: it refuses
        PeSection s;
        for (uint32_t i = 0; i < sections && i < kPeMostSections &&
                             ReadPeSection(file.data(), n, table + i * kPeSectionEntrySize, &s); ++i) {
            if (at - s.RawOffset >= s.RawSize) continue;
            const uint32_t rva = s.Address + (at - s.RawOffset);
            std::vector<uint8_t> image(file.begin(), file.begin() + stubSize);
            // Where the stub's rule puts the profile must be where the loader took it from;
            // otherwise this address does not belong to this profile.
            if (LocateImageProfile(image.data(), stubSize, rva) != (int32_t)at) continue;
            const uint32_t base = CheckedArchiveBase(image.data(), stubSize, rva);
            if (base == 0) continue;
            FuzzCheck(qarFound, "qar finds the archive that the stub accepts");
            FuzzCheck(qarBase == base, "qar finds the archive where the stub does");
            witnessed = true;
        }
    }
    FuzzCheck(!qarFound || witnessed, "qar finds an archive only where a stub would");
    return 0;
}
