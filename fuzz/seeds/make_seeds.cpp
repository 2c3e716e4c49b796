// Writes well-formed starting inputs for the fuzz targets, made with the test bit writer:
//   fuzz_make_seeds <corpus folder>   (creates <folder>/<target>/seed-N)
#include <stdio.h>
#include <sys/stat.h>

#include <random>
#include <string>
#include <vector>

#include "tests/support/bit_writer.h"

namespace {

typedef std::vector<uint8_t> Bytes;

void Save(const std::string& folder, const std::string& target, int n, const Bytes& bytes) {
    std::string dir = folder + "/" + target;
    mkdir(folder.c_str(), 0777);
    mkdir(dir.c_str(), 0777);
    std::string path = dir + "/seed-" + std::to_string(n);
    FILE* f = fopen(path.c_str(), "wb");
    if (f == nullptr) {
        perror(path.c_str());
        return;
    }
    fwrite(bytes.data(), 1, bytes.size(), f);
    fclose(f);
}

Bytes RandomSets(std::mt19937& random, uint32_t count, uint32_t setSize) {
    Bytes sets;
    for (uint32_t i = 0; i < count; ++i) {
        for (auto [first, n] : {std::pair{0u, 288u}, {288u, 42u}, {330u, 14u}, {344u, 28u}}) {
            if (first + n > setSize) continue;
            std::vector<uint64_t> f(n);
            for (auto& x : f) x = random() % 3 == 0 ? 0 : 1 + random() % 100;
            // The symbols the seeds use: literals 0-3, 256, lengths 2 and 3, distances 1-4.
            for (uint32_t s = 0; s < 6; ++s) f[s] = 1 + f[s];
            if (first == 0) f[256] = f[257] = f[258] = 1;
            Bytes lengths = HuffmanLengths(f, 16);
            sets.insert(sets.end(), lengths.begin(), lengths.end());
        }
    }
    return sets;
}

// A block body of count bytes: literals and short matches, with TableSet switches.
Bytes Body(std::mt19937& random, uint32_t alphabets, uint32_t setCount, uint32_t history,
           uint32_t count) {
    BitWriter w;
    uint32_t setSize = alphabets == 3 ? kWriterSetLong : kWriterSetShort;
    Bytes sets = RandomSets(random, setCount, setSize);
    LzBlockWriter block(w, alphabets, sets, history + count);
    uint32_t o = 0, switches = setCount > 0 ? setCount - 1 : 0;
    while (o < count) {
        if (o > 4 && random() % 3 == 0) {
            uint32_t length = 2 + random() % 2;
            block.Match(length, 1 + random() % 4);
            o += length;
        } else if (switches > 0 && random() % 16 == 0) {
            block.EndSet();
            --switches;
        } else {
            block.Literal(setCount == 0 ? (uint8_t)random() : (uint8_t)(random() % 4));
            ++o;
        }
    }
    return w.Bytes();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: %s <corpus folder>\n", argv[0]);
        return 2;
    }
    std::string folder = argv[1];
    std::mt19937 random(2026);

    // block_decoder: control byte (history | count << 2), pattern byte, body.
    struct Shape { uint8_t control; uint32_t history, count, alphabets, sets; };
    const Shape shapes[] = {
        {0 | 2 << 2, 0, 4, 2, 0}, {0 | 3 << 2, 0, 100, 2, 1}, {2 | 3 << 2, 5000, 100, 3, 2},
        {1 | 4 << 2, 1, 8192, 2, 0}, {2 | 5 << 2, 5000, 8193, 3, 4}, {0 | 5 << 2, 0, 8193, 2, 0},
    };
    int n = 0;
    for (const Shape& s : shapes) {
        Bytes seed = {s.control, 0x5A};
        Bytes body = Body(random, s.alphabets, s.sets, s.history, s.count);
        seed.insert(seed.end(), body.begin(), body.end());
        Save(folder, "block_decoder", n++, seed);
    }

    // code_lengths: count | long sets << 6 | long default distances << 7, then the lengths.
    n = 0;
    for (uint32_t count : {1u, 2u, 5u, 63u}) {
        for (uint32_t setSize : {kWriterSetShort, kWriterSetLong}) {
            BitWriter w;
            WriteTableSets(w, RandomSets(random, count, setSize), setSize);
            Bytes seed = {(uint8_t)(count | (setSize == kWriterSetLong ? 64 : 0) | 128)};
            seed.insert(seed.end(), w.Bytes().begin(), w.Bytes().end());
            Save(folder, "code_lengths", n++, seed);
        }
    }

    // directory: a compressed block and a stored block, each behind its signature.
    const Bytes signature = {'Q', 'A', 'R', 'D', 'E', 0};
    Bytes directory;
    for (uint32_t size : {98u, 500u}) {
        BitWriter w;
        PutBlockHeader(w, 1, false, size, 0);
        LzBlockWriter block(w, 2, {}, size);
        for (uint32_t i = 0; i < size; ++i) block.Literal((uint8_t)(i % 7 == 0 ? 0 : 'a' + i % 26));
        Bytes b = w.Bytes();
        SetBlockSize(b, (uint32_t)b.size());
        directory.insert(directory.end(), signature.begin(), signature.end());
        directory.insert(directory.end(), b.begin(), b.end());
    }
    BitWriter stored;
    PutBlockHeader(stored, 0, false, 60, 67);
    Bytes s = stored.Bytes();
    s.resize(7, 0);
    for (int i = 0; i < 60; ++i) s.push_back((uint8_t)i);
    directory.insert(directory.end(), signature.begin(), signature.end());
    directory.insert(directory.end(), s.begin(), s.end());
    Save(folder, "directory", 0, directory);
    return 0;
}
