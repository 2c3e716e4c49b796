// Round trips through the core decoder: whatever EncodeStream writes must decode, block by
// block with the extractor's window rules, to exactly the input.
#include <gtest/gtest.h>
#include <stdio.h>

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
