// The word of the bit reader (decode/bits.h) at the pointer's width: 64 bits on x86-64
// (the `qar` tool, the x86-64 stub), 32 bits in the i686 stub. The build puts this folder
// on the include path of the decoding core and of everything that uses it.
#pragma once

#include <stdint.h>

typedef uintptr_t BitWord;
