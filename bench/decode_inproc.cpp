// In-process decoding speed: qar's member extraction beside zlib's inflate, libdeflate and
// zstd, each decoding one class of the corpus from memory with its own checksum checked.
//
//   bench_inproc --raw FILE [--gzip FILE] [--zstd FILE] [--qar FILE] [--runs N]
//
// --raw is the class's files concatenated (what the peers' streams decode to); --gzip and
// --zstd are that concatenation compressed by the peers' tools; --qar is qar's archive of the
// same files. Each decoder runs once untimed (its output is checked then) and N times timed.
// Output, one line per decoder: "<name> <output bytes> <seconds of each run>", the runs
// interleaved round by round; for qar also "qar-window <largest window bytes>" and
// "qar-heap-peak <most heap bytes one whole extraction had in use>" (every allocation of
// the core goes through malloc, counted exactly by heap_count.cpp). A decoder that fails
// prints "<name> error <reason>" and makes the exit status 1.
//
// What qar's figure covers: the archive sits in a memory file (memfd) and is read through
// the file-system layer in InputBuffer-sized reads; members go through ExtractMember (LZ
// decode into the history window, call filter, CRC-32) and FsWrite to /dev/null. The peers
// decode from a memory buffer into a memory buffer.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include <libdeflate.h>
#include <zlib.h>
#include <zstd.h>

#include "bench/heap_count.h"
#include "bench/qar_decode.h"
#include "bench/timing.h"
#include "decode/crc32.h"

namespace {

std::vector<uint8_t> ReadWhole(const std::string& path) {
    std::vector<uint8_t> bytes;
    FILE* f = fopen(path.c_str(), "rb");
    if (f == nullptr) {
        fprintf(stderr, "bench_inproc: cannot open %s\n", path.c_str());
        exit(2);
    }
    uint8_t chunk[1 << 16];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, f)) > 0) bytes.insert(bytes.end(), chunk, chunk + n);
    fclose(f);
    return bytes;
}

bool InflateGzip(const std::vector<uint8_t>& in, std::vector<uint8_t>& out, size_t* produced,
                 std::string* error) {
    z_stream s;
    memset(&s, 0, sizeof s);
    if (inflateInit2(&s, 15 + 16) != Z_OK) {
        *error = "inflateInit2";
        return false;
    }
    s.next_in = const_cast<Bytef*>(in.data());
    s.avail_in = (uInt)in.size();
    s.next_out = out.data();
    s.avail_out = (uInt)out.size();
    int r = inflate(&s, Z_FINISH);   // checks the gzip trailer's CRC-32 and length
    *produced = s.total_out;
    inflateEnd(&s);
    if (r != Z_STREAM_END) {
        *error = "inflate returned " + std::to_string(r);
        return false;
    }
    return true;
}

bool LibdeflateGzip(libdeflate_decompressor* d, const std::vector<uint8_t>& in,
                    std::vector<uint8_t>& out, size_t* produced, std::string* error) {
    libdeflate_result r =
        libdeflate_gzip_decompress(d, in.data(), in.size(), out.data(), out.size(), produced);
    if (r != LIBDEFLATE_SUCCESS) {
        *error = "libdeflate_gzip_decompress returned " + std::to_string((int)r);
        return false;
    }
    return true;
}

bool ZstdDecompress(ZSTD_DCtx* d, const std::vector<uint8_t>& in, std::vector<uint8_t>& out,
                    size_t* produced, std::string* error) {
    size_t r = ZSTD_decompressDCtx(d, out.data(), out.size(), in.data(), in.size());
    if (ZSTD_isError(r)) {
        *error = ZSTD_getErrorName(r);
        return false;
    }
    *produced = r;
    return true;
}

// Copies bytes into a memory file and returns a path by which the file-system layer opens it.
std::string MemoryFile(const std::vector<uint8_t>& bytes) {
    int fd = memfd_create("qar-archive", 0);
    if (fd < 0) {
        perror("bench_inproc: memfd_create");
        exit(2);
    }
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t w = write(fd, bytes.data() + done, bytes.size() - done);
        if (w <= 0) {
            perror("bench_inproc: write to memfd");
            exit(2);
        }
        done += (size_t)w;
    }
    return "/proc/self/fd/" + std::to_string(fd);
}

// One decoder. Check runs it once untimed and verifies its output; Run is one timed run.
struct Decoder {
    std::string Name;
    std::function<bool(std::string* error)> Check;
    std::function<bool(std::string* error)> Run;
    uint64_t Bytes = 0;
    std::vector<double> Times;
    bool Failed = false;
};

// A peer: decodes into out (one spare byte, so that an overlong result shows).
template <typename F>
Decoder Peer(const char* name, const std::vector<uint8_t>& raw, std::vector<uint8_t>& out,
             F decode) {
    Decoder d;
    d.Name = name;
    d.Bytes = raw.size();
    d.Run = [&out, decode](std::string* error) {
        size_t produced = 0;
        return decode(out, &produced, error);
    };
    d.Check = [&raw, &out, decode](std::string* error) {
        size_t produced = 0;
        memset(out.data(), 0, out.size());
        if (!decode(out, &produced, error)) return false;
        if (produced != raw.size() || memcmp(out.data(), raw.data(), raw.size()) != 0) {
            *error = "output differs from the raw data (" + std::to_string(produced) +
                     " bytes, expected " + std::to_string(raw.size()) + ")";
            return false;
        }
        return true;
    };
    return d;
}

