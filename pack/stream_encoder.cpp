// EncodeStream and EncodeDirectoryBlock: split the input into blocks, let each block be
// compressed or stored, and keep the extractor's window bookkeeping in step.
#include <algorithm>

#include "pack/block_header.h"
#include "pack/encoder.h"
#include "pack/window_model.h"

std::vector<uint8_t> EncodeStream(const uint8_t* data, size_t size, const EncodeOptions& options) {
    std::vector<uint8_t> out;
    WindowModel window;
    uint32_t blockLimit = std::min<uint32_t>(std::max<uint32_t>(options.MaxBlockSize, 1),
                                             MaxStoredSize(kStreamStoredOffset));
    size_t position = 0;
    do {
        uint32_t length = (uint32_t)std::min<size_t>(size - position, blockLimit);
        bool last = position + length == size;
        WriteStoredBlock(out, data + position, length, last, kStreamStoredOffset,
                         last ? 0u : (uint32_t)kMinInnerBlockSize);
        ModelStoredBlock(window, length, last);
        position += length;
    } while (position < size);
    return out;
}

std::vector<uint8_t> EncodeDirectoryBlock(const uint8_t* data, size_t size,
                                          const EncodeOptions& options) {
    (void)options;
    std::vector<uint8_t> out;
    if (size > kDirectoryBlockDecodedLimit) return out;
    if (kDirectoryStoredOffset + size > kDirectoryBlockByteLimit) return out;
    WriteStoredBlock(out, data, (uint32_t)size, true, kDirectoryStoredOffset, 0);
    return out;
}
