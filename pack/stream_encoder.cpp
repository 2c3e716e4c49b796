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

namespace {

uint32_t BlockLimit(const EncodeOptions& options) {
    return std::min<uint32_t>(std::max<uint32_t>(options.MaxBlockSize, 1),
                              MaxStoredSize(kStreamStoredOffset));
}

// Encodes data[from, to) as blocks behind the history data[0, from), the last of them with
// LastBlock set when last. The parser covers data and has seen everything before from.
void EncodeBlocks(const uint8_t* data, size_t from, size_t to, bool last, BlockParser* parser,
                  WindowModel& window, const EncodeOptions& options, std::vector<uint8_t>* out) {
    const uint32_t blockLimit = BlockLimit(options);
    ParsedBlock parsed;
    std::vector<uint8_t> block;
    size_t position = from;
    do {
        uint32_t length = (uint32_t)std::min<size_t>(to - position, blockLimit);
        bool lastBlock = last && position + length == to;
        uint32_t minSize = lastBlock ? 0u : (uint32_t)kMinInnerBlockSize;
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
            WriteCompressedBlock(block, BlockInput(parsed, length, lastBlock, windowBits,
                                                   history + length, options));
            if (block.size() < minSize) {
                block.resize(minSize, 0);
                PatchBlockSize(block, 0, (uint32_t)block.size());
            }
        }
        if (!block.empty() && block.size() <= kMaxBlockSize && block.size() < storedSize) {
            out->insert(out->end(), block.begin(), block.end());
            ModelCompressedBlock(window, windowBits, length);
        } else {
            WriteStoredBlock(*out, data + position, length, lastBlock, kStreamStoredOffset, minSize);
            ModelStoredBlock(window, length, lastBlock);
        }
        position += length;
        if (options.BytesDone) options.BytesDone->fetch_add(length, std::memory_order_relaxed);
    } while (position < to);
}

// History kept in front of each chunk of a piecewise stream: more than any block reaches.
const size_t kChunkHistory = 1u << 20;
static_assert(kChunkHistory >= kLargestWindow, "a block may reach the whole largest window");

}  // namespace

std::vector<uint8_t> EncodeStream(const uint8_t* data, size_t size, const EncodeOptions& options) {
    std::vector<uint8_t> out;
    WindowModel window;
    std::unique_ptr<BlockParser> parser;
    if (!options.StoredOnly && size > 0) parser = MakeParser(data, size, options);
    EncodeBlocks(data, 0, size, true, parser.get(), window, options, &out);
    return out;
}

StreamEncoder::StreamEncoder(const EncodeOptions& options, size_t chunkSize)
    : options_(options), chunk_(std::max<size_t>(chunkSize, 2 * kChunkHistory)),
      window_(new WindowModel) {}

StreamEncoder::~StreamEncoder() = default;

void StreamEncoder::Add(const uint8_t* data, size_t size, std::vector<uint8_t>* out) {
    while (size > 0) {
        const size_t n = std::min(size, history_ + chunk_ - buffer_.size());
        buffer_.insert(buffer_.end(), data, data + n);
        data += n;
        size -= n;
        if (buffer_.size() == history_ + chunk_) EncodeChunk(false, out);
    }
}

void StreamEncoder::Finish(std::vector<uint8_t>* out) { EncodeChunk(true, out); }

// Encodes the bytes behind the history: all of them when last, else as many whole blocks as
// leave some bytes over, so that blocks are cut where EncodeStream cuts them (a short block
// within the stream would choose a small window and cut the history the next one can reach)
// and the last block has bytes. The tail is kept as the next chunk's history.
void StreamEncoder::EncodeChunk(bool last, std::vector<uint8_t>* out) {
    size_t end = buffer_.size();
    if (!last) {
        if (end == history_) return;
        const size_t limit = BlockLimit(options_);
        end = history_ + (end - history_ - 1) / limit * limit;
        if (end == history_) return;
    }
    std::unique_ptr<BlockParser> parser;
    if (!options_.StoredOnly && buffer_.size() > 0) {
        parser = MakeParser(buffer_.data(), buffer_.size(), options_);
        // The parser learns the history by parsing it; the tokens are not used.
        ParsedBlock ignored;
        if (history_ > 0) parser->Parse(0, (uint32_t)history_, 0, ignored);
    }
    EncodeBlocks(buffer_.data(), history_, end, last, parser.get(), *window_, options_, out);
    const size_t keep = std::min(end, kChunkHistory);
    buffer_.erase(buffer_.begin(), buffer_.begin() + (ptrdiff_t)(end - keep));
    history_ = keep;
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
