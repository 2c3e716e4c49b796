// Arbitrary bytes as the body of one compressed stream block, decoded into a window behind
// some history. The first two bytes choose the history length and the decoded size and
// whether the block claims more bytes than the file holds; a stream block header is put in
// front of the rest, so that the input goes through RefillInput as in an extraction.
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "decode/input.h"
#include "decode/lzdecode.h"
#include "fuzz/support/fuzz_archive.h"
#include "profile/state.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    static const uint32_t kHistory[4] = {0, 1, 5000, 70000};
    static const uint32_t kCount[8] = {0, 1, 4, 100, 8192, 8193, 40000, 300000};
    uint32_t history = kHistory[data[0] & 3];
    uint32_t count = kCount[(data[0] >> 2) & 7];
    bool cut = (data[0] & 0x20) != 0;   // the file ends before the block does
    uint32_t body = (uint32_t)(size - 2);
    uint32_t blockSize = 6 + body + (cut ? 100000 : 0);
    if (blockSize > 0xFFFFF) return 0;

    // Header: type 1, last, DecodedSize, BlockSize; then the 5 window bits (0) and the body
    // from bit 50, i.e. the body bytes shifted up by 2 bits.
    std::vector<uint8_t> file(6 + body + 1, 0);
    uint64_t head = 1 | 1 << 4 | (uint64_t)(count & 0xFFFFF) << 5 | (uint64_t)blockSize << 25;
    for (int i = 0; i < 6; ++i) file[i] = (uint8_t)(head >> (8 * i));
    for (uint32_t i = 0; i < body; ++i) {
        file[6 + i] |= (uint8_t)(data[2 + i] << 2);
        file[7 + i] |= (uint8_t)(data[2 + i] >> 6);
    }
    file.resize(6 + body);   // the last 2 bits of the body fall off
    FuzzArchive(file.data(), file.size());
    if (RefillInput(true) != 0) return 0;
    State.InputPointer = State.InputBuffer + 6;
    State.BitOffset = 2;

    // The window holds exactly history + count bytes, so that any write past it is seen.
    uint8_t* window = (uint8_t*)malloc(history + count + 1);
    for (uint32_t i = 0; i < history; ++i) window[i] = (uint8_t)(i * 31 + data[1]);
    memset(window + history, 0, count);
    int32_t r = DecodeLzBlock(window, history, count);
    FuzzCheck(r <= (int32_t)count, "no more bytes than asked for");
    FuzzCheck(State.BitOffset == 0 || r < 0, "the block ends on a byte boundary");
    FuzzCheck(State.InputPointer >= State.InputBuffer &&
              State.InputPointer <= State.InputBuffer + kInputBufferSize + kInputBufferSlack,
              "the input position stays in the buffer");
    free(window);
    return 0;
}
