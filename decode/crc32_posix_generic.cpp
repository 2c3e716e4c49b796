// The Linux tools' CRC-32 on processors without a folding path of their own here (all but
// x86-64): the table-driven step, eight bytes at a time.
#include "decode/crc32.h"

#include "decode/crc32_slices.h"

uint32_t Crc32(const uint8_t* data, uint32_t length, uint32_t crc) {
    return Crc32Sliced(data, length, crc);
}
