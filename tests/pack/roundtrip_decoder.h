// Decodes what the encoder wrote through the core decoder, block by block, keeping the
// history window exactly as member extraction does (trimming to the block's window size,
// the stored-block rule, growth with 512 bytes of slack). A match that reached history the
// extractor had dropped would be dropped by the decoder and show up as a mismatch.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

struct StreamDecodeResult {
    bool Ok = false;
    std::string Error;
    std::vector<uint8_t> Bytes;
    uint32_t Blocks = 0;
    uint32_t StoredBlocks = 0;
    uint32_t TableSets = 0;        // over all compressed blocks (0 for a default TableSet)
    uint32_t ThreeAlphabetBlocks = 0;
};

StreamDecodeResult DecodeStreamBytes(const std::vector<uint8_t>& stream);

// Decodes one directory block (behind its signature) with the directory reader; also checks
// that the reader's position moves to exactly the end of the block.
StreamDecodeResult DecodeDirectoryBytes(const std::vector<uint8_t>& block);

// Packs the members (each as LocalHeader, a one-byte name, data, DataCrc) into one stream
// with the options and extracts them in order with ExtractMember. Returns the bytes each
// extraction wrote; Error is set when an extraction fails or a CRC-32 differs.
struct EncodeOptions;
StreamDecodeResult ExtractMembersThroughCore(const std::vector<std::vector<uint8_t>>& members,
                                             const EncodeOptions& options,
                                             std::vector<std::vector<uint8_t>>* extracted);
