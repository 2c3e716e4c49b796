// CRC-32, reflected, polynomial 0xEDB88320. Crc32 neither presets nor inverts: callers start
// from 0xFFFFFFFF and invert at the end.
#pragma once

#include <stdint.h>

void BuildCrcTable();   // fills State.CrcTable
uint32_t Crc32(const uint8_t* data, uint32_t length, uint32_t crc);
