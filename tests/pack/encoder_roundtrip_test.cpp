// Round trips through the core decoder: whatever EncodeStream writes must decode, block by
// block with the extractor's window rules, to exactly the input.
#include <gtest/gtest.h>
#include <stdio.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "pack/encoder.h"
#include "tests/pack/roundtrip_decoder.h"

namespace {

typedef std::vector<uint8_t> Bytes;

Bytes RandomBytes(size_t size, uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes b(size);
    for (auto& x : b) x = (uint8_t)rng();
    return b;
}

Bytes ReadFile(const std::string& path, size_t limit) {
    Bytes b;
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) return b;
    b.resize(limit);
    b.resize(fread(b.data(), 1, limit, f));
    fclose(f);
    return b;
}

// Text: the project's own sources, one after another.
Bytes SourceText() {
    Bytes text;
    for (const char* name : {"pack/block_writer.cpp", "pack/code_length_writer.cpp",
                             "pack/parser_optimal.cpp", "decode/lzdecode.cpp",
                             "pack/match_finder.cpp", "decode/member.cpp"}) {
        Bytes f = ReadFile(std::string(QAR_SOURCE_DIR) + "/" + name, 1 << 20);
        text.insert(text.end(), f.begin(), f.end());
    }
    return text;
}

// Machine code: this test program itself.
Bytes Executable(size_t limit) { return ReadFile("/proc/self/exe", limit); }

// Long runs and long repeats: lengths beyond 258 and up to the longest a match can have.
Bytes Repetitive() {
    Bytes b(70000, 'a');
    Bytes phrase = RandomBytes(40000, 7);
    b.insert(b.end(), phrase.begin(), phrase.end());
    b.insert(b.end(), phrase.begin(), phrase.end());
    for (int i = 0; i < 300; i++) b.push_back((uint8_t)(i % 3));
    return b;
}

void ExpectRoundTrip(const Bytes& data, const EncodeOptions& options, const std::string& what,
                     StreamDecodeResult* out = nullptr) {
    Bytes stream = EncodeStream(data.data(), data.size(), options);
    StreamDecodeResult r = DecodeStreamBytes(stream);
    ASSERT_TRUE(r.Ok) << what << " level " << options.Level << ": " << r.Error;
    ASSERT_EQ(r.Bytes.size(), data.size()) << what << " level " << options.Level;
    ASSERT_TRUE(r.Bytes == data) << what << " level " << options.Level;
    if (out) *out = r;
}

TEST(EncoderRoundTrip, TinyInputsAtEveryLevel) {
    for (int level = 1; level <= 9; level++) {
        EncodeOptions options;
        options.Level = level;
        for (size_t size = 0; size <= 16; size++) {
            ExpectRoundTrip(RandomBytes(size, (uint32_t)size), options, "random " + std::to_string(size));
            ExpectRoundTrip(Bytes(size, 'x'), options, "run " + std::to_string(size));
        }
    }
}

TEST(EncoderRoundTrip, DataClassesAtEveryLevel) {
    Bytes random = RandomBytes(150000, 1);
    Bytes repetitive = Repetitive();
    Bytes text = SourceText();
    Bytes binary = Executable(400000);
    ASSERT_GT(text.size(), 20000u);
    ASSERT_GT(binary.size(), 100000u);
    for (int level = 1; level <= 9; level++) {
        EncodeOptions options;
        options.Level = level;
        StreamDecodeResult r;
        ExpectRoundTrip(random, options, "random", &r);
        EXPECT_EQ(r.StoredBlocks, 1u) << "incompressible data is stored";
        ExpectRoundTrip(repetitive, options, "repetitive");
        ExpectRoundTrip(text, options, "text");
        ExpectRoundTrip(binary, options, "binary");
        EXPECT_LT(EncodeStream(text.data(), text.size(), options).size(), text.size() / 3);
        EXPECT_LT(EncodeStream(repetitive.data(), repetitive.size(), options).size(), 41000u);
    }
}

}  // namespace

