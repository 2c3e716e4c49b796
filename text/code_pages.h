// The Windows ANSI (and OEM) code pages that archive names can be written in, and the
// UTF-8 decoding and letter-case folding that name checks need.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

// The code pages of the generated tables (text/code_page_tables.cpp), single-byte and
// double-byte.
bool IsSupportedCodePage(int codePage);
// For messages: the numbers of the tables in their order, "1252, 1250, ...".
const char* SupportedCodePages();

// Decodes strict UTF-8 (no overlong forms, surrogates or values above U+10FFFF).
bool DecodeUtf8(const std::string& text, std::vector<uint32_t>* codePoints);
void AppendUtf8(uint32_t codePoint, std::string* out);

// The code that stands for a code point in the code page: a byte, or lead << 8 | trail in a
// double-byte code page; -1 when it has none. Bytes 0x00..0x7F are ASCII in every one.
int EncodeCodePoint(int codePage, uint32_t codePoint);

// The code point a code (a byte, or lead << 8 | trail) stands for, or 0xFFFF for none.
uint32_t CodePageToUnicode(int codePage, uint32_t code);
// True when the byte begins a two-byte code in the code page.
bool IsLeadByte(int codePage, uint8_t byte);

// UTF-8 text in the code page. False, with why in error ("holds U+0416, which code page 1252
// cannot represent"), when a character has no code, or when its second byte is one that
// the installer, which splits paths byte by byte, takes for a separator or drops.
bool ToCodePage(const std::string& utf8, int codePage, std::string* out, std::string* error);
// Text in the code page as UTF-8; codes that stand for nothing become U+FFFD.
std::string FromCodePage(const std::string& text, int codePage);
// The same text's code points: those of FromCodePage's UTF-8, without the round trip.
void CodePageToCodePoints(const std::string& text, int codePage, std::vector<uint32_t>* codePoints);

// Upper-case form of a code point, as Windows compares file names: ASCII, Latin-1,
// Latin Extended-A, Greek and Cyrillic letters; every other code point stands for itself.
uint32_t FoldCase(uint32_t codePoint);
