// CRC-32 throughput: ours (decode/crc32.h) beside zlib's crc32() and libdeflate_crc32(), over
// the same 1 MiB buffer (cache-resident, so the figure is the method's, not the memory's).
//
//   bench_crc [--runs N] [--mib M]
//
// Each run checksums M MiB (the buffer M times, chained). Output, one line per method:
// "<name> <bytes> <seconds of each run>", the runs interleaved round by round. Before
// timing, the three must agree on the value of the buffer and on a chained run, or the
// program prints "<name> error ..." and exits with 1.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include <libdeflate.h>
#include <zlib.h>

#include "bench/timing.h"
#include "decode/crc32.h"

namespace {

const uint32_t kBufferSize = 1u << 20;

// Ours neither presets nor inverts; the others do both.
uint32_t Ours(const std::vector<uint8_t>& buffer, int passes) {
    uint32_t crc = 0xFFFFFFFFu;
    for (int i = 0; i < passes; ++i) crc = Crc32(buffer.data(), (uint32_t)buffer.size(), crc);
    return ~crc;
}

uint32_t Zlib(const std::vector<uint8_t>& buffer, int passes) {
    uLong crc = crc32(0, nullptr, 0);
    for (int i = 0; i < passes; ++i) crc = crc32(crc, buffer.data(), (uInt)buffer.size());
    return (uint32_t)crc;
}

uint32_t Libdeflate(const std::vector<uint8_t>& buffer, int passes) {
    uint32_t crc = 0;
    for (int i = 0; i < passes; ++i) crc = libdeflate_crc32(crc, buffer.data(), buffer.size());
    return crc;
}

}  // namespace

int main(int argc, char** argv) {
    int runs = 5, mib = 256;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!strcmp(argv[i], "--runs")) runs = atoi(argv[i + 1]);
        else if (!strcmp(argv[i], "--mib")) mib = atoi(argv[i + 1]);
    }
    if (runs < 1 || mib < 1 || argc % 2 == 0) {
        fprintf(stderr, "usage: bench_crc [--runs N] [--mib M]\n");
        return 2;
    }
    BuildCrcTable();
    std::vector<uint8_t> buffer(kBufferSize);
    uint32_t x = 0x12345678u;
    for (uint8_t& b : buffer) {
        x = x * 1664525u + 1013904223u;
        b = (uint8_t)(x >> 24);
    }
    // Unaligned starts and odd lengths are where a word-wise method goes wrong.
    for (uint32_t start = 0; start < 8; ++start) {
        for (uint32_t length : {0u, 1u, 3u, 7u, 8u, 15u, 64u, 1001u}) {
            const uint8_t* p = buffer.data() + start;
            uint32_t ours = ~Crc32(p, length, 0xFFFFFFFFu);
            if (ours != (uint32_t)crc32(0, p, length)) {
                printf("qar error differs from zlib at start %u length %u\n", start, length);
                return 1;
            }
        }
    }

    struct Method {
        const char* Name;
        uint32_t (*Run)(const std::vector<uint8_t>&, int);
    };
    const Method methods[] = {
        {"crc-qar", Ours}, {"crc-zlib", Zlib}, {"crc-libdeflate", Libdeflate}};
    uint32_t expected = Zlib(buffer, 3);
    for (const Method& m : methods) {
        if (m.Run(buffer, 3) != expected) {
            printf("%s error chained value differs from zlib's\n", m.Name);
            return 1;
        }
    }
    // Round by round, so that the machine's mood hits every method alike.
    std::vector<double> seconds[3];
    volatile uint32_t sink = 0;
    for (int i = 0; i < runs; ++i) {
        for (int k = 0; k < 3; ++k) {
            double t0 = NowSeconds();
            sink = sink + methods[k].Run(buffer, mib);
            seconds[k].push_back(NowSeconds() - t0);
        }
    }
    for (int k = 0; k < 3; ++k) {
        PrintTimes(methods[k].Name, (uint64_t)mib * kBufferSize, seconds[k]);
    }
    return 0;
}