namespace {

// A mix whose statistics change every few kilobytes: text, machine code, runs, noise.
Bytes ChangingStatistics(size_t size) {
    Bytes text = SourceText(), binary = Executable(1 << 20), out;
    std::mt19937 rng(9);
    for (int piece = 0; out.size() < size; piece++) {
        size_t length = 6000 + rng() % 20000;
        const Bytes& from = piece % 3 == 0 ? text : binary;
        size_t at = rng() % (from.size() - length);
        if (piece % 5 == 4) {
            Bytes noise = RandomBytes(length / 4, piece);
            out.insert(out.end(), noise.begin(), noise.end());
        } else {
            out.insert(out.end(), from.begin() + at, from.begin() + at + length);
        }
    }
    out.resize(size);
    return out;
}

// A stream handed to StreamEncoder in pieces, which it compresses a chunk at a time, decodes
// to the input as well, and its blocks still reach back across the chunks' ends: it comes out
// close to the size of the stream compressed at once.
TEST(EncoderRoundTrip, PiecewiseStreamsReachAcrossChunks) {
    const Bytes noise = RandomBytes(200000, 11);
    Bytes text = SourceText();
    text.resize(std::min<size_t>(text.size(), 100000));
    Bytes data;
    while (data.size() < (9u << 19)) {
        data.insert(data.end(), noise.begin(), noise.end());
        data.insert(data.end(), text.begin(), text.end());
    }
    std::mt19937 rng(3);
    for (int level : {1, 7}) {
        EncodeOptions options;
        options.Level = level;
        StreamEncoder encoder(options, 0);   // the smallest chunk
        Bytes stream;
        for (size_t at = 0; at < data.size();) {
            const size_t n = std::min<size_t>(data.size() - at, rng() % 700000);
            encoder.Add(data.data() + at, n, &stream);
            at += n;
        }
        encoder.Finish(&stream);
        StreamDecodeResult r = DecodeStreamBytes(stream);
        ASSERT_TRUE(r.Ok) << "level " << level << ": " << r.Error;
        ASSERT_TRUE(r.Bytes == data) << "level " << level;
        const size_t whole = EncodeStream(data.data(), data.size(), options).size();
        EXPECT_LT(stream.size(), whole + whole / 10) << "level " << level;
    }
}

TEST(EncoderRoundTrip, SeveralBlocksShareHistoryWithinTheWindowRules) {
    // 400 KB of noise three times: the later copies can only be found in history, and the
    // second block reaches 400 KB back, within the largest window of 512 KB.
    Bytes noise = RandomBytes(400000, 4);
    Bytes data;
    for (int i = 0; i < 3; i++) data.insert(data.end(), noise.begin(), noise.end());
    for (int level : {1, 6, 9}) {
        EncodeOptions options;
        options.Level = level;
        StreamDecodeResult r;
        ExpectRoundTrip(data, options, "noise repeated", &r);
        EXPECT_EQ(r.Blocks, 2u);
        EXPECT_EQ(r.StoredBlocks, 0u);
        EXPECT_LT(EncodeStream(data.data(), data.size(), options).size(), 420000u);
    }
}

TEST(EncoderRoundTrip, SmallBlocksTrimmedWindowsAndStoredBlocksInBetween) {
    // Compressible text, then noise that goes into stored blocks, then the text again:
    // stored blocks keep only part of the history, and each compressed block's window
    // must hold what its matches reach.
    Bytes text = SourceText();
    text.resize(std::min<size_t>(text.size(), 120000));
    Bytes data = text;
    Bytes noise = RandomBytes(300000, 5);
    data.insert(data.end(), noise.begin(), noise.end());
    data.insert(data.end(), text.begin(), text.end());
    for (uint32_t blockSize : {30000u, 65536u}) {
        for (int level : {2, 7}) {
            EncodeOptions options;
            options.Level = level;
            options.MaxBlockSize = blockSize;
            StreamDecodeResult r;
            ExpectRoundTrip(data, options, "block size " + std::to_string(blockSize), &r);
            EXPECT_GT(r.StoredBlocks, 0u);
            EXPECT_GT(r.Blocks, r.StoredBlocks);
        }
    }
}

TEST(EncoderRoundTrip, ManyBlockEndsAtTheOptimalLevels) {
    // Copies of earlier pieces over a four-letter alphabet give long shared prefixes in the
    // match finder's trees; short blocks give many ends where the longest match allowed is
    // cut short and then lengthened again in the next block.
    std::mt19937 rng(21);
    Bytes data;
    while (data.size() < 120000) {
        if (data.size() > 16 && rng() % 2) {
            size_t from = rng() % data.size();
            size_t length = 2 + rng() % 60;
            for (size_t i = 0; i < length; i++) data.push_back(data[from + i]);
        } else {
            data.push_back((uint8_t)('a' + rng() % 4));
        }
    }
    for (uint32_t blockSize : {1021u, 4099u}) {
        for (int level : {7, 9}) {
            EncodeOptions options;
            options.Level = level;
            options.MaxBlockSize = blockSize;
            ExpectRoundTrip(data, options, "block size " + std::to_string(blockSize));
        }
    }
}

TEST(EncoderRoundTrip, LargeMixedInputUsesSeveralTableSets) {
    Bytes data = ChangingStatistics(2500000);
    for (int level : {3, 6, 8}) {
        EncodeOptions options;
        options.Level = level;
        StreamDecodeResult r;
        ExpectRoundTrip(data, options, "mixed", &r);
        EXPECT_EQ(r.Blocks, 3u);
        EXPECT_GT(r.TableSets, 2 * r.Blocks) << "statistics change, so TableSets switch";
    }
    EncodeOptions single;
    single.MaxTableSets = 1;
    StreamDecodeResult r;
    ExpectRoundTrip(data, single, "one TableSet", &r);
    EXPECT_EQ(r.TableSets, r.Blocks);
}

TEST(EncoderRoundTrip, BothCountsOfDistanceAlphabets) {
    Bytes data = ChangingStatistics(300000);
    for (int alphabets : {2, 3}) {
        for (int level : {4, 9}) {
            EncodeOptions options;
            options.Level = level;
            options.DistanceAlphabets = alphabets;
            StreamDecodeResult r;
            ExpectRoundTrip(data, options, "alphabets " + std::to_string(alphabets), &r);
            EXPECT_EQ(r.ThreeAlphabetBlocks, alphabets == 3 ? r.Blocks : 0u);
        }
    }
}

TEST(EncoderRoundTrip, StoredOnlyAndDefaultTables) {
    Bytes text = SourceText();
    EncodeOptions stored;
    stored.StoredOnly = true;
    StreamDecodeResult r;
    ExpectRoundTrip(text, stored, "stored only", &r);
    EXPECT_EQ(r.StoredBlocks, r.Blocks);
    // A short input that repeats itself is cheapest with the default TableSet: no code
    // lengths are sent.
    std::string repeated;
    while (repeated.size() < 60) repeated += "file\\";
    Bytes shortText(repeated.begin(), repeated.end());
    ExpectRoundTrip(shortText, EncodeOptions(), "short text", &r);
    EXPECT_EQ(r.StoredBlocks, 0u);
    EXPECT_EQ(r.TableSets, 0u);
}

TEST(EncoderRoundTrip, MembersComeBackThroughMemberExtraction) {
    std::vector<Bytes> members = {SourceText(), Bytes(), Executable(300000), Bytes(5, 'q'),
                                  RandomBytes(70000, 8), Repetitive()};
    for (int level : {1, 6, 9}) {
        for (uint32_t blockSize : {1048575u, 50000u}) {
            EncodeOptions options;
            options.Level = level;
            options.MaxBlockSize = blockSize;
            std::vector<Bytes> extracted;
            StreamDecodeResult r = ExtractMembersThroughCore(members, options, &extracted);
            ASSERT_TRUE(r.Ok) << r.Error << " level " << level;
            ASSERT_EQ(extracted.size(), members.size());
            for (size_t k = 0; k < members.size(); k++) {
                EXPECT_TRUE(extracted[k] == members[k]) << "member " << k << " level " << level;
            }
        }
    }
}

TEST(EncoderRoundTrip, DirectoryBlocks) {
    // Entry-like records: fixed fields and similar names.
    Bytes entries;
    for (int i = 0; entries.size() < 8000; i++) {
        Bytes fixed(38, 0);
        fixed[4] = 42;
        fixed[8] = 0x20;
        fixed[12] = (uint8_t)i;
        fixed[13] = (uint8_t)(i >> 8);
        std::string name = "Program\\Data\\file" + std::to_string(i) + ".dat";
        fixed[26] = (uint8_t)name.size();
        entries.insert(entries.end(), fixed.begin(), fixed.end());
        entries.insert(entries.end(), name.begin(), name.end());
    }
    entries.resize(8192);
    for (int level : {1, 6, 9}) {
        EncodeOptions options;
        options.Level = level;
        for (size_t size : {(size_t)1, (size_t)38, (size_t)700, (size_t)8192}) {
            Bytes part(entries.begin(), entries.begin() + size);
            Bytes block = EncodeDirectoryBlock(part.data(), part.size(), options);
            ASSERT_FALSE(block.empty());
            EXPECT_LE(block.size(), 8184u);
            StreamDecodeResult r = DecodeDirectoryBytes(block);
            ASSERT_TRUE(r.Ok) << r.Error;
            EXPECT_TRUE(r.Bytes == part) << "size " << size << " level " << level;
        }
        Bytes big(entries.begin(), entries.end());
        EXPECT_LT(EncodeDirectoryBlock(big.data(), big.size(), options).size(), 3000u);
    }
    // Noise cannot be made to fit: 8192 bytes need more than 8184 either way.
    Bytes noise = RandomBytes(8192, 6);
    EXPECT_TRUE(EncodeDirectoryBlock(noise.data(), noise.size(), EncodeOptions()).empty());
    Bytes tooLarge(8193, 'a');
    EXPECT_TRUE(EncodeDirectoryBlock(tooLarge.data(), tooLarge.size(), EncodeOptions()).empty());
    Bytes fits = RandomBytes(8177, 6);
    Bytes stored = EncodeDirectoryBlock(fits.data(), fits.size(), EncodeOptions());
    ASSERT_EQ(stored.size(), 8184u);
    EXPECT_TRUE(DecodeDirectoryBytes(stored).Bytes == fits);
}

}  // namespace
