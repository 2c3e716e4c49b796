// Exact heap accounting for the benchmark programs: heap_count.cpp replaces malloc and
// friends in the program (glibc's own functions do the work) and keeps the bytes in use and
// their peak, so that the memory an extraction needs can be told to the byte.
#pragma once

#include <stdint.h>

// Starts a new peak at the bytes in use now.
void HeapResetPeak();
// The most bytes in use since HeapResetPeak, less the bytes in use at that call.
uint64_t HeapPeakGrowth();
