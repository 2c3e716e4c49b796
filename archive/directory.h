// Reads the archive's directory one block at a time into the EntryBuffer.
#pragma once

#include <stdint.h>

int32_t ReadDirectoryBlock(uint8_t* entryBuffer);
