// Replays member extraction's window handling: the block decoded last becomes history, a
// compressed block trims history to its window size and grows the window to fit, a stored
// block keeps at most what fits beside it, and the first block starts from nothing.
#include "pack/window_model.h"

#include "profile/profile.h"

static void TakePreviousBlock(WindowModel& model) {
    model.History += model.LastDecoded;
}

uint32_t ReachableHistory(const WindowModel& model) {
    if (!model.Started) return 0;
    uint64_t history = model.History + model.LastDecoded;
    return history > kLargestWindow ? kLargestWindow : (uint32_t)history;
}

uint32_t WindowSizeOf(uint32_t windowBits) {
    uint32_t windowClass = windowBits & 3;
    if (windowClass == 3) windowClass = 2;
    return Profile.WindowSizes[windowClass][(windowBits >> 2) & 7];
}

uint32_t ChooseWindowBits(uint32_t reach) {
    uint32_t best = (7u << 2) | 2;   // class 2, index 7: the largest
    for (uint32_t windowClass = 0; windowClass < 3; windowClass++) {
        for (uint32_t index = 0; index < 8; index++) {
            uint32_t bits = (index << 2) | windowClass;
            uint32_t size = Profile.WindowSizes[windowClass][index];
            if (size >= reach && size < WindowSizeOf(best)) best = bits;
        }
    }
    return best;
}

static void EnsureWindow(WindowModel& model, uint64_t history, uint32_t decodedSize) {
    if (history + decodedSize > model.Capacity) model.Capacity = history + decodedSize + kWindowSlack;
}

void ModelCompressedBlock(WindowModel& model, uint32_t windowBits, uint32_t decodedSize) {
    TakePreviousBlock(model);
    if (!model.Started) {
        model.Capacity = (uint64_t)decodedSize + kWindowSlack;
        model.History = 0;
    } else {
        uint32_t size = WindowSizeOf(windowBits);
        if (model.History > size) model.History = size;
        EnsureWindow(model, model.History, decodedSize);
    }
    model.Started = true;
    model.LastDecoded = decodedSize;
}

void ModelStoredBlock(WindowModel& model, uint32_t decodedSize, bool last) {
    TakePreviousBlock(model);
    if (!model.Started) model.Capacity = (uint64_t)decodedSize + kWindowSlack;
    EnsureWindow(model, 0, decodedSize);
    if (last) {
        model.History = 0;
    } else {
        int64_t byLimit = (int64_t)kLargestWindow - decodedSize;
        if (byLimit < 0) byLimit = 0;
        uint64_t keep = (uint64_t)byLimit;
        if (model.Capacity - decodedSize < keep) keep = model.Capacity - decodedSize;
        if (model.History > keep) model.History = keep;
    }
    model.Started = true;
    model.LastDecoded = decodedSize;
}
