// The stored-block path of the encoder, checked by walking the written block headers.
#include <gtest/gtest.h>

#include <vector>

#include "archive/records.h"
#include "pack/encoder.h"

namespace {

struct ParsedBlock {
    uint32_t Type, Last, DecodedSize, BlockSize;
    size_t Start;
};

std::vector<ParsedBlock> WalkBlocks(const std::vector<uint8_t>& stream) {
    std::vector<ParsedBlock> blocks;
    size_t at = 0;
    while (at + 6 <= stream.size()) {
        uint8_t header[8] = {};
        for (size_t i = 0; i < 8 && at + i < stream.size(); i++) header[i] = stream[at + i];
        uint32_t low = ReadLe32(header);
        ParsedBlock block;
        block.Type = low & 15;
        block.Last = (low >> 4) & 1;
        block.DecodedSize = (low >> 5) & 0xFFFFF;
        block.BlockSize = (ReadLe32(header + 3) >> 1) & 0xFFFFF;
        block.Start = at;
        blocks.push_back(block);
        if (block.BlockSize == 0) break;
        at += block.BlockSize;
    }
    return blocks;
}

std::vector<uint8_t> Pattern(size_t size) {
    std::vector<uint8_t> bytes(size);
    uint32_t x = 12345;
    for (auto& b : bytes) { x = x * 1103515245 + 12345; b = (uint8_t)(x >> 16); }
    return bytes;
}

TEST(StoredBlocks, StreamSplitsIntoBlocksThatTileTheOutput) {
    EncodeOptions options;
    options.StoredOnly = true;
    for (uint32_t blockSize : {1u, 3u, 1000u, 1048575u}) {
        options.MaxBlockSize = blockSize;
        for (size_t size : {0, 1, 2, 7, 2500, 1048570}) {
            if (blockSize < 4 && size > 2500) continue;
            std::vector<uint8_t> data = Pattern(size);
            std::vector<uint8_t> stream = EncodeStream(data.data(), size, options);
            std::vector<ParsedBlock> blocks = WalkBlocks(stream);
            ASSERT_FALSE(blocks.empty());
            std::vector<uint8_t> decoded;
            size_t end = 0;
            for (size_t i = 0; i < blocks.size(); i++) {
                const ParsedBlock& b = blocks[i];
                SCOPED_TRACE(testing::Message() << "size " << size << " block " << i);
                EXPECT_EQ(b.Type, 0u);
                EXPECT_EQ(b.Last, i + 1 == blocks.size() ? 1u : 0u);
                if (!b.Last) { EXPECT_GE(b.BlockSize, 8u); }
                EXPECT_GE(b.BlockSize, 6 + b.DecodedSize);
                EXPECT_LE(b.DecodedSize, blockSize);
                decoded.insert(decoded.end(), stream.begin() + b.Start + 6,
                               stream.begin() + b.Start + 6 + b.DecodedSize);
                end = b.Start + b.BlockSize;
            }
            EXPECT_EQ(end, stream.size());
            EXPECT_EQ(decoded, data);
        }
    }
}

TEST(StoredBlocks, DirectoryBlockStartsItsBytesAtSevenAndRefusesWhatCannotFit) {
    EncodeOptions options;
    options.StoredOnly = true;
    std::vector<uint8_t> data = Pattern(8177);
    std::vector<uint8_t> block = EncodeDirectoryBlock(data.data(), data.size(), options);
    ASSERT_EQ(block.size(), 8184u);
    EXPECT_EQ(std::vector<uint8_t>(block.begin() + 7, block.end()), data);
    EXPECT_EQ((ReadLe32(block.data()) >> 5) & 0xFFFFF, 8177u);

    data.push_back(1);
    EXPECT_TRUE(EncodeDirectoryBlock(data.data(), data.size(), options).empty());
}

}  // namespace
