#include "decode/crc32.h"

#include "decode/crc32_slices.h"
#include "profile/state.h"

// Zero-initialised data: the seven extra tables cost the executable file no bytes.
uint32_t CrcSlices[7][256];

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
