#include "tools/entry_names.h"

#include <stdio.h>
#include <string.h>

#include "extract/paths.h"
#include "platform/fs_posix.h"
#include "text/code_pages.h"

namespace {

bool IsControl(unsigned char c) { return c < 0x20 || c == 0x7F; }

// text with its control characters escaped; most names have none and are returned as they
// are, without a copy.
std::string Printable(std::string text) {
    size_t i = 0;
    while (i < text.size() && !IsControl((unsigned char)text[i])) ++i;
    if (i == text.size()) return text;
    std::string out(text, 0, i);
    for (; i < text.size(); ++i) {
        const unsigned char c = (unsigned char)text[i];
        if (IsControl(c)) {
            char escaped[5];
            snprintf(escaped, sizeof escaped, "\\x%02X", c);
            out += escaped;
        } else {
            out += (char)c;
        }
    }
    return out;
}

}  // namespace

std::string PrintableName(const std::string& name) { return Printable(name); }

namespace {

int TheNameCodePage = 1252;

// The file-system layer's converter for the names it creates beneath the destination.
bool DecodeEntryName(const char* name, char* out, uint32_t room) {
    std::string text = FromCodePage(name, TheNameCodePage);
    if (text.size() >= room) return false;
    memcpy(out, text.c_str(), text.size() + 1);
    return true;
}

}  // namespace

bool SetNameCodePage(int codePage) {
    if (!IsSupportedCodePage(codePage)) return false;
    TheNameCodePage = codePage;
    FsSetNameDecoder(DecodeEntryName);
    return true;
}

int NameCodePage() { return TheNameCodePage; }

std::string NameInUtf8(const std::string& name) {
    std::string text = FromCodePage(name, TheNameCodePage);
    for (char& c : text) {
        if (c == '\\') c = '/';
    }
    return text;
}

std::string ShownName(const std::string& name) { return Printable(NameInUtf8(name)); }

std::string EntryNameProblem(const std::string& name) {
    if (name.empty()) return "has an empty name";
    if (name.find('\0') != std::string::npos) return "has a name with a NUL character";
    // The extraction loop builds every path in a buffer of 260 bytes.
    if (name.size() > 259) return "has a name longer than 259 characters";
    if (!IsContainedName(name.c_str())) {
        for (unsigned char c : name) {
            if (c < 0x20) return "has a name with control characters";
        }
        return "has a name that would leave the destination or stand for another file";
    }
    return "";
}
