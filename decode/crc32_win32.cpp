// The stub's CRC-32: a byte per step through State.CrcTable. The smallest code: the stub
// builds only the one table (the seven further ones that BuildCrcTable fills are never read
// here, and the link drops their filling).
#include "decode/crc32.h"

#include "profile/state.h"

uint32_t Crc32(const uint8_t* data, uint32_t length, uint32_t crc) {
    const uint32_t* t0 = State.CrcTable;
    while (length-- != 0) crc = (crc >> 8) ^ t0[(crc ^ *data++) & 0xFF];
    return crc;
}
