// The 45-bit BlockHeader in front of every block, and the stored block.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <vector>

enum : uint32_t {
    kBlockStored = 0,
    kBlockCompressed = 1,
    kMaxBlockSize = 1048575,          // BlockSize and DecodedSize are 20-bit fields
    kStreamStoredOffset = 6,          // stored bytes of a stream block begin at byte 6
    kDirectoryStoredOffset = 7,       // ... and of a directory block at byte 7
    kMinInnerBlockSize = 8,           // the extractor always reads 8 header bytes
};

// Largest DecodedSize of a stored block that starts its bytes at `offset`.
inline uint32_t MaxStoredSize(uint32_t offset) { return kMaxBlockSize - offset; }

class BitOutput;

// Writes the 45-bit header with BlockSize 0; PatchBlockSize fills it in once the block is
// complete (the block starts at a byte boundary).
void PutBlockHeader(BitOutput& bits, uint32_t type, bool last, uint32_t decodedSize);
void PatchBlockSize(std::vector<uint8_t>& out, size_t blockStart, uint32_t blockSize);

// Appends a stored block: its bytes begin at `dataOffset` (6 in a stream, 7 in the
// directory), and the block is padded with zeros up to `minSize` bytes.
void WriteStoredBlock(std::vector<uint8_t>& out, const uint8_t* data, uint32_t size, bool last,
                      uint32_t dataOffset, uint32_t minSize);

enum : uint32_t {
    kDirectoryBlockDecodedLimit = 8192,   // the EntryBuffer
    kDirectoryBlockByteLimit = 8184,      // what the directory reader reads at once
};
