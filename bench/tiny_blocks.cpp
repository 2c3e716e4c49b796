// The cost of many tiny blocks: `qar test` on an archive whose stream is 100,000 blocks of
// one decoded byte each, every one of them asking for the largest window behind a history
// that already fills it, beside `qar test` on a packed archive of ordinary text of the same
// file size. A decoder whose work per block grows with the window shows a large ratio here;
// one whose work follows the bytes decoded stays within a small factor. The same tiny
// blocks asking for the smallest window show what the window size itself costs.
//
//   bench_tiny_blocks [--runs N] [--blocks N] [--keep DIR] QAR...
//
// Each QAR is a `qar` binary (for instance one built before and one after a change); for
// each it prints the best wall time of N runs (default 5) of `qar test -q` on the archives,
// the ratio of the largest-window tiny blocks to the packed text and to the smallest-window
// tiny blocks. The exit status is 1 when a run fails, never because of a time.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "bench/timing.h"
#include "pack/container.h"
#include "profile/profile.h"
#include "tests/support/archive_builder.h"

using namespace qartest;

namespace {

struct WindowChoice {
    uint32_t Class, Index, Size;
};

// The largest or the smallest window of the profile.
WindowChoice PickWindow(bool largest) {
    WindowChoice best = {0, 0, Profile.WindowSizes[0][0]};
    for (uint32_t c = 0; c < 3; ++c) {
        for (uint32_t i = 0; i < 8; ++i) {
            uint32_t size = Profile.WindowSizes[c][i];
            if (largest ? size > best.Size : size < best.Size) best = {c, i, size};
        }
    }
    return best;
}

// Words of a small vocabulary in lines: text that packs to about a third of its size.
Bytes MakeText(size_t size, uint32_t seed) {
    std::mt19937 random(seed);
    std::vector<std::string> words;
    for (int i = 0; i < 5000; ++i) {
        std::string w;
        for (int j = 2 + (int)(random() % 9); j > 0; --j) w += (char)('a' + random() % 26);
        words.push_back(w);
    }
    Bytes text;
    size_t line = 0;
    while (text.size() < size) {
        double u = (random() + 1.0) / 4294967296.0;
        const std::string& w = words[(size_t)(words.size() * u * u * u)];
        text.insert(text.end(), w.begin(), w.end());
        line += w.size() + 1;
        text.push_back(line > 70 ? '\n' : ' ');
        if (line > 70) line = 0;
    }
    text.resize(size);
    return text;
}

// One member whose stream is a stored block that fills the largest window, then `blocks`
// compressed blocks of one literal each, all asking for the given window.
Bytes TinyBlockArchive(uint32_t blocks, const WindowChoice& window) {
    ArchiveBuilder b;
    const size_t fill = PickWindow(true).Size + 4096;
    Bytes plain = MakeText(fill + blocks, 7);
    b.AddFile("tiny.txt", plain);
    b.Layout();
    Bytes decoded = b.Streams[0].Decoded;
    // The stored block takes everything but the last `blocks` bytes of the record.
    size_t first = decoded.size() - blocks;
    std::vector<Bytes>& out = b.Streams[0].Blocks;
    out.clear();
    out.push_back(StoredBlock(decoded.data(), first, false));
    // Every tiny block sees the full window of history in front of it; the default code
    // depends only on where the block ends, so each byte value's block is made once.
    std::vector<Bytes> byValue(256);
    for (size_t i = 0; i < blocks; ++i) {
        uint8_t x = decoded[first + i];
        bool last = i + 1 == blocks;
        if (last) {
            out.push_back(LiteralBlock({x}, true, window.Class, window.Index, window.Size + 1));
            continue;
        }
        if (byValue[x].empty())
            byValue[x] = LiteralBlock({x}, false, window.Class, window.Index, window.Size + 1);
        out.push_back(byValue[x]);
    }
    b.PlaceStreams();
    return b.Write();
}

// An archive made by the packer from text, of about `target` bytes.
Bytes NormalArchive(size_t target) {
    PackOptions options;
    options.Threads = 1;
    auto build = [&](size_t size) {
        SourceEntry e;
        e.Name = "text.txt";
        e.HasData = true;
        e.Data = MakeText(size, 11);
        e.Size = size;
        return BuildArchive({e}, options);
    };
    size_t size = target * 3;
    Bytes archive = build(size);
    for (int round = 0; round < 3; ++round) {
        size = (size_t)((double)size * target / archive.size());
        archive = build(size);
    }
    return archive;
}

// Best wall time of `runs` runs of `qar test -q archive`; negative when a run fails.
double TimeTest(const std::string& qar, const std::string& archive, int runs) {
    double best = 1e30;
    fflush(stdout);   // nothing buffered may be written again by the child
    for (int i = 0; i < runs; ++i) {
        double start = NowSeconds();
        pid_t pid = fork();
        if (pid == 0) {
            freopen("/dev/null", "w", stdout);
            execl(qar.c_str(), qar.c_str(), "test", "-q", archive.c_str(), (char*)nullptr);
            _exit(127);
        }
        int status = 0;
        waitpid(pid, &status, 0);
        double elapsed = NowSeconds() - start;
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            fprintf(stderr, "%s test %s failed (status %d)\n", qar.c_str(), archive.c_str(), status);
            return -1;
        }
        best = std::min(best, elapsed);
    }
    return best;
}

}  // namespace

