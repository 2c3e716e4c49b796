#include "pack/call_filter_forward.h"

#include "archive/records.h"

void ApplyCallFilter16(uint8_t* data, size_t size) {
    if (size < 3) return;
    const size_t last = size - 3;   // the last offset whose 2 operand bytes lie in the member
    for (size_t k = 0; k <= last; ++k) {
        if (data[k] != 0xE8) continue;
        const uint32_t pos = (uint32_t)(k + 1);
        const uint16_t operand = ReadLe16(data + k + 1);
        WriteLe16(data + k + 1, (uint16_t)(operand + pos));
        k += 2;
    }
}

void ApplyCallFilter32(uint8_t* data, size_t size) {
    if (size < 5 || size > kMaxCallFilter32Size) return;
    const uint32_t bound = (uint32_t)size;
    const size_t last = size - 5;
    for (size_t k = 0; k <= last; ++k) {
        if (data[k] != 0xE8) continue;
        const uint32_t pos = (uint32_t)(k + 1);
        const uint32_t operand = ReadLe32(data + k + 1);
        const uint32_t target = operand + pos;   // mod 2^32
        uint32_t stored;
        if (target < bound) {
            stored = target;
        } else if (target - bound < pos) {
            // target in [bound, bound + pos - 1]: stored as -1 .. -pos
            stored = bound - 1u - target;
        } else {
            stored = operand;
        }
        WriteLe32(data + k + 1, stored);
        k += 4;
    }
}
