#include "text/code_pages.h"

#include <stdio.h>

#include <mutex>
#include <string>
#include <unordered_map>

#include "text/code_page_tables.h"

namespace {

const uint32_t kNone = 0xFFFF;
const uint32_t kFirstTrail = 0x40, kTrailCount = 0xFF - kFirstTrail;
const uint32_t kFirstLead = 0x81, kLeadCount = 0xFF - kFirstLead;

// One code page's tables, decoded from their UTF-8 texts once. The reverse map, which
// only the packer needs and which holds thousands of codes in a double-byte code page, is
// built the first time a code point is encoded.
struct CodePage {
    const CodePageTable* Table = nullptr;
    uint16_t High[128];                             // bytes 0x80..0xFF
    std::vector<uint16_t> Pairs;                    // lead 0x81.., trail 0x40..: kNone for none
    bool Lead[256] = {};
    std::once_flag CodesBuilt;
    std::unordered_map<uint32_t, uint16_t> Codes;   // code point -> code
};

// Decodes a generated text of count characters, \177 standing for none.
void ReadText(const char* text, uint16_t* out, uint32_t count) {
    std::vector<uint32_t> cps;
    DecodeUtf8(text, &cps);
    for (uint32_t i = 0; i < count; ++i) out[i] = i < cps.size() && cps[i] != 0x7F ? (uint16_t)cps[i] : kNone;
}

void Build(const CodePageTable& t, CodePage* cp) {
    cp->Table = &t;
    ReadText(t.High, cp->High, 128);
    if (t.Rows != nullptr) {
        cp->Pairs.assign(kLeadCount * kTrailCount, kNone);
        for (uint32_t l = 0; l < kLeadCount; ++l) {
            if (t.Rows[l] == nullptr) continue;
            cp->Lead[kFirstLead + l] = true;
            ReadText(t.Rows[l], &cp->Pairs[l * kTrailCount], kTrailCount);
        }
    }
}

void BuildCodes(CodePage* cp) {
    for (uint32_t b = 0; b < 128; ++b) {
        if (cp->High[b] != kNone) cp->Codes.emplace(cp->High[b], (uint16_t)(0x80 + b));
    }
    for (uint32_t l = 0; l < kLeadCount; ++l) {
        if (!cp->Lead[kFirstLead + l]) continue;
        const uint16_t* row = &cp->Pairs[l * kTrailCount];
        for (uint32_t i = 0; i < kTrailCount; ++i) {
            if (row[i] != kNone) cp->Codes.emplace(row[i], (uint16_t)((kFirstLead + l) << 8 | (kFirstTrail + i)));
        }
    }
    // Where codes share a code point, the converter's choice of code replaces the first.
    const CodePageTable& t = *cp->Table;
    for (size_t i = 0; i < t.PreferredCount; ++i) cp->Codes[t.Preferred[i][0]] = t.Preferred[i][1];
}

// The tables of a code page, decoded the first time it is asked for (a run needs one).
CodePage* Find(int number) {
    static std::vector<std::once_flag> once(kCodePageTableCount);
    static std::vector<CodePage> built(kCodePageTableCount);
    for (size_t i = 0; i < kCodePageTableCount; ++i) {
        if (kCodePageTables[i].Number != number) continue;
        std::call_once(once[i], [i] { Build(kCodePageTables[i], &built[i]); });
        return &built[i];
    }
    return nullptr;
}

// The code point of a two-byte code, or kNone; lead is one of the code page's lead bytes.
uint32_t PairToUnicode(const CodePage& cp, uint32_t lead, uint32_t trail) {
    if (trail < kFirstTrail || trail == 0xFF) return kNone;
    return cp.Pairs[(lead - kFirstLead) * kTrailCount + (trail - kFirstTrail)];
}

// Calls emit with the code point of each character of text in the code page (U+FFFD for a
// code that stands for nothing).
template <class Emit>
void DecodeCodePage(const std::string& text, int codePage, Emit emit) {
    const CodePage* cp = Find(codePage);
    const size_t n = text.size();
    for (size_t i = 0; i < n; ++i) {
        const uint32_t code = (uint8_t)text[i];
        if (code < 0x80) {
            emit(code);
            continue;
        }
        uint32_t point = kNone;
        if (cp != nullptr) {
            point = cp->High[code - 0x80];
            if (cp->Lead[code] && i + 1 < n) {
                // A lead byte without a valid second byte stands for nothing; the byte after
                // it is read on its own.
                point = PairToUnicode(*cp, code, (uint8_t)text[i + 1]);
                if (point != kNone) ++i;
            }
        }
        emit(point == kNone ? 0xFFFD : point);
    }
}

// Second bytes that the installer, which splits paths byte by byte, would misread: a
// backslash separates folders, and '|' is dropped from 8.3 names.
const char* SpecialTrail(uint8_t trail) {
    if (trail == 0x5C) return "which the installer takes for a path separator";
    if (trail == 0x7C) return "which the installer drops from short names";
    return nullptr;
}

}  // namespace

bool IsSupportedCodePage(int codePage) {
    for (size_t i = 0; i < kCodePageTableCount; ++i) {
        if (kCodePageTables[i].Number == codePage) return true;
    }
    return false;
}

const char* SupportedCodePages() {
    static const std::string list = [] {
        std::string text;
        for (size_t i = 0; i < kCodePageTableCount; ++i) {
            if (i > 0) text += ", ";
            text += std::to_string(kCodePageTables[i].Number);
        }
        return text;
    }();
    return list.c_str();
}

