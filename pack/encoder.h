// The compressor: turns the decoded bytes of one stream, or of one directory block, into
// QAR blocks that the extractor decodes back exactly. Used by the container writer.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <atomic>
#include <memory>
#include <vector>

struct EncodeOptions {
    int Level = 6;                   // 1 fast .. 9 best
    uint32_t MaxBlockSize = 1048575; // decoded bytes per block, 1..1048575
    int MaxTableSets = 63;           // 1..63 TableSets per compressed block
    bool StoredOnly = false;         // write stored blocks only
    int DistanceAlphabets = 0;       // 0: chosen by cost per block; 2 or 3 to force (tests)
    bool AllowDefaultTables = true;  // may use the default TableSet where it is cheaper
    // When set, EncodeStream adds each block's decoded size here as it finishes the block, so
    // that another thread can show progress within a stream.
    std::atomic<uint64_t>* BytesDone = nullptr;
};

// Both functions must be safe to call from several threads at once: the archive writer
// compresses independent streams in parallel.
//
// Encodes a whole stream (the bytes behind its StreamMarker). The last block has LastBlock
// set. Every block but the last decodes to at least 8 bytes of file.
std::vector<uint8_t> EncodeStream(const uint8_t* data, size_t size, const EncodeOptions& options);

struct WindowModel;

// The same as EncodeStream for a stream that arrives in pieces, holding no more than a
// chunk and the history in front of it: blocks are encoded each time a chunk has gathered.
// The blocks may differ from those EncodeStream makes of the whole stream at once.
class StreamEncoder {
public:
    StreamEncoder(const EncodeOptions& options, size_t chunkSize);
    ~StreamEncoder();
    // Appends bytes of the stream; blocks encoded on the way are appended to out.
    void Add(const uint8_t* data, size_t size, std::vector<uint8_t>* out);
    // Encodes what remains, ending with the last block.
    void Finish(std::vector<uint8_t>* out);

private:
    void EncodeChunk(bool last, std::vector<uint8_t>* out);

    EncodeOptions options_;
    size_t chunk_;
    std::unique_ptr<WindowModel> window_;
    std::vector<uint8_t> buffer_;   // history_ bytes already encoded, then bytes waiting
    size_t history_ = 0;
};

// Encodes one directory block body (the bytes behind its signature): at most 8192 decoded
// bytes in, at most 8184 bytes out, compressed or stored, decoded without history.
// Returns an empty vector when the bytes cannot be made to fit 8184 bytes; the caller then
// puts fewer entries into the block.
std::vector<uint8_t> EncodeDirectoryBlock(const uint8_t* data, size_t size,
                                          const EncodeOptions& options);
