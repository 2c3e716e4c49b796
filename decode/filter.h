// Undoing the x86 call filters on the way to the output file, with the CRC-32.
#pragma once

#include <stdint.h>

#include "platform/fs.h"

int32_t FilterAndWrite(FileHandle output, const uint8_t* data, int32_t length, uint32_t offset,
                       uint32_t memberSize, bool final);
int32_t CallFilter16(FileHandle output, const uint8_t* data, int32_t length, uint32_t base);
int32_t CallFilter32(FileHandle output, const uint8_t* data, int32_t length, uint32_t base,
                     uint32_t bound);
