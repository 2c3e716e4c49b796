// Throughput of the block decoder: a few MB of text-like data, parsed into literals and
// matches by a simple greedy matcher, coded with per-chunk Huffman TableSets by the test bit
// writer, and cut into stream blocks of at most 1 MB decoded that share one window. Each run
// reads every block through RefillInput from an in-memory file and decodes it with
// DecodeLzBlock; the figure is MB (10^6 bytes) of output per second, median of the runs.
// zlib (raw inflate) and libdeflate decompress the same data (deflate, level 6) for
// comparison. Times are the thread's CPU time, so that other work on a busy machine does
// not count against a run.
//   bench_decode [megabytes, default 4] [runs, default 9]
#include <libdeflate.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <time.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "bench/block_stream.h"
#include "decode/input.h"
#include "decode/lzdecode.h"
#include "platform/fs.h"
#include "profile/state.h"
#include "tests/support/bit_writer.h"

namespace {

typedef std::vector<uint8_t> Bytes;

// Words with a Zipf-like frequency, some numbers and punctuation, lines of varying length.
Bytes MakeText(size_t size) {
    std::mt19937 random(1234);
    std::vector<std::string> words;
    const char* letters = "etaoinshrdlcumwfgypbvkjxqz";
    for (int i = 0; i < 10000; ++i) {
        std::string w;
        int length = 2 + (int)(random() % 9);
        for (int j = 0; j < length; ++j) w += letters[std::min<int>(25, (int)(random() % 26 * (random() % 26) / 25))];
        words.push_back(w);
    }
    Bytes text;
    size_t line = 0;
    while (text.size() < size) {
        double u = (random() + 1.0) / 4294967296.0;
        size_t index = std::min<size_t>(words.size() - 1, (size_t)(words.size() * u * u * u * u));
        const std::string& w = random() % 50 == 0 ? std::to_string(random() % 100000) : words[index];
        text.insert(text.end(), w.begin(), w.end());
        line += w.size() + 1;
        uint32_t r = random() % 100;
        if (r < 6) text.push_back(',');
        else if (r < 10) text.push_back('.');
        if (line > 60 + random() % 20) {
            text.push_back('\n');
            line = 0;
        } else {
            text.push_back(' ');
        }
    }
    text.resize(size);
    return text;
}

struct Token {
    uint32_t Length;    // 0: literal
    uint32_t Value;     // literal byte or distance
};

// Greedy parse of data[start, end) with everything before start as history, matches
// reaching at most maxDistance back.
std::vector<Token> Parse(const Bytes& data, size_t start, size_t end, size_t maxDistance) {
    const size_t kMaxLength = 1024, kDepth = 24;
    static std::vector<int64_t> head, chain;
    if (start == 0) head.assign(1 << 16, -1);
    chain.resize(data.size());
    auto hash = [&](size_t i) { return ((data[i] << 10) ^ (data[i + 1] << 5) ^ data[i + 2]) & 0xFFFF; };
    auto insert = [&](size_t i) {
        if (i + 3 > data.size()) return;
        size_t h = hash(i);
        chain[i] = head[h];
        head[h] = (int64_t)i;
    };
    std::vector<Token> tokens;
    for (size_t i = start; i < end;) {
        size_t best = 0, bestDistance = 0;
        if (i + 3 <= end) {
            size_t limit = std::min(kMaxLength, end - i);
            int64_t candidate = head[hash(i)];
            for (size_t depth = 0; candidate >= 0 && depth < kDepth; ++depth) {
                size_t distance = i - (size_t)candidate;
                if (distance > maxDistance) break;
                size_t n = 0;
                while (n < limit && data[candidate + n] == data[i + n]) ++n;
                if (n > best) best = n, bestDistance = distance;
                candidate = chain[candidate];
            }
        }
        if (best >= 3 && !(best == 3 && bestDistance > 8192)) {
            tokens.push_back({(uint32_t)best, (uint32_t)bestDistance});
            for (size_t j = 0; j < best; ++j) insert(i + j);
            i += best;
        } else {
            tokens.push_back({0, data[i]});
            insert(i);
            ++i;
        }
    }
    return tokens;
}

// One stream block of m = 2 with a TableSet for every chunk of tokens.
Bytes EncodeBlock(const std::vector<Token>& tokens, uint32_t decodedSize, bool last) {
    const size_t kChunk = 30000;
    size_t chunks = std::min<size_t>(63, (tokens.size() + kChunk - 1) / kChunk);
    size_t perChunk = (tokens.size() + chunks - 1) / chunks;
    // Distance symbols as the decoder will see them, with its two remembered distances.
    std::vector<uint32_t> symbol(tokens.size()), extra(tokens.size());
    uint32_t lastDistance = 0, previous = 0;
    for (size_t t = 0; t < tokens.size(); ++t) {
        if (tokens[t].Length == 0) continue;
        uint32_t d = tokens[t].Value, bits;
        if (d == lastDistance) {
            symbol[t] = 0;
        } else if (d == previous) {
            symbol[t] = 1;
            previous = lastDistance;
            lastDistance = d;
        } else {
            DistanceSymbol(d, &symbol[t], &bits, &extra[t]);
            if (symbol[t] >= 6) previous = lastDistance, lastDistance = d;
        }
    }
    Bytes sets;
    for (size_t c = 0; c < chunks; ++c) {
        std::vector<uint64_t> literal(288, 0), distance(42, 0);
        for (size_t t = c * perChunk; t < std::min(tokens.size(), (c + 1) * perChunk); ++t) {
            if (tokens[t].Length == 0) {
                ++literal[tokens[t].Value];
                continue;
            }
            uint32_t s, bits, value;
            LengthSymbol(tokens[t].Length, &s, &bits, &value);
            ++literal[s];
            ++distance[symbol[t]];
        }
        if (c + 1 < chunks) literal[256] = 1;
        Bytes set(344, 0);
        Bytes l = HuffmanLengths(literal, 16), d = HuffmanLengths(distance, 16);
        std::copy(l.begin(), l.end(), set.begin());
        std::copy(d.begin(), d.end(), set.begin() + 288);
        set[330] = 1;   // alphabet 1 is not used; one code keeps it well-formed
        sets.insert(sets.end(), set.begin(), set.end());
    }
    BitWriter w;
    PutBlockHeader(w, 1, last, decodedSize, 0, 2 | 7 << 2);
    LzBlockWriter block(w, 2, sets);
    for (size_t t = 0; t < tokens.size(); ++t) {
        if (t > 0 && t % perChunk == 0) block.EndSet();
        if (tokens[t].Length == 0) block.Literal((uint8_t)tokens[t].Value);
        else block.MatchSymbol(tokens[t].Length, symbol[t], extra[t]);
    }
    Bytes bytes = w.Bytes();
    if (bytes.size() > 0xFFFFF) {
        fprintf(stderr, "block too large\n");
        exit(1);
    }
    SetBlockSize(bytes, (uint32_t)bytes.size());
    return bytes;
}

}  // namespace

