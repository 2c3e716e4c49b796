// Memory for the Linux builds: the C library's heap behind the layer's calls (platform/fs.h).
#include <stdlib.h>

#include "platform/fs.h"

void* MemAlloc(uint32_t size) { return malloc(size != 0 ? size : 1); }

void* MemRealloc(void* block, uint32_t size) { return realloc(block, size != 0 ? size : 1); }

void MemFree(void* block) { free(block); }
