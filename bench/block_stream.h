// What the block-decoder benchmarks (bench_decode, bench_table_cost) share: decoding a file of
// whole stream blocks straight through DecodeLzBlock, and the thread-CPU clock they time it
// with, so that other work on a busy machine does not count against a run.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <time.h>

#include <algorithm>
#include <vector>

#include "decode/input.h"
#include "decode/lzdecode.h"
#include "decode/stream_format.h"
#include "platform/fs.h"
#include "profile/state.h"

// Decodes every block of the stream in the file into window; returns the bytes produced, or
// 0 when a block does not decode.
inline size_t DecodeStream(int fd, uint8_t* window, size_t blocks) {
    FsSeek(fd, 0, kFileBegin);
    State.ArchiveFile = fd;
    State.FilePosition = 0;
    State.Stream.StreamStarted = 0;
    size_t produced = 0;
    for (size_t b = 0; b < blocks; ++b) {
        if (RefillInput(true) != 0) return 0;
        BlockHeader header;
        ReadBlockHeader(State.InputBuffer, &header);
        // The 45 header bits and the window field that follows them: 50 bits.
        State.InputPointer = State.InputBuffer + 6;
        State.BitOffset = 2;
        int32_t r = DecodeLzBlock(window, (uint32_t)produced, header.DecodedSize);
        if (r < 0) return 0;
        produced += (size_t)r;
        State.Stream.StreamStarted = 1;
        State.NextBlockPosition = State.FilePosition;
    }
    return produced;
}

inline double CpuSeconds() {
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec + ts.tv_nsec * 1e-9;
}

inline double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}
