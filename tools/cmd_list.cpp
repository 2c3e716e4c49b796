// `qar list [--json] FILE`: one line per directory entry, then the totals; or one JSON
// object per line and entry.
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "archive/records.h"
#include "extract/user_interface.h"
#include "platform/errors.h"
#include "profile/state.h"
#include "tools/archive_session.h"
#include "tools/commands.h"
#include "tools/directory_review.h"
#include "tools/entry_names.h"
#include "tools/installer_resources.h"
#include "tools/options.h"
#include "tools/product_values.h"
#include "tools/sfx_image.h"

namespace {

const char kListUsage[] =
    "usage: qar list [--json] [--codepage N] [--max-entries N] FILE\n"
    "  --json           one JSON object per line and entry: name, kind, size, modified,\n"
    "                   created, attributes, crc, filter, stream, offset (no other lines);\n"
    "                   an installer's first line has kind \"installer\": arch, offset,\n"
    "                   title, folder, preferred_folder, probe_folder, program (null: none),\n"
    "                   icon (true or false), version (null, or file_version,\n"
    "                   product_version and strings: CompanyName, ProductName, ...)\n"
    "  --codepage N     the code page of the names in the archive (default: the one the\n"
    "                   archive records, else 1252)\n"
    "  --max-entries N  refuse an archive that declares more than N entries (default 1000000)\n"
    "Names are shown in UTF-8 with '/' between folders. The directory's check values (when\n"
    "the archive has them) are verified, and names that extract refuses or that name one file\n"
    "twice are damage. Exit status: 0 the whole directory was read and is sound, 1 damage,\n"
    "2 usage error.\n";

// The local time of a date and time word pair; "" when none is stored. separator stands
// between the date and the time.
std::string DateTime(uint16_t date, uint16_t time, char separator = ' ') {
    if (date == 0) return "";
    CivilTime t;
    DosToCivil(date, time, &t);
    char text[32];
    snprintf(text, sizeof text, "%04d-%02d-%02d%c%02d:%02d:%02d", t.Year, t.Month, t.Day,
             separator, t.Hour, t.Minute, t.Second);
    return text;
}

const char* Filter(uint8_t flags);

// text as a JSON string: quotes, backslashes and control characters escaped. The text is
// UTF-8 already (names come through ShownName's conversion, without its escapes).
std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += (char)c;
        } else if (c < 0x20 || c == 0x7F) {
            char escaped[8];
            snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out += (char)c;
        }
    }
    return out + "\"";
}

std::string JsonTime(uint16_t date, uint16_t time) {
    std::string t = DateTime(date, time, 'T');
    return t.empty() ? "null" : JsonString(t);
}

void PrintJson(const DirectoryEntry& e, const std::string& name) {
    bool folder = (e.Flags & FlagFolder) != 0;
    printf("{\"name\":%s,\"kind\":\"%s\",\"size\":%u,\"modified\":%s,\"created\":%s,"
           "\"attributes\":%u,\"crc\":",
           JsonString(NameInUtf8(name)).c_str(), folder ? "folder" : "file",
           folder ? 0u : e.MemberSize, JsonTime(e.WriteDate, e.WriteTime).c_str(),
           JsonTime(e.CreateDate, e.CreateTime).c_str(), e.Attributes);
    if (folder) {
        printf("null,\"filter\":null,\"stream\":null,\"offset\":null}\n");
    } else {
        printf("\"%08x\",\"filter\":\"%s\",\"stream\":%u,\"offset\":%u}\n", e.MemberCrc,
               Filter(e.Flags), e.StreamOffset, e.MemberOffset);
    }
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
    if (flags & FlagFolder) return "";
    if (flags & FlagCallFilter16) return "call16";
    if (flags & FlagCallFilter32) return "call32";
    return "none";
}