bool DecodeUtf8(const std::string& text, std::vector<uint32_t>* codePoints) {
    codePoints->clear();
    const size_t n = text.size();
    size_t i = 0;
    while (i < n) {
        const uint8_t b = (uint8_t)text[i];
        uint32_t cp;
        size_t length;
        uint32_t least;
        if (b < 0x80) { cp = b; length = 1; least = 0; }
        else if ((b & 0xE0) == 0xC0) { cp = b & 0x1F; length = 2; least = 0x80; }
        else if ((b & 0xF0) == 0xE0) { cp = b & 0x0F; length = 3; least = 0x800; }
        else if ((b & 0xF8) == 0xF0) { cp = b & 0x07; length = 4; least = 0x10000; }
        else return false;
        if (n - i < length) return false;
        for (size_t k = 1; k < length; ++k) {
            const uint8_t c = (uint8_t)text[i + k];
            if ((c & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (c & 0x3F);
        }
        if (cp < least || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        codePoints->push_back(cp);
        i += length;
    }
    return true;
}

void AppendUtf8(uint32_t cp, std::string* out) {
    if (cp < 0x80) {
        *out += (char)cp;
    } else if (cp < 0x800) {
        *out += (char)(0xC0 | (cp >> 6));
        *out += (char)(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        *out += (char)(0xE0 | (cp >> 12));
        *out += (char)(0x80 | ((cp >> 6) & 0x3F));
        *out += (char)(0x80 | (cp & 0x3F));
    } else {
        *out += (char)(0xF0 | (cp >> 18));
        *out += (char)(0x80 | ((cp >> 12) & 0x3F));
        *out += (char)(0x80 | ((cp >> 6) & 0x3F));
        *out += (char)(0x80 | (cp & 0x3F));
    }
}

int EncodeCodePoint(int codePage, uint32_t codePoint) {
    CodePage* cp = Find(codePage);
    if (cp == nullptr) return -1;
    if (codePoint < 0x80) return (int)codePoint;
    std::call_once(cp->CodesBuilt, BuildCodes, cp);
    auto found = cp->Codes.find(codePoint);
    return found != cp->Codes.end() ? found->second : -1;
}

uint32_t CodePageToUnicode(int codePage, uint32_t code) {
    const CodePage* cp = Find(codePage);
    if (code < 0x80) return code;
    if (cp == nullptr) return kNone;
    if (code < 0x100) return cp->High[code - 0x80];
    const uint32_t lead = code >> 8;
    if (code > 0xFFFF || !cp->Lead[lead]) return kNone;
    return PairToUnicode(*cp, lead, code & 0xFF);
}

bool IsLeadByte(int codePage, uint8_t byte) {
    const CodePage* cp = Find(codePage);
    return cp != nullptr && cp->Lead[byte];
}

bool ToCodePage(const std::string& utf8, int codePage, std::string* out, std::string* error) {
    std::vector<uint32_t> codePoints;
    if (!DecodeUtf8(utf8, &codePoints)) {
        *error = "is not valid UTF-8";
        return false;
    }
    out->clear();
    for (uint32_t cp : codePoints) {
        const int code = EncodeCodePoint(codePage, cp);
        const char* special = code > 0xFF ? SpecialTrail((uint8_t)code) : nullptr;
        if (code < 0 || special != nullptr) {
            char text[160];
            if (code < 0) {
                snprintf(text, sizeof text, "holds U+%04X, which code page %d cannot represent",
                         cp, codePage);
            } else {
                snprintf(text, sizeof text, "holds U+%04X, whose second byte in code page %d is "
                         "0x%02X, %s", cp, codePage, code & 0xFF, special);
            }
            *error = text;
            return false;
        }
        if (code > 0xFF) *out += (char)(code >> 8);
        *out += (char)code;
    }
    return true;
}

std::string FromCodePage(const std::string& text, int codePage) {
    // Bytes below 0x80 are ASCII in every code page: most names are returned as they are.
    unsigned char high = 0;
    for (unsigned char c : text) high |= c;
    if (high < 0x80) return text;
    std::string out;
    out.reserve(text.size());
    DecodeCodePage(text, codePage, [&out](uint32_t point) {
        if (point < 0x80) {
            out += (char)point;
        } else {
            AppendUtf8(point, &out);
        }
    });
    return out;
}

void CodePageToCodePoints(const std::string& text, int codePage, std::vector<uint32_t>* codePoints) {
    codePoints->clear();
    DecodeCodePage(text, codePage, [codePoints](uint32_t point) { codePoints->push_back(point); });
}

uint32_t FoldCase(uint32_t c) {
    if (c >= 'a' && c <= 'z') return c - 0x20;
    if (c < 0x80) return c;
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return c - 0x20;
    if (c == 0xFF) return 0x178;
    if (c >= 0x100 && c <= 0x17F) {
        // Latin Extended-A pairs an upper-case letter with the lower-case one behind it;
        // between U+0139 and U+0148 and from U+0179 on the upper-case letter is the odd one.
        const bool oddUpper = (c >= 0x139 && c <= 0x148) || c >= 0x179;
        if (c == 0x130 || c == 0x131 || c == 0x138 || c == 0x149 || c == 0x17F) return c;
        if (c == 0x178) return c;
        const bool odd = (c & 1) != 0;
        if (oddUpper) return odd ? c : c - 1;
        return odd ? c - 1 : c;
    }
    if (c >= 0x3B1 && c <= 0x3C9 && c != 0x3C2) return c - 0x20;
    // Cyrillic: а..я to А..Я, ѐ..џ to Ѐ..Џ, ґ to Ґ (code page 1251 and the double-byte ones).
    if (c >= 0x430 && c <= 0x44F) return c - 0x20;
    if (c >= 0x450 && c <= 0x45F) return c - 0x50;
    if (c == 0x491) return 0x490;
    return c;
}
