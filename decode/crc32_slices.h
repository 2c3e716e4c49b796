// The table-driven CRC-32 step of the native builds (the stubs step a byte at a time through
// State.CrcTable alone): eight bytes per step through State.CrcTable and seven more tables,
// the rest byte by byte.
#pragma once

#include <stdint.h>

#include "platform/bytes.h"
#include "profile/state.h"

// CrcSlices[k - 1][n] is the CRC register after feeding byte n followed by k zero bytes.
// Filled by BuildCrcTable.
extern uint32_t CrcSlices[7][256];

inline uint32_t Crc32Sliced(const uint8_t* data, uint32_t length, uint32_t crc) {
    const uint32_t* t0 = State.CrcTable;
    const uint32_t(*t)[256] = CrcSlices;
    while (length >= 8) {
        uint32_t low = crc ^ ReadLe32(data);
        uint32_t high = ReadLe32(data + 4);
        crc = t[6][low & 0xFF] ^ t[5][(low >> 8) & 0xFF] ^ t[4][(low >> 16) & 0xFF] ^
              t[3][low >> 24] ^ t[2][high & 0xFF] ^ t[1][(high >> 8) & 0xFF] ^
              t[0][(high >> 16) & 0xFF] ^ t0[high >> 24];
        data += 8;
        length -= 8;
    }
    while (length-- != 0) crc = (crc >> 8) ^ t0[(crc ^ *data++) & 0xFF];
    return crc;
}