// The product values of an installer: read from its stub image, the first base bytes of the
// file, which locating the archive has already read and checked (and bounded by the file's
// size and 2 GB). False with the reason in error. arch is "x86", "x64" or null. image
// receives the stub image, empty when it could not be read.
bool ReadProduct(const char* path, uint32_t base, ProductValues* values, const char** arch,
                 std::string* error, std::vector<uint8_t>* image) {
    image->resize(base);
    FILE* f = fopen(path, "rb");
    bool read = f != nullptr && fread(image->data(), 1, base, f) == base;
    if (f != nullptr) fclose(f);
    if (!read) image->clear();
    if (!read || !StubProductValues(*image, values, error)) return false;
    *arch = StubArchitecture(*image);
    return true;
}

// The texts of version information as UTF-8, escaped for the terminal.
std::string ShownText(const std::u16string& text) { return PrintableName(Utf16ToUtf8(text)); }

// The icon and the version information, as lines below the product values.
void PrintResources(const std::vector<uint8_t>& image) {
    InstallerResources found;
    std::string error;
    if (!ReadInstallerResources(image, &found, &error)) {
        printf("  icon and version information: unreadable: %s\n", PrintableName(error).c_str());
        return;
    }
    printf("  icon: %s\n", found.Icon ? "yes" : "none");
    if (!found.HasVersion) {
        printf("  version information: none\n");
        return;
    }
    printf("  file version: %s\n", VersionText(found.Version.FileVersion).c_str());
    printf("  product version: %s\n", VersionText(found.Version.ProductVersion).c_str());
    for (const auto& s : found.Version.Strings) {
        printf("  %s: %s\n", ShownText(s.first).c_str(), ShownText(s.second).c_str());
    }
}

// The same as members of the installer's JSON line: "icon" and "version", both null when the
// resources cannot be read.
std::string ResourcesJson(const std::vector<uint8_t>& image) {
    InstallerResources found;
    std::string error;
    if (!ReadInstallerResources(image, &found, &error)) {
        return ",\"icon\":null,\"version\":null,\"resources_error\":" + JsonString(error);
    }
    std::string json = std::string(",\"icon\":") + (found.Icon ? "true" : "false") + ",\"version\":";
    if (!found.HasVersion) return json + "null";
    json += "{\"file_version\":" + JsonString(VersionText(found.Version.FileVersion)) +
            ",\"product_version\":" + JsonString(VersionText(found.Version.ProductVersion)) +
            ",\"strings\":{";
    for (size_t i = 0; i < found.Version.Strings.size(); ++i) {
        const auto& s = found.Version.Strings[i];
        json += (i ? "," : "") + JsonString(Utf16ToUtf8(s.first)) + ":" + JsonString(Utf16ToUtf8(s.second));
    }
    return json + "}}";
}

// A product value as UTF-8 from the code page of --codepage (that of the archive's names, in
// which `qar sfx` writes the values too), its backslashes kept.
std::string ProductText(const std::string& text) { return FromCodePage(text, NameCodePage()); }

// The product values as lines above the entries, escaped like names: a title or a program
// with escape sequences must not rewrite what the terminal shows.
void PrintProduct(const char* path, uint32_t base) {
    ProductValues values;
    const char* arch = nullptr;
    std::string error;
    std::vector<uint8_t> image;
    if (!ReadProduct(path, base, &values, &arch, &error, &image)) {
        printf("product values: unreadable%s%s\n", error.empty() ? "" : ": ",
               PrintableName(error).c_str());
        return;
    }
    auto shown = [](const std::string& text) { return PrintableName(ProductText(text)); };
    printf("%s installer\n", arch ? arch : "unknown");
    printf("  title: %s\n", shown(values.Title).c_str());
    printf("  folder: %s\n", shown(values.Folder).c_str());
    printf("  preferred folder: %s (when %s exists and the folder above does not)\n",
           shown(values.PreferredFolder).c_str(), shown(values.ProbeFolder).c_str());
    printf("  program: %s\n", values.Program.empty() ? "none" : shown(values.Program).c_str());
    PrintResources(image);
}

