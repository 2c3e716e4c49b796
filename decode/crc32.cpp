#include "decode/crc32.h"

#include "profile/state.h"

void BuildCrcTable() {
    for (uint32_t n = 0; n < 256; ++n) {
        uint32_t c = n;
        for (int k = 0; k < 8; ++k) c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
        State.CrcTable[n] = c;
    }
}

uint32_t Crc32(const uint8_t* data, uint32_t length, uint32_t crc) {
    const uint32_t* table = State.CrcTable;
    for (uint32_t i = 0; i < length; ++i) crc = (crc >> 8) ^ table[(crc ^ data[i]) & 0xFF];
    return crc;
}
