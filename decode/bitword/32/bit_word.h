// A 32-bit word for the bit reader (decode/bits.h) on any host, as the i686 stub decodes,
// with the stub's other choices (the call filter's byte-by-byte search among them). The fuzz
// build compiles a second decoding core with this folder on its include path, so that the
// fuzzers reach the narrow word's refills on a 64-bit machine.
#pragma once

#include <stdint.h>

typedef uint32_t BitWord;
const bool kKeepDefaultTables = false;
const unsigned kLiteralTableBits = 9;
const bool kUncheckedLoop = false;
const bool kFastTableBuild = false;
const bool kWordCallScan = false;
const bool kAlignedHistoryMoves = false;
