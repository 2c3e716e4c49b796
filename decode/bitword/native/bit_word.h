// The decoder's build choices for the `qar` tool and the native tests: the bit reader's word
// (decode/bits.h) at the pointer's width, the default TableSet's tables kept between blocks,
// a literal/length table of 2^11 entries, and a fast symbol loop without per-symbol tests
// where the input holds a whole symbol and the window has room for it, decode tables filled
// by code length (decode/huffman.cpp), and a call filter that looks for 0xE8 a machine word
// at a time (memory and code spent for speed). The build puts one folder of decode/bitword/
// on the include path of the decoding core and of everything that uses it. The history moves to
// the window buffer's front at its own offset modulo 64 (decode/member.cpp), so that the copy
// runs between mutually aligned addresses.
#pragma once

#include <stdint.h>

typedef uintptr_t BitWord;
const bool kKeepDefaultTables = true;
const unsigned kLiteralTableBits = 11;
const bool kUncheckedLoop = true;
const bool kFastTableBuild = true;
const bool kWordCallScan = true;
const bool kAlignedHistoryMoves = true;
