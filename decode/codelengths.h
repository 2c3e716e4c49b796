// The code lengths of a compressed block's TableSets.
#pragma once

#include <stdint.h>

enum : uint32_t {
    kTableSetSizeShort = 344,   // one or two distance alphabets
    kTableSetSizeLong = 372,    // three distance alphabets
};

int32_t ReadCodeLengths(uint8_t* sets, uint32_t setSize, uint32_t count, uint32_t endOffset);
void SetDefaultCodeLengths(uint8_t* set, uint32_t endOffset);
