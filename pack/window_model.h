// The extractor's bookkeeping of a stream's history window, replayed on the writing side so
// that no match of a block reaches history the extractor has already dropped.
#pragma once

#include <stdint.h>

struct WindowModel {
    uint64_t History = 0;     // bytes in front of the next block (HistoryLength)
    uint64_t Capacity = 0;    // allocated window size (WindowCapacity)
    bool Started = false;     // a block of the stream has been decoded
    uint32_t LastDecoded = 0; // decoded size of the block decoded last
};

enum : uint32_t {
    kLargestWindow = 524288,      // the largest WindowSizes entry, and the stored-block limit
    kWindowSlack = 512,
};

// History the next block can reach if it is compressed with the largest window.
uint32_t ReachableHistory(const WindowModel& model);

// Smallest window (class, index) whose size is at least `reach`; reach <= kLargestWindow.
// Returns the 5 bits that follow the block header: class in bits 0-1, index in bits 2-4.
uint32_t ChooseWindowBits(uint32_t reach);
uint32_t WindowSizeOf(uint32_t windowBits);

// Replays the extractor for a compressed block with the given window bits.
void ModelCompressedBlock(WindowModel& model, uint32_t windowBits, uint32_t decodedSize);
// Replays the extractor for a stored block.
void ModelStoredBlock(WindowModel& model, uint32_t decodedSize, bool last);
