// In-process decoding speed: qar's member extraction beside zlib's inflate, libdeflate and
// zstd, each decoding one class of the corpus from memory with its own checksum checked.
//
//   bench_inproc --raw FILE [--gzip FILE] [--zstd FILE] [--qar FILE] [--runs N]
//
// --raw is the class's files concatenated (what the peers' streams decode to); --gzip and
// --zstd are that concatenation compressed by the peers' tools; --qar is qar's archive of the
// same files. Each decoder runs once untimed (its output is checked then) and N times timed.
// Output, one line per decoder: "<name> <output bytes> <median s> <min s> <max s>", and for
// qar also "qar-window <largest window bytes>". A decoder that fails prints
// "<name> error <reason>" and makes the exit status 1.
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

// One decoder: decodes into out (sized for the raw data plus one spare byte, so that an
// overlong result shows) and returns the bytes produced, or an error text.
struct Decoder {
    const char* Name;
    std::function<bool(std::vector<uint8_t>& out, size_t* produced, std::string* error)> Run;
};

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

// Runs a decoder once to check it, then runs times timed. Returns false on any failure.
bool Measure(const Decoder& d, const std::vector<uint8_t>& raw, int runs) {
    std::vector<uint8_t> out(raw.size() + 1);
    size_t produced = 0;
    std::string error;
    if (!d.Run(out, &produced, &error)) {
        printf("%s error %s\n", d.Name, error.c_str());
        return false;
    }
    if (produced != raw.size() || memcmp(out.data(), raw.data(), raw.size()) != 0) {
        printf("%s error output differs from the raw data (%zu bytes, expected %zu)\n", d.Name,
               produced, raw.size());
        return false;
    }
    std::vector<double> seconds;
    for (int i = 0; i < runs; ++i) {
        double t0 = NowSeconds();
        bool ok = d.Run(out, &produced, &error);
        seconds.push_back(NowSeconds() - t0);
        if (!ok) {
            printf("%s error %s\n", d.Name, error.c_str());
            return false;
        }
    }
    PrintSummary(d.Name, produced, Summarise(seconds));
    return true;
}

bool MeasureQar(const std::string& archive, uint64_t rawSize, int runs) {
    if (!QarDecodeLinked()) {
        printf("qar error not linked in this build\n");
        return false;
    }
    std::string path = MemoryFile(ReadWhole(archive));
    QarDecodeResult first = DecodeQarArchive(path.c_str(), "/dev/null");
    if (first.Error != 0 || first.CrcFailures != 0 || first.Bytes != rawSize) {
        printf("qar error code %d, %u CRC failures, %llu bytes of %llu\n", first.Error,
               first.CrcFailures, (unsigned long long)first.Bytes, (unsigned long long)rawSize);
        return false;
    }
    std::vector<double> seconds;
    for (int i = 0; i < runs; ++i) {
        double t0 = NowSeconds();
        QarDecodeResult r = DecodeQarArchive(path.c_str(), "/dev/null");
        seconds.push_back(NowSeconds() - t0);
        if (r.Error != 0 || r.CrcFailures != 0) {
            printf("qar error code %d on a timed run\n", r.Error);
            return false;
        }
    }
    PrintSummary("qar", first.Bytes, Summarise(seconds));
    printf("qar-window %u\n", first.LargestWindow);
    return true;
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
            fprintf(stderr, "usage: bench_inproc --raw FILE [--gzip F] [--zstd F] [--qar F] [--runs N]\n");
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
    bool ok = true;

    if (!qar.empty()) ok = MeasureQar(qar, rawBytes.size(), runs) && ok;
    if (!gz.empty()) {
        std::vector<uint8_t> in = ReadWhole(gz);
        ok = Measure({"zlib", [&](std::vector<uint8_t>& out, size_t* n, std::string* e) {
                          return InflateGzip(in, out, n, e);
                      }},
                     rawBytes, runs) && ok;
        libdeflate_decompressor* d = libdeflate_alloc_decompressor();
        ok = Measure({"libdeflate", [&](std::vector<uint8_t>& out, size_t* n, std::string* e) {
                          return LibdeflateGzip(d, in, out, n, e);
                      }},
                     rawBytes, runs) && ok;
        libdeflate_free_decompressor(d);
    }
    if (!zst.empty()) {
        std::vector<uint8_t> in = ReadWhole(zst);
        ZSTD_DCtx* d = ZSTD_createDCtx();
        ZSTD_DCtx_setParameter(d, ZSTD_d_windowLogMax, 31);   // frames made with --long
        ok = Measure({"zstd", [&](std::vector<uint8_t>& out, size_t* n, std::string* e) {
                          return ZstdDecompress(d, in, out, n, e);
                      }},
                     rawBytes, runs) && ok;
        ZSTD_freeDCtx(d);
    }
    return ok ? 0 : 1;
}
