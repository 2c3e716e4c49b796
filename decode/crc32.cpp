#include "decode/crc32.h"

#include "profile/state.h"

// Seven more tables for taking eight bytes per step: CrcSlices[k - 1][n] is the CRC register
// after feeding byte n followed by k zero bytes. They live in zero-initialised data, so they
// cost the executable file no bytes.
static uint32_t CrcSlices[7][256];

void BuildCrcTable() {
    for (uint32_t n = 0; n < 256; ++n) {
        uint32_t c = n;
        for (int k = 0; k < 8; ++k) c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
        State.CrcTable[n] = c;
    }
    for (uint32_t n = 0; n < 256; ++n) {
        uint32_t c = State.CrcTable[n];
        for (int k = 0; k < 7; ++k) {
            c = (c >> 8) ^ State.CrcTable[c & 0xFF];
            CrcSlices[k][n] = c;
        }
    }
}

uint32_t Crc32(const uint8_t* data, uint32_t length, uint32_t crc) {
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
