// The decoder's build choices for the Windows stubs, where size comes first: the bit reader's
// word (decode/bits.h) at the pointer's width (32 bits in the i686 stub, 64 in the x86-64
// one), every block's tables built anew and filled symbol by symbol, the literal/length table
// no wider than its 2^9 primary entries, one symbol loop, which checks every symbol against
// the end of the data, and a call filter that looks for 0xE8 byte by byte.
#pragma once

#include <stdint.h>

typedef uintptr_t BitWord;
const bool kKeepDefaultTables = false;
const unsigned kLiteralTableBits = 9;
const bool kUncheckedLoop = false;
const bool kFastTableBuild = false;
const bool kWordCallScan = false;
const bool kAlignedHistoryMoves = false;
