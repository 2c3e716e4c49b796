#include "tools/version_info.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "archive/records.h"
#include "text/code_pages.h"

namespace {

enum : uint32_t {
    kFixedInfoSize = 52,
    kFixedSignature = 0xFEEF04BDu,
    kFixedStructVersion = 0x00010000u,
    kFixedFlagsMask = 0x3F,
    kOsWindows32 = 0x00040004u,   // 32-bit Windows on the NT kernel
    kFileApplication = 1,
    kNodeHeaderSize = 6,
    kTextNode = 1,
    kBinaryNode = 0,
};

uint32_t Align4(uint32_t v) { return (v + 3) & ~3u; }

std::vector<uint8_t> Utf16Bytes(const std::u16string& text) {
    std::vector<uint8_t> out;
    for (char16_t c : text) {
        out.push_back((uint8_t)c);
        out.push_back((uint8_t)(c >> 8));
    }
    out.push_back(0);
    out.push_back(0);
    return out;
}

// One node; its length is that of everything up to the end of its last child, without
// padding behind it. False when that is more than 16 bits can say.
bool Node(const std::u16string& key, uint16_t type, const std::vector<uint8_t>& value,
          uint16_t valueLength, const std::vector<std::vector<uint8_t>>& children,
          std::vector<uint8_t>* out) {
    out->assign(kNodeHeaderSize, 0);
    const std::vector<uint8_t> keyBytes = Utf16Bytes(key);
    out->insert(out->end(), keyBytes.begin(), keyBytes.end());
    out->resize(Align4((uint32_t)out->size()), 0);
    out->insert(out->end(), value.begin(), value.end());
    for (const std::vector<uint8_t>& child : children) {
        out->resize(Align4((uint32_t)out->size()), 0);
        out->insert(out->end(), child.begin(), child.end());
    }
    if (out->size() > 0xFFFF) return false;
    WriteLe16(&(*out)[0], (uint16_t)out->size());
    WriteLe16(&(*out)[2], valueLength);
    WriteLe16(&(*out)[4], type);
    return true;
}

void Put32(std::vector<uint8_t>* out, uint32_t at, uint32_t value) { WriteLe32(&(*out)[at], value); }

std::u16string Ascii(const char* text) { return std::u16string(text, text + strlen(text)); }

// A node of data[start, end): its key, value and the offset of its children, and its end.
struct ReadNode {
    uint32_t Start, End, ValueStart, ValueEnd, Children;
    uint16_t Type;
    std::u16string Key;

    bool Read(const uint8_t* data, uint32_t start, uint32_t end) {
        if (start > end || end - start < kNodeHeaderSize) return false;
        const uint32_t length = ReadLe16(data + start);
        if (length < kNodeHeaderSize || length > end - start) return false;
        Start = start;
        End = start + length;
        const uint32_t valueLength = ReadLe16(data + start + 2);
        Type = ReadLe16(data + start + 4);
        Key.clear();
        uint32_t at = start + kNodeHeaderSize;
        for (;; at += 2) {
            if (End - at < 2) return false;
            const char16_t c = (char16_t)ReadLe16(data + at);
            if (c == 0) break;
            Key.push_back(c);
        }
        ValueStart = Align4(at + 2);
        if (ValueStart > End) ValueStart = End;
        // A text's length counts characters; some writers count its bytes: the node's end
        // bounds it either way.
        const uint32_t bytes = Type == kTextNode ? valueLength * 2 : valueLength;
        ValueEnd = bytes > End - ValueStart ? End : ValueStart + bytes;
        if (Type != kTextNode && ValueEnd - ValueStart != bytes) return false;
        Children = Align4(ValueEnd);
        return true;
    }
};

std::u16string TextAt(const uint8_t* data, uint32_t start, uint32_t end) {
    std::u16string text;
    for (uint32_t at = start; end - at >= 2 && at < end; at += 2) {
        const char16_t c = (char16_t)ReadLe16(data + at);
        if (c == 0) break;
        text.push_back(c);
    }
    return text;
}

bool HexField(const std::u16string& key, size_t from, uint16_t* value) {
    *value = 0;
    for (size_t i = from; i < from + 4; ++i) {
        const char16_t c = key[i];
        int digit = c >= u'0' && c <= u'9' ? c - u'0'
                  : (c | 0x20) >= u'a' && (c | 0x20) <= u'f' ? (c | 0x20) - u'a' + 10 : -1;
        if (digit < 0) return false;
        *value = (uint16_t)(*value * 16 + digit);
    }
    return true;
}

}  // namespace