int main(int argc, char** argv) {
    int runs = 5;
    uint32_t blocks = 100000;
    std::string keep;
    std::vector<std::string> binaries;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--runs" && i + 1 < argc) {
            runs = atoi(argv[++i]);
        } else if (a == "--blocks" && i + 1 < argc) {
            blocks = (uint32_t)atoi(argv[++i]);
        } else if (a == "--keep" && i + 1 < argc) {
            keep = argv[++i];
        } else if (a[0] != '-') {
            binaries.push_back(a);
        } else {
            binaries.clear();
            break;
        }
    }
    if (binaries.empty() || runs < 1 || blocks < 1) {
        fputs("usage: bench_tiny_blocks [--runs N] [--blocks N] [--keep DIR] QAR...\n", stderr);
        return 2;
    }
    std::string folder = keep.empty() ? MakeTempFolder("tiny-blocks") : keep;
    if (!keep.empty()) mkdir(keep.c_str(), 0755);
    const std::string tinyPath = folder + "/tiny-blocks.qar", normalPath = folder + "/normal.qar",
                      smallPath = folder + "/tiny-blocks-small-window.qar";
    const WindowChoice largest = PickWindow(true), smallest = PickWindow(false);
    Bytes tiny = TinyBlockArchive(blocks, largest);
    Bytes small = TinyBlockArchive(blocks, smallest);
    Bytes normal = NormalArchive(tiny.size());
    WriteWholeFile(tinyPath, tiny);
    WriteWholeFile(smallPath, small);
    WriteWholeFile(normalPath, normal);
    printf("archives: %u tiny blocks (window %u) %zu bytes, packed text %zu bytes, the tiny blocks "
           "with window %u; best of %d runs\n",
           blocks, largest.Size, tiny.size(), normal.size(), smallest.Size, runs);
    int status = 0;
    for (const std::string& qar : binaries) {
        double t = TimeTest(qar, tinyPath, runs);
        double n = TimeTest(qar, normalPath, runs);
        double w = TimeTest(qar, smallPath, runs);
        if (t < 0 || n < 0 || w < 0) {
            status = 1;
            continue;
        }
        printf("%s: tiny blocks %.3f s, packed text %.3f s, ratio %.1f; smallest window %.3f s, "
               "largest/smallest %.2f\n",
               qar.c_str(), t, n, t / n, w, t / w);
    }
    if (keep.empty()) RemoveTree(folder);
    return status;
}