Decoder Qar(const std::string& path, uint64_t rawSize) {
    Decoder d;
    d.Name = "qar";
    d.Bytes = rawSize;
    d.Check = [path, rawSize](std::string* error) {
        if (!QarDecodeLinked()) {
            *error = "not linked in this build";
            return false;
        }
        HeapResetPeak();
        QarDecodeResult r = DecodeQarArchive(path.c_str(), "/dev/null");
        uint64_t peak = HeapPeakGrowth();
        if (r.Error != 0 || r.CrcFailures != 0 || r.Bytes != rawSize) {
            *error = "code " + std::to_string(r.Error) + ", " + std::to_string(r.CrcFailures) +
                     " CRC failures, " + std::to_string(r.Bytes) + " bytes of " +
                     std::to_string(rawSize);
            return false;
        }
        printf("qar-window %u\n", r.LargestWindow);
        printf("qar-heap-peak %llu\n", (unsigned long long)peak);
        return true;
    };
    d.Run = [path](std::string* error) {
        QarDecodeResult r = DecodeQarArchive(path.c_str(), "/dev/null");
        if (r.Error != 0 || r.CrcFailures != 0) {
            *error = "code " + std::to_string(r.Error) + " on a timed run";
            return false;
        }
        return true;
    };
    return d;
}

}  // namespace

int main(int argc, char** argv) {
    std::string raw, gz, zst, qar;
    int runs = 5;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        const char* v = i + 1 < argc ? argv[i + 1] : nullptr;
        if (v == nullptr) {
            fprintf(stderr, "bench_inproc: %s needs a value\n", a.c_str());
            return 2;
        }
        if (a == "--raw") raw = v;
        else if (a == "--gzip") gz = v;
        else if (a == "--zstd") zst = v;
        else if (a == "--qar") qar = v;
        else if (a == "--runs") runs = atoi(v);
        else {
            fprintf(stderr, "usage: bench_inproc --raw FILE [--gzip F] [--zstd F] [--qar F]"
                            " [--runs N]\n");
            return 2;
        }
        ++i;
    }
    if (raw.empty() || runs < 1) {
        fprintf(stderr, "bench_inproc: --raw FILE and a positive --runs are needed\n");
        return 2;
    }
    BuildCrcTable();
    std::vector<uint8_t> rawBytes = ReadWhole(raw);
    std::vector<uint8_t> out(rawBytes.size() + 1);
    std::vector<uint8_t> gzBytes = gz.empty() ? std::vector<uint8_t>() : ReadWhole(gz);
    std::vector<uint8_t> zstBytes = zst.empty() ? std::vector<uint8_t>() : ReadWhole(zst);
    libdeflate_decompressor* ld = libdeflate_alloc_decompressor();
    ZSTD_DCtx* zd = ZSTD_createDCtx();
    ZSTD_DCtx_setParameter(zd, ZSTD_d_windowLogMax, 31);   // frames made with --long

    std::vector<Decoder> decoders;
    if (!qar.empty()) decoders.push_back(Qar(MemoryFile(ReadWhole(qar)), rawBytes.size()));
    typedef std::vector<uint8_t> Bytes;
    if (!gz.empty()) {
        decoders.push_back(Peer("zlib", rawBytes, out, [&](Bytes& o, size_t* n, std::string* e) {
            return InflateGzip(gzBytes, o, n, e);
        }));
        decoders.push_back(Peer("libdeflate", rawBytes, out,
                                [&](Bytes& o, size_t* n, std::string* e) {
                                    return LibdeflateGzip(ld, gzBytes, o, n, e);
                                }));
    }
    if (!zst.empty()) {
        decoders.push_back(Peer("zstd", rawBytes, out, [&](Bytes& o, size_t* n, std::string* e) {
            return ZstdDecompress(zd, zstBytes, o, n, e);
        }));
    }

    bool ok = true;
    std::string error;
    for (Decoder& d : decoders) {
        if (!d.Check(&error)) {
            printf("%s error %s\n", d.Name.c_str(), error.c_str());
            d.Failed = true;
            ok = false;
        }
    }
    // Round by round, so that the machine's mood hits every decoder alike.
    for (int i = 0; i < runs; ++i) {
        for (Decoder& d : decoders) {
            if (d.Failed) continue;
            double t0 = NowSeconds();
            bool good = d.Run(&error);
            d.Times.push_back(NowSeconds() - t0);
            if (!good) {
                printf("%s error %s\n", d.Name.c_str(), error.c_str());
                d.Failed = true;
                ok = false;
            }
        }
    }
    for (const Decoder& d : decoders) {
        if (!d.Failed) PrintTimes(d.Name.c_str(), d.Bytes, d.Times);
    }
    libdeflate_free_decompressor(ld);
    ZSTD_freeDCtx(zd);
    return ok ? 0 : 1;
}
