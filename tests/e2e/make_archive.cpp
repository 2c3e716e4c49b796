// Writes the archives of the end-to-end tests that `qar pack` cannot make from a Linux
// tree: members with the hidden and system attributes and chosen time stamps, and an
// archive without entries; and installers re-laid around a decoy profile.
//
//   make_archive attributes OUT.qar    folder "flags" with one file per attribute mix
//   make_archive empty OUT.qar         a valid archive with no entries
//   make_archive decoy-cut SETUP.exe BENIGN.qar OUT.exe
//                                      SETUP.exe with its profile's section cut one byte
//                                      short and a decoy profile naming BENIGN.qar behind
//                                      it (tests/support/decoy_installer.h)
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "decode/crc32.h"
#include "pack/container.h"
#include "tests/support/archive_builder.h"
#include "tests/support/decoy_installer.h"

namespace {

SourceEntry File(const std::string& name, const std::string& text, uint16_t attributes) {
    SourceEntry e;
    e.Name = name;
    e.HasData = true;
    e.Data.assign(text.begin(), text.end());
    e.Size = e.Data.size();
    e.Attributes = attributes;
    // 2021-06-15 10:20:30 written, 2020-02-29 08:00:00 created (local time).
    e.WriteDate = (uint16_t)(((2021 - 1980) << 9) | (6 << 5) | 15);
    e.WriteTime = (uint16_t)((10 << 11) | (20 << 5) | (30 / 2));
    e.CreateDate = (uint16_t)(((2020 - 1980) << 9) | (2 << 5) | 29);
    e.CreateTime = (uint16_t)(8 << 11);
    return e;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 5 && !strcmp(argv[1], "decoy-cut")) {
        BuildCrcTable();
        const qartest::Bytes installer = qartest::ReadWholeFile(argv[2]);
        const qartest::Bytes benign = qartest::ReadWholeFile(argv[3]);
        qartest::WriteWholeFile(argv[4], qartest::CutSectionDecoy(installer, benign));
        return 0;
    }
    if (argc != 3) {
        fputs("usage: make_archive attributes|empty OUT.qar | decoy-cut SETUP.exe BENIGN.qar OUT.exe\n",
              stderr);
        return 2;
    }
    std::vector<SourceEntry> entries;
    if (!strcmp(argv[1], "attributes")) {
        SourceEntry folder;
        folder.Name = "flags";
        folder.IsFolder = true;
        folder.Attributes = 0x10;
        entries.push_back(folder);
        entries.push_back(File("flags\\plain.txt", "plain\n", 0x20));
        entries.push_back(File("flags\\readonly.txt", "read-only\n", 0x21));
        entries.push_back(File("flags\\hidden.txt", "hidden\n", 0x22));
        entries.push_back(File("flags\\system.txt", "system\n", 0x24));
        entries.push_back(File("flags\\all.txt", "all three\n", 0x27));
        entries.push_back(File("flags\\empty.txt", "", 0x20));
    } else if (strcmp(argv[1], "empty") != 0) {
        fprintf(stderr, "make_archive: unknown kind %s\n", argv[1]);
        return 2;
    }
    try {
        std::vector<uint8_t> archive = BuildArchive(entries, PackOptions());
        FILE* out = fopen(argv[2], "wb");
        if (!out || fwrite(archive.data(), 1, archive.size(), out) != archive.size() || fclose(out)) {
            fprintf(stderr, "make_archive: cannot write %s\n", argv[2]);
            return 1;
        }
    } catch (const PackError& e) {
        fprintf(stderr, "make_archive: %s\n", e.what());
        return 1;
    }
    return 0;
}
