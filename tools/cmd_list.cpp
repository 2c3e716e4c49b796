// `qar list FILE`: one line per directory entry, then the totals.
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "archive/records.h"
#include "extract/user_interface.h"
#include "platform/errors.h"
#include "profile/state.h"
#include "tools/archive_file.h"
#include "tools/commands.h"
#include "tools/product_values.h"
#include "tools/sfx_image.h"

namespace {

const char kListUsage[] = "usage: qar list FILE\n";

std::string DateTime(uint16_t date, uint16_t time) {
    if (date == 0) return "-                  ";
    CivilTime t;
    DosToCivil(date, time, &t);
    char text[32];
    snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", t.Year, t.Month, t.Day, t.Hour,
             t.Minute, t.Second);
    return text;
}

std::string Attributes(uint16_t a) {
    std::string s = "----";
    if (a & 0x01) s[0] = 'R';
    if (a & 0x02) s[1] = 'H';
    if (a & 0x04) s[2] = 'S';
    if (a & 0x20) s[3] = 'A';
    return s;
}

const char* Filter(uint8_t flags) {
    if (flags & FlagFolder) return "-";
    if (flags & FlagCallFilter16) return "call16";
    if (flags & FlagCallFilter32) return "call32";
    return "none";
}

// The product values of an installer: read from its stub image, the first base bytes of the
// file. Texts are shown from code page 1252, the default of `qar sfx`.
void PrintProduct(const char* path, uint32_t base) {
    std::vector<uint8_t> image(base);
    FILE* f = fopen(path, "rb");
    bool read = f != nullptr && fread(image.data(), 1, base, f) == base;
    if (f != nullptr) fclose(f);
    ProductValues values;
    std::string error;
    if (!read || !StubProductValues(image, &values, &error)) {
        printf("product values: unreadable%s%s\n", error.empty() ? "" : ": ", error.c_str());
        return;
    }
    const char* arch = StubArchitecture(image);
    printf("%s installer\n", arch ? arch : "unknown");
    printf("  title: %s\n", FromCodePage(values.Title, 1252).c_str());
    printf("  folder: %s\n", FromCodePage(values.Folder, 1252).c_str());
    printf("  preferred folder: %s (when %s exists and the folder above does not)\n",
           FromCodePage(values.PreferredFolder, 1252).c_str(),
           FromCodePage(values.ProbeFolder, 1252).c_str());
    printf("  program: %s\n", values.Program.empty() ? "none" : FromCodePage(values.Program, 1252).c_str());
}

}  // namespace

int CmdList(int argc, char** argv) {
    if (argc != 2 || argv[1][0] == '-') {
        fputs(kListUsage, argc == 2 && !strcmp(argv[1], "--help") ? stdout : stderr);
        return argc == 2 && !strcmp(argv[1], "--help") ? 0 : 2;
    }
    ArchiveFileInfo info;
    if (!OpenArchiveForCore(argv[1], &info)) return 1;
    SetProgramName(argv[1]);
    if (!AllocateInput()) {
        ReportError(nullptr, ErrNoMemory, nullptr, false);
        CloseArchiveForCore();
        return 1;
    }
    printf("%s: %s, archive at offset %u, %u entries\n", argv[1],
           info.Installer ? "installer" : "archive", info.Base, State.Header.EntryCount);
    if (info.Installer) PrintProduct(argv[1], info.Base);
    printf("%12s  %-19s  %-4s  %-6s  %-6s  %s\n", "Size", "Modified", "Attr", "Kind", "Filter",
           "Name");
    uint64_t files = 0, folders = 0, bytes = 0;
    int32_t r = WalkDirectory([&](const DirectoryEntry& e, const std::string& name) {
        bool folder = (e.Flags & FlagFolder) != 0;
        std::string size = folder ? "" : std::to_string(e.MemberSize);
        printf("%12s  %s  %s  %-6s  %-6s  %s\n", size.c_str(),
               DateTime(e.WriteDate, e.WriteTime).c_str(), Attributes(e.Attributes).c_str(),
               folder ? "folder" : "file", Filter(e.Flags), PrintableName(name).c_str());
        if (folder) {
            ++folders;
        } else {
            ++files;
            bytes += e.MemberSize;
        }
        return true;
    });
    printf("%12llu  %llu files, %llu folders\n", (unsigned long long)bytes,
           (unsigned long long)files, (unsigned long long)folders);
    if (r != 0) ReportError(nullptr, r == ErrSilent ? ErrRead : r, nullptr, false);
    ReleaseInput();
    CloseArchiveForCore();
    return r == 0 ? 0 : 1;
}