int main(int argc, char** argv) {
    size_t megabytes = argc > 1 ? (size_t)atoi(argv[1]) : 4;
    int runs = argc > 2 ? atoi(argv[2]) : 9;
    size_t size = megabytes * 1000000;
    Bytes text = MakeText(size);

    // Two streams of 1 MB blocks: matches within 32 KB, as in the deflate decoders below,
    // and within 1 MB, the most this format allows.
    const size_t kBlock = 1000000;
    const size_t kWindows[2] = {32768, 1048576};
    Bytes file[2];
    size_t blocks = 0;
    int fd[2];
    State.InputBuffer = (uint8_t*)malloc(kInputBufferSize + kInputBufferSlack);
    Bytes window(size);
    for (int w = 0; w < 2; ++w) {
        blocks = 0;
        for (size_t start = 0; start < size; start += kBlock, ++blocks) {
            size_t end = std::min(size, start + kBlock);
            Bytes block = EncodeBlock(Parse(text, start, end, kWindows[w]), (uint32_t)(end - start), end == size);
            file[w].insert(file[w].end(), block.begin(), block.end());
        }
        fd[w] = memfd_create("qar-bench", 0);
        if (fd[w] < 0 || write(fd[w], file[w].data(), file[w].size()) != (ssize_t)file[w].size()) {
            perror("memfd");
            return 1;
        }
        std::fill(window.begin(), window.end(), 0);
        if (DecodeStream(fd[w], window.data(), blocks) != size || window != text) {
            fprintf(stderr, "bench_decode: decoded bytes differ from the input\n");
            return 1;
        }
    }

    z_stream deflater = {};
    deflateInit2(&deflater, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    Bytes zData(deflateBound(&deflater, size));
    deflater.next_in = text.data();
    deflater.avail_in = (uInt)size;
    deflater.next_out = zData.data();
    deflater.avail_out = (uInt)zData.size();
    deflate(&deflater, Z_FINISH);
    size_t zSize = deflater.total_out;
    deflateEnd(&deflater);
    libdeflate_compressor* compressor = libdeflate_alloc_compressor(6);
    Bytes dData(libdeflate_deflate_compress_bound(compressor, size));
    size_t dSize = libdeflate_deflate_compress(compressor, text.data(), size, dData.data(), dData.size());
    libdeflate_decompressor* decompressor = libdeflate_alloc_decompressor();

    std::vector<double> qar, qarFar, zlib, deflate;
    Bytes out(size);
    for (int run = 0; run < runs; ++run) {
        double t = CpuSeconds();
        DecodeStream(fd[1], window.data(), blocks);
        qarFar.push_back(CpuSeconds() - t);
        double t0 = CpuSeconds();
        DecodeStream(fd[0], window.data(), blocks);
        double t1 = CpuSeconds();
        z_stream inflater = {};
        inflateInit2(&inflater, -15);
        inflater.next_in = zData.data();
        inflater.avail_in = (uInt)zSize;
        inflater.next_out = out.data();
        inflater.avail_out = (uInt)size;
        inflate(&inflater, Z_FINISH);
        inflateEnd(&inflater);
        double t2 = CpuSeconds();
        libdeflate_deflate_decompress(decompressor, dData.data(), dSize, out.data(), size, nullptr);
        double t3 = CpuSeconds();
        qar.push_back(t1 - t0);
        zlib.push_back(t2 - t1);
        deflate.push_back(t3 - t2);
    }
    printf("data: %zu bytes of text-like data, %zu blocks\n", size, blocks);
    printf("qar decoder:    %8.1f MB/s  (compressed %zu bytes, distances up to 32 KB)\n", size / Median(qar) / 1e6, file[0].size());
    printf("qar decoder:    %8.1f MB/s  (compressed %zu bytes, distances up to 1 MB)\n", size / Median(qarFar) / 1e6, file[1].size());
    printf("zlib inflate:   %8.1f MB/s  (compressed %zu bytes, level 6)\n", size / Median(zlib) / 1e6, zSize);
    printf("libdeflate:     %8.1f MB/s  (compressed %zu bytes, level 6)\n", size / Median(deflate) / 1e6, dSize);
    printf("32 KB stream: %.2fx zlib, %.2fx libdeflate\n", Median(zlib) / Median(qar), Median(deflate) / Median(qar));
    libdeflate_free_compressor(compressor);
    libdeflate_free_decompressor(decompressor);
    return 0;
}
