// The Linux tools' bound on a run's decoding work and output.
#include "decode/work_limit.h"

WorkLimit TheWorkLimit = {UINT64_MAX, 0, 0, false};

namespace {

bool Count(uint64_t& total, uint32_t count) {
    if (count > TheWorkLimit.Limit - total) {
        TheWorkLimit.Reached = true;
        return false;
    }
    total += count;
    return true;
}

}  // namespace

bool CountDecoded(uint32_t count) { return Count(TheWorkLimit.Decoded, count); }

bool CountWritten(uint32_t count) { return Count(TheWorkLimit.Written, count); }

void StartWorkLimit(uint64_t limit) { TheWorkLimit = {limit, 0, 0, false}; }
