// The stub's CRC-32: the table-driven step alone, which is the smallest code that is still
// fast enough to keep up with decoding.
#include "decode/crc32.h"

#include "decode/crc32_slices.h"

uint32_t Crc32(const uint8_t* data, uint32_t length, uint32_t crc) {
    return Crc32Sliced(data, length, crc);
}
