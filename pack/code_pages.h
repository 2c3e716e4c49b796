// The Windows ANSI (and OEM) code pages that archive names can be written in, and the
// UTF-8 decoding and letter-case folding that name checks need.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

bool IsSupportedCodePage(int codePage);   // 1252, 1250, 437
const char* SupportedCodePages();         // for messages: "1252, 1250, 437"

// Decodes strict UTF-8 (no overlong forms, surrogates or values above U+10FFFF).
bool DecodeUtf8(const std::string& text, std::vector<uint32_t>* codePoints);

// The byte that stands for a code point in the code page, or -1 when it has none.
// Bytes 0x00..0x7F are ASCII in every supported code page.
int EncodeCodePoint(int codePage, uint32_t codePoint);

// The code point a byte stands for, or 0xFFFF for a byte the code page leaves undefined.
uint32_t CodePageToUnicode(int codePage, uint8_t byte);

// Upper-case form of a code point, as Windows compares file names: ASCII, Latin-1,
// Latin Extended-A and Greek letters; every other code point stands for itself.
uint32_t FoldCase(uint32_t codePoint);
