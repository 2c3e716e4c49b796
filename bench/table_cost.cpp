// What a TableSet costs the decoder, against what a byte of output costs it: the weight the
// packer gives a new TableSet's table building when it chooses where to start one.
//
// A file (a class's files concatenated, say) is parsed by the packer's lazy parser into 1 MB
// blocks, and each block is written k times over with the test block writer: with 1 TableSet,
// and with `sets` TableSets of equal token counts. In the "same" streams every TableSet of a
// block has the block's own code lengths, so the symbols cost the same bits and the only
// extra work is building the tables (and reading a TableSet of lengths that repeat the
// previous one, and symbol 256); in the "own" streams each TableSet has the code of its own
// tokens, as the packer makes them, so their lengths take a real reading. Each stream is
// decoded with DecodeLzBlock, in turns, `runs` times; the figures are medians of the
// thread's CPU time.
//   bench_table_cost FILE [megabytes, default 4] [sets, default 32] [runs, default 15]
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

#include "bench/block_stream.h"
#include "decode/input.h"
#include "decode/lzdecode.h"
#include "pack/block_writer.h"
#include "pack/parser.h"
#include "platform/fs.h"
#include "profile/state.h"
#include "tests/support/bit_writer.h"

namespace {

typedef std::vector<uint8_t> Bytes;

// The 344 lengths (two distance alphabets) of a code for tokens[begin, end), with symbol 256.
Bytes LengthsFor(const std::vector<Token>& tokens, size_t begin, size_t end) {
    SymbolCounts counts;
    CountSymbols(tokens.data() + begin, end - begin, 2, counts);
    counts.Main[kEndOfTableSet]++;
    uint8_t set[372];
    BuildTableSet(counts, 2, set);
    // An unused alphabet gets one code, so that its table is built like a used one.
    for (int a = 0; a < 2; a++) {
        bool any = false;
        for (uint32_t s = 0; s < kAlphabetSize[a]; s++) any |= set[kAlphabetOffset[a] + s] != 0;
        if (!any) set[kAlphabetOffset[a]] = 1;
    }
    return Bytes(set, set + 344);
}

// One stream block of the tokens with `sets` TableSets over equal token counts; own: each
// TableSet has its tokens' code, else all have the whole block's code.
Bytes EncodeBlock(const std::vector<Token>& tokens, uint32_t decodedSize, bool last, size_t sets,
                  bool own) {
    size_t per = (tokens.size() + sets - 1) / sets;
    Bytes lengths;
    Bytes whole = LengthsFor(tokens, 0, tokens.size());
    for (size_t k = 0; k < sets; k++) {
        size_t begin = std::min(tokens.size(), k * per), end = std::min(tokens.size(), begin + per);
        Bytes set = own ? LengthsFor(tokens, begin, end) : whole;
        lengths.insert(lengths.end(), set.begin(), set.end());
    }
    BitWriter w;
    PutBlockHeader(w, 1, last, decodedSize, 0, 2 | 7 << 2);
    LzBlockWriter block(w, 2, lengths);
    for (size_t t = 0; t < tokens.size(); ++t) {
        if (t > 0 && t % per == 0) block.EndSet();
        const Token& token = tokens[t];
        if (token.Length == 0) {
            block.Literal(token.Literal);
        } else {
            uint32_t extra = token.DistanceSymbol >= 6 ? token.Distance - DistanceBase(token.DistanceSymbol) : 0;
            block.MatchSymbol(token.Length, token.DistanceSymbol, extra);
        }
    }
    Bytes bytes = w.Bytes();
    SetBlockSize(bytes, (uint32_t)bytes.size());
    return bytes;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: bench_table_cost FILE [megabytes] [sets] [runs]\n");
        return 2;
    }
    Bytes data;
    if (FILE* f = fopen(argv[1], "rb")) {
        uint8_t buffer[1 << 16];
        size_t n;
        while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) data.insert(data.end(), buffer, buffer + n);
        fclose(f);
    }
    size_t limit = (size_t)(argc > 2 ? atof(argv[2]) : 4) * 1000000;
    size_t sets = argc > 3 ? (size_t)atoi(argv[3]) : 32;
    int runs = argc > 4 ? atoi(argv[4]) : 15;
    if (data.size() > limit) data.resize(limit);
    if (data.empty() || sets < 2 || sets > 63 || runs < 1) {
        fprintf(stderr, "bench_table_cost: no data, or sets not in 2..63, or no runs\n");
        return 2;
    }

    const size_t kBlock = 1000000;
    std::vector<std::vector<Token>> parsed;
    std::unique_ptr<BlockParser> parser = MakeLazyParser(data.data(), data.size(), 6);
    for (size_t start = 0; start < data.size(); start += kBlock) {
        ParsedBlock block;
        size_t end = std::min(data.size(), start + kBlock);
        parser->Parse(start, (uint32_t)(end - start), start > kMaxDistance ? start - kMaxDistance : 0, block);
        parsed.push_back(block.Tokens);
    }
    // Streams: one TableSet per block, `sets` alike, `sets` of their own.
    const char* names[3] = {"one", "same", "own"};
    int fd[3];
    size_t bytes[3] = {};
    State.InputBuffer = (uint8_t*)malloc(kInputBufferSize + kInputBufferSlack);
    Bytes window(data.size());
    for (int s = 0; s < 3; ++s) {
        Bytes file;
        for (size_t b = 0; b < parsed.size(); ++b) {
            size_t end = std::min(data.size(), (b + 1) * kBlock);
            Bytes block = EncodeBlock(parsed[b], (uint32_t)(end - b * kBlock), end == data.size(),
                                      s == 0 ? 1 : sets, s == 2);
            file.insert(file.end(), block.begin(), block.end());
        }
        bytes[s] = file.size();
        fd[s] = memfd_create("qar-bench", 0);
        if (fd[s] < 0 || write(fd[s], file.data(), file.size()) != (ssize_t)file.size()) {
            perror("memfd");
            return 1;
        }
        std::fill(window.begin(), window.end(), 0);
        if (DecodeStream(fd[s], window.data(), parsed.size()) != data.size() || window != data) {
            fprintf(stderr, "bench_table_cost: the %s stream decodes wrongly\n", names[s]);
            return 1;
        }
    }
    std::vector<double> times[3];
    for (int run = 0; run < runs; ++run) {
        for (int s = 0; s < 3; ++s) {
            double t = CpuSeconds();
            DecodeStream(fd[s], window.data(), parsed.size());
            times[s].push_back(CpuSeconds() - t);
        }
    }
    double perByte = Median(times[0]) * 1e9 / (double)data.size();
    size_t extraSets = parsed.size() * (sets - 1);
    printf("%zu bytes, %zu blocks, %zu TableSets per block in the split streams\n", data.size(),
           parsed.size(), sets);
    printf("one TableSet:  %zu bytes, %.3f ns per output byte\n", bytes[0], perByte);
    for (int s = 1; s < 3; ++s) {
        double perSet = (Median(times[s]) - Median(times[0])) * 1e9 / (double)extraSets;
        printf("%-5s sets:    %zu bytes, %.0f ns per extra TableSet = %.0f output bytes\n", names[s],
               bytes[s], perSet, perSet / perByte);
    }
    return 0;
}
