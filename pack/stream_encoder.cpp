// EncodeStream and EncodeDirectoryBlock: split the input into blocks, compress each block or
// store it where compression does not pay, and keep the extractor's window bookkeeping in
// step so that every block only reaches history the extractor still holds.
#include <algorithm>

#include "pack/block_header.h"
#include "pack/block_writer.h"
#include "pack/encoder.h"
#include "pack/parser.h"
#include "pack/window_model.h"

namespace {

int LevelOf(const EncodeOptions& options) { return std::min(std::max(options.Level, 1), 9); }

std::unique_ptr<BlockParser> MakeParser(const uint8_t* data, size_t size,
                                        const EncodeOptions& options) {
    int level = LevelOf(options);
    if (level >= 7) return MakeOptimalParser(data, size, level, options.MaxTableSets);
    return MakeLazyParser(data, size, level);
}

CompressedBlockInput BlockInput(const ParsedBlock& parsed, uint32_t size, bool last,
                                uint32_t windowBits, uint32_t endOffset,
                                const EncodeOptions& options) {
    CompressedBlockInput input;
    input.Tokens = parsed.Tokens.data();
    input.TokenCount = parsed.Tokens.size();
    input.DecodedSize = size;
    input.Last = last;
    input.WindowBits = windowBits;
    input.EndOffset = endOffset;
    input.MaxTableSets = options.MaxTableSets;
    input.ForceAlphabets = options.DistanceAlphabets;
    input.AllowDefaultTables = options.AllowDefaultTables;
    input.Level = LevelOf(options);
    return input;
}

}  // namespace

std::vector<uint8_t> EncodeStream(const uint8_t* data, size_t size, const EncodeOptions& options) {
    std::vector<uint8_t> out;
    WindowModel window;
    uint32_t blockLimit = std::min<uint32_t>(std::max<uint32_t>(options.MaxBlockSize, 1),
                                             MaxStoredSize(kStreamStoredOffset));
    std::unique_ptr<BlockParser> parser;
    if (!options.StoredOnly && size > 0) parser = MakeParser(data, size, options);
    ParsedBlock parsed;
    std::vector<uint8_t> block;
    size_t position = 0;
    do {
        uint32_t length = (uint32_t)std::min<size_t>(size - position, blockLimit);
        bool last = position + length == size;
        uint32_t minSize = last ? 0u : (uint32_t)kMinInnerBlockSize;
        uint32_t storedSize = std::max(kStreamStoredOffset + length, minSize);
        block.clear();
        uint32_t windowBits = 0;
        if (parser && length > 0) {
            uint32_t reachable = ReachableHistory(window);
            parser->Parse(position, length, position - reachable, parsed);
            uint32_t history = 0;
            if (window.Started) {
                windowBits = ChooseWindowBits(parsed.Reach);
                history = std::min<uint32_t>(reachable, WindowSizeOf(windowBits));
            }
            WriteCompressedBlock(block, BlockInput(parsed, length, last, windowBits,
                                                   history + length, options));
            if (block.size() < minSize) {
                block.resize(minSize, 0);
                PatchBlockSize(block, 0, (uint32_t)block.size());
            }
        }
        if (!block.empty() && block.size() <= kMaxBlockSize && block.size() < storedSize) {
            out.insert(out.end(), block.begin(), block.end());
            ModelCompressedBlock(window, windowBits, length);
        } else {
            WriteStoredBlock(out, data + position, length, last, kStreamStoredOffset, minSize);
            ModelStoredBlock(window, length, last);
        }
        position += length;
        if (options.BytesDone) options.BytesDone->fetch_add(length, std::memory_order_relaxed);
    } while (position < size);
    return out;
}

std::vector<uint8_t> EncodeDirectoryBlock(const uint8_t* data, size_t size,
                                          const EncodeOptions& options) {
    std::vector<uint8_t> best;
    if (size > kDirectoryBlockDecodedLimit) return best;
    if (kDirectoryStoredOffset + size <= kDirectoryBlockByteLimit) {
        WriteStoredBlock(best, data, (uint32_t)size, true, kDirectoryStoredOffset, 0);
    }
    if (options.StoredOnly || size == 0) return best;
    // Directory blocks are decoded on their own, into an empty window.
    std::unique_ptr<BlockParser> parser = MakeParser(data, size, options);
    ParsedBlock parsed;
    parser->Parse(0, (uint32_t)size, 0, parsed);
    std::vector<uint8_t> block;
    WriteCompressedBlock(block, BlockInput(parsed, (uint32_t)size, true, 0, (uint32_t)size, options));
    if (block.size() <= kDirectoryBlockByteLimit && (best.empty() || block.size() < best.size())) {
        best.swap(block);
    }
    return best;
}
