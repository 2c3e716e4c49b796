#include "pack/call_filter_forward.h"

#include "archive/records.h"

namespace {

// Rewrites one operand at data + k + 1, the call's position in the member being pos.
void RewriteOperand(uint8_t* data, size_t k, uint64_t pos, uint64_t memberSize, int width) {
    if (width == 2) {
        WriteLe16(data + k + 1, (uint16_t)(ReadLe16(data + k + 1) + (uint32_t)pos));
        return;
    }
    const uint32_t bound = (uint32_t)memberSize;
    const uint32_t operand = ReadLe32(data + k + 1);
    const uint32_t target = operand + (uint32_t)pos;   // mod 2^32
    uint32_t stored;
    if (target < bound) {
        stored = target;
    } else if (target - bound < (uint32_t)pos) {
        // target in [bound, bound + pos - 1]: stored as -1 .. -pos
        stored = bound - 1u - target;
    } else {
        stored = operand;
    }
    WriteLe32(data + k + 1, stored);
}

}  // namespace

size_t ApplyCallFilterPiece(uint8_t* data, size_t size, uint64_t at, uint64_t memberSize,
                            int width, size_t from) {
    if (memberSize < (uint64_t)width + 1) return size;
    if (width == 4 && memberSize > kMaxCallFilter32Size) return size;
    const uint64_t last = memberSize - (uint64_t)width - 1;   // the last offset a call may have
    size_t k = from;
    while (k < size) {
        if (at + k > last) return size;
        if (k + (size_t)width >= size) return k;   // its operand is not all here yet
        if (data[k] != 0xE8) {
            ++k;
            continue;
        }
        RewriteOperand(data, k, at + k + 1, memberSize, width);
        k += (size_t)width + 1;
    }
    return k;
}

void ApplyCallFilter16(uint8_t* data, size_t size) { ApplyCallFilterPiece(data, size, 0, size, 2, 0); }

void ApplyCallFilter32(uint8_t* data, size_t size) { ApplyCallFilterPiece(data, size, 0, size, 4, 0); }
