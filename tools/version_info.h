// Version information, the data of a version resource: a tree of nodes, each a 16-bit total
// length, a 16-bit value length, a 16-bit type (0 binary, 1 text), a zero-terminated UTF-16
// key, the value and the children, each of these three and every child starting at a
// multiple of 4 bytes from the resource's start. The root, keyed VS_VERSION_INFO, holds the
// fixed information (a VS_FIXEDFILEINFO: the file's and the product's versions as four
// 16-bit parts, the kind of file) and two children: StringFileInfo, whose table keyed by a
// language and a code page in hex holds the texts (CompanyName, ProductName, ...), and
// VarFileInfo, whose Translation lists that language and code page for readers to find
// the table by.
#pragma once

#include <stdint.h>

#include <string>
#include <utility>
#include <vector>

struct VersionInfo {
    uint16_t FileVersion[4] = {};
    uint16_t ProductVersion[4] = {};
    uint16_t Language = 0;   // of the string table
    uint16_t CodePage = 0;
    std::vector<std::pair<std::u16string, std::u16string>> Strings;   // key, text
};

// A version as the command line gives it, X.Y[.Z[.W]]: two to four decimal parts of at most
// 65535; the missing ones are 0. False, with why in error, for anything else.
bool ParseVersionNumber(const std::string& text, uint16_t parts[4], std::string* error);
// The parts as text, "1.2.0.0".
std::string VersionText(const uint16_t parts[4]);

// The data of the version resource of an application with info's versions and texts (empty
// texts are left out). Empty when it would be longer than a node can say (64 KiB).
std::vector<uint8_t> VersionResourceData(const VersionInfo& info);

// Reads data as version information: the fixed versions, and the texts of its first string
// table with that table's language and code page. False, with why in error, when data is not
// version information; every length is checked against the data and its parents.
bool ReadVersionResource(const uint8_t* data, uint32_t size, VersionInfo* info, std::string* error);

// UTF-16 as UTF-8 (an unpaired surrogate becomes U+FFFD).
std::string Utf16ToUtf8(const std::u16string& text);