// The product values as the first JSON line of an installer's listing: kind "installer",
// its architecture and archive offset, and the values (program null: none is started), or
// null values and the reason they could not be read.
void PrintProductJson(const char* path, uint32_t base) {
    ProductValues values;
    const char* arch = nullptr;
    std::string error;
    std::vector<uint8_t> image;
    bool read = ReadProduct(path, base, &values, &arch, &error, &image);
    printf("{\"kind\":\"installer\",\"arch\":%s,\"offset\":%u,", arch ? JsonString(arch).c_str() : "null",
           base);
    auto json = [&](const std::string& text) {
        return read ? JsonString(ProductText(text)) : std::string("null");
    };
    printf("\"title\":%s,\"folder\":%s,\"preferred_folder\":%s,\"probe_folder\":%s,\"program\":%s",
           json(values.Title).c_str(), json(values.Folder).c_str(),
           json(values.PreferredFolder).c_str(), json(values.ProbeFolder).c_str(),
           values.Program.empty() ? "null" : json(values.Program).c_str());
    if (!read) printf(",\"error\":%s", JsonString(error).c_str());
    printf("%s}\n", ResourcesJson(image).c_str());
}

}  // namespace

int CmdList(int argc, char** argv) {
    bool json = false;
    int codePage = 0;
    uint64_t maxEntries = kDefaultMaxEntries;
    const CommandLine line{"list", kListUsage,
                           {FlagOption("--json", &json), CodePageOption(&codePage),
                            SizeOption("--max-entries", &maxEntries)},
                           1};
    std::vector<std::string> operands;
    if (auto status = ParseCommandLine(line, argc, argv, &operands)) return *status;
    if (operands.empty()) return UsageError("list", "no archive given");
    const char* file = operands[0].c_str();
    ArchiveFileInfo info;
    ArchiveSession session;
    if (!session.Open("list", file, &info)) return kExitFailure;
    SetProgramName(file);
    // Damage the review finds is told first, on standard error; the listing follows.
    DirectoryReview review;
    const bool sound = ReviewDirectory("list", file, info, codePage, maxEntries, &review);
    if (review.TooMany || review.Checks.Status == kHeaderDamaged) return kExitFailure;
    const uint32_t total = State.Header.EntryCount;
    if (!json) {
        printf("%s: %s, archive at offset %u, %u %s\n", file,
               info.Installer ? "installer" : "archive", info.Base, total,
               total == 1 ? "entry" : "entries");
        if (info.Installer) PrintProduct(file, info.Base);
        if (total == 0) printf("Archive contains no files\n");
    } else if (info.Installer) {
        PrintProductJson(file, info.Base);
    }
    if (!json && total != 0) {
        printf("%12s  %-19s  %-4s  %-6s  %-6s  %-8s  %s\n", "Size", "Modified", "Attr", "Kind",
               "Filter", "CRC", "Name");
    }
    uint64_t files = 0, folders = 0, bytes = 0;
    int32_t r = WalkReviewed(review, [&](const DirectoryEntry& e, const std::string& name) {
        bool folder = (e.Flags & FlagFolder) != 0;
        if (json) {
            PrintJson(e, name);
        } else {
            std::string size = folder ? "" : std::to_string(e.MemberSize);
            char crc[9] = "";
            if (!folder) snprintf(crc, sizeof crc, "%08x", e.MemberCrc);
            printf("%12s  %-19s  %s  %-6s  %-6s  %-8s  %s\n", size.c_str(),
                   DateTime(e.WriteDate, e.WriteTime).c_str(), Attributes(e.Attributes).c_str(),
                   folder ? "folder" : "file", Filter(e.Flags), crc, ShownName(name).c_str());
        }
        if (folder) {
            ++folders;
        } else {
            ++files;
            bytes += e.MemberSize;
        }
        return true;
    });
    const uint64_t listed = files + folders;
    if (!json && total != 0) {
        printf("%12llu  %llu %s, %llu %s", (unsigned long long)bytes, (unsigned long long)files,
               files == 1 ? "file" : "files", (unsigned long long)folders,
               folders == 1 ? "folder" : "folders");
        if (listed < total) {
            printf(" (%llu of %u entries listed, %llu not reached)",
                   (unsigned long long)listed, total, (unsigned long long)(total - listed));
        }
        printf("\n");
    }
    if (r != 0) ReportError(nullptr, r == ErrSilent ? ErrRead : r, nullptr, false);
    return r == 0 && sound ? kExitSuccess : kExitFailure;
}