bool ParseVersionNumber(const std::string& text, uint16_t parts[4], std::string* error) {
    for (int i = 0; i < 4; ++i) parts[i] = 0;
    int count = 0;
    size_t at = 0;
    while (true) {
        size_t end = text.find('.', at);
        std::string part = text.substr(at, end == std::string::npos ? std::string::npos : end - at);
        if (count == 4 || part.empty() || part.size() > 5 ||
            part.find_first_not_of("0123456789") != std::string::npos) {
            *error = "a version is two to four numbers with dots between them, like 1.2 or 1.2.3.4";
            return false;
        }
        const unsigned long value = strtoul(part.c_str(), nullptr, 10);
        if (value > 0xFFFF) {
            *error = "each part of a version is at most 65535";
            return false;
        }
        parts[count++] = (uint16_t)value;
        if (end == std::string::npos) break;
        at = end + 1;
    }
    if (count < 2) {
        *error = "a version is two to four numbers with dots between them, like 1.2 or 1.2.3.4";
        return false;
    }
    return true;
}

std::string VersionText(const uint16_t parts[4]) {
    return std::to_string(parts[0]) + "." + std::to_string(parts[1]) + "." +
           std::to_string(parts[2]) + "." + std::to_string(parts[3]);
}

std::vector<uint8_t> VersionResourceData(const VersionInfo& info) {
    std::vector<uint8_t> fixed(kFixedInfoSize, 0);
    Put32(&fixed, 0, kFixedSignature);
    Put32(&fixed, 4, kFixedStructVersion);
    Put32(&fixed, 8, (uint32_t)info.FileVersion[0] << 16 | info.FileVersion[1]);
    Put32(&fixed, 12, (uint32_t)info.FileVersion[2] << 16 | info.FileVersion[3]);
    Put32(&fixed, 16, (uint32_t)info.ProductVersion[0] << 16 | info.ProductVersion[1]);
    Put32(&fixed, 20, (uint32_t)info.ProductVersion[2] << 16 | info.ProductVersion[3]);
    Put32(&fixed, 24, kFixedFlagsMask);
    Put32(&fixed, 32, kOsWindows32);
    Put32(&fixed, 36, kFileApplication);

    std::vector<std::vector<uint8_t>> strings;
    for (const auto& s : info.Strings) {
        if (s.second.empty()) continue;
        std::vector<uint8_t> node;
        if (!Node(s.first, kTextNode, Utf16Bytes(s.second), (uint16_t)(s.second.size() + 1), {}, &node)) {
            return {};
        }
        strings.push_back(node);
    }
    char key[9];
    snprintf(key, sizeof key, "%04X%04X", info.Language, info.CodePage);
    std::vector<uint8_t> translation(4);
    Put32(&translation, 0, (uint32_t)info.CodePage << 16 | info.Language);
    std::vector<uint8_t> table, stringInfo, var, varInfo, root;
    if (!Node(Ascii(key), kTextNode, {}, 0, strings, &table) ||
        !Node(Ascii("StringFileInfo"), kTextNode, {}, 0, {table}, &stringInfo) ||
        !Node(Ascii("Translation"), kBinaryNode, translation, 4, {}, &var) ||
        !Node(Ascii("VarFileInfo"), kTextNode, {}, 0, {var}, &varInfo) ||
        !Node(Ascii("VS_VERSION_INFO"), kBinaryNode, fixed, kFixedInfoSize, {stringInfo, varInfo}, &root)) {
        return {};
    }
    return root;
}

bool ReadVersionResource(const uint8_t* data, uint32_t size, VersionInfo* info, std::string* error) {
    *info = VersionInfo();
    ReadNode root;
    if (!root.Read(data, 0, size) || root.Key != Ascii("VS_VERSION_INFO")) {
        *error = "not version information";
        return false;
    }
    if (root.ValueEnd - root.ValueStart >= kFixedInfoSize && ReadLe32(data + root.ValueStart) == kFixedSignature) {
        const uint8_t* fixed = data + root.ValueStart;
        for (int i = 0; i < 2; ++i) {
            info->FileVersion[2 * i] = ReadLe16(fixed + 10 + 4 * i);
            info->FileVersion[2 * i + 1] = ReadLe16(fixed + 8 + 4 * i);
            info->ProductVersion[2 * i] = ReadLe16(fixed + 18 + 4 * i);
            info->ProductVersion[2 * i + 1] = ReadLe16(fixed + 16 + 4 * i);
        }
    }
    // Children of a node follow one another, each at a multiple of 4 bytes.
    for (uint32_t at = root.Children; at < root.End;) {
        ReadNode child;
        if (!child.Read(data, at, root.End)) break;
        at = Align4(child.End);
        if (child.Key != Ascii("StringFileInfo")) continue;
        ReadNode table;
        if (!table.Read(data, child.Children, child.End) || table.Key.size() != 8 ||
            !HexField(table.Key, 0, &info->Language) || !HexField(table.Key, 4, &info->CodePage)) {
            break;
        }
        for (uint32_t s = table.Children; s < table.End;) {
            ReadNode text;
            if (!text.Read(data, s, table.End)) break;
            s = Align4(text.End);
            info->Strings.push_back({text.Key, TextAt(data, text.ValueStart, text.ValueEnd)});
        }
        break;
    }
    return true;
}

std::string Utf16ToUtf8(const std::u16string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        uint32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        AppendUtf8(c, &out);
    }
    return out;
}
