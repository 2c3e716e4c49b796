// The code pages that archive names can be written in, as text/code-page-tables reads
// them from the C library's converter (text/code_page_tables.cpp, generated and checked in).
#pragma once

#include <stddef.h>
#include <stdint.h>

struct CodePageTable {
    int Number;
    // Bytes 0x80..0xFF: 128 UTF-8 characters, \177 for a byte that stands for nothing alone.
    const char* High;
    // Double-byte code pages: for each lead byte 0x81..0xFE, what the trail bytes 0x40..0xFE
    // stand for (191 UTF-8 characters, \177 for none), or null where the byte leads nothing.
    const char* const* Rows;
    // Where several codes stand for one code point: {code point, the code written for it}.
    const uint16_t (*Preferred)[2];
    size_t PreferredCount;
};

extern const CodePageTable kCodePageTables[];
extern const size_t kCodePageTableCount;
