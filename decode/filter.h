// Undoing the x86 call filters on the way to the output file, with the CRC-32.
#pragma once

#include <stdint.h>

#include "platform/fs.h"

// Operand widths of the two filters: the bytes behind an 0xE8 that are restored.
// State.FilterMode holds the width of the current member's filter, 0 for none.
enum : uint32_t {
    kCallOperand16 = 2,
    kCallOperand32 = 4,
};

// Writes length bytes of the member, starting at its offset, through the filter of
// State.FilterMode; final marks the member's last stretch. The operand bytes of an 0xE8 at
// the end of a stretch are held in State.FilterCarry until the next one. Returns 0 or a
// negative error code.
int32_t FilterAndWrite(FileHandle output, const uint8_t* data, uint32_t length, uint32_t offset,
                       uint32_t memberSize, bool final);

// Restore and write length bytes at member position base. The operand of an 0xE8 among the
// last bytes is read from behind length, which the caller must provide. Return how many
// bytes were read beyond length (0 to the operand width), or a negative error code.
int32_t CallFilter16(FileHandle output, const uint8_t* data, uint32_t length, uint32_t base);
int32_t CallFilter32(FileHandle output, const uint8_t* data, uint32_t length, uint32_t base,
                     uint32_t bound);
