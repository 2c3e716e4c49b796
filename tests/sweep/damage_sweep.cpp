// damage_sweep: extracts archives after every single-byte change, every truncation and
// random multi-byte damage, and checks each outcome. A damaged archive must give either the
// exact original tree without a message, or at least one of the system's own messages; in
// no case may the run crash, hang, write outside the destination, or leave a file whose
// bytes are not those of a member of the original archive.
//
//   damage_sweep [options] ARCHIVE...
//     --values N     byte changes per offset (xor masks), 1..9 (default 1)
//     --single N     at most N single-byte cases per archive, sampled (0: all; default 0)
//     --truncate N   at most N truncation lengths per archive, sampled (0: all; default 0)
//     --random N     random multi-byte cases per archive (default 200)
//     --timeout S    bound of one extraction in seconds (default 10)
//     --seed N       seed of the sampling and the random damage (default 1)
//     --save DIR     keep every input that gave a fault in DIR
//     --flips QAR    instead: every single-bit flip of the header and the directory, judged
//                    through the `qar` program QAR (Linux): whenever `qar test` passes a
//                    flipped archive, `qar extract` must pass it too and write exactly the
//                    tree of the undamaged archive (names, bytes, times, permissions)
//
// The reference of each archive is its undamaged extraction, which must succeed without a
// message; comparing it with the packed files is the caller's job.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "archive/records.h"
#include "decode/crc32.h"
#include "tests/support/archive_builder.h"
#include "tests/sweep/sweep.h"

namespace fs = std::filesystem;
using qartest::Bytes;

namespace {

struct Options {
    unsigned Values = 1;
    size_t Single = 0;
    size_t Truncate = 0;
    size_t Random = 200;
    unsigned Timeout = 10;
    uint32_t Seed = 1;
    std::string Save;
    std::string Qar;   // --flips
    std::vector<std::string> Archives;
};

const uint8_t kMasks[9] = {0x01, 0x80, 0xFF, 0x10, 0x02, 0x40, 0x04, 0x20, 0x08};

// The texts the system shows when something goes wrong; every message must begin with one.
const char* const kKnownMessages[] = {
    "Archive data is damaged, probably caused by\na corrupt disk or download error",
    "File \"", "Cannot create folder ", "Cannot create ", "Cannot write ", "Cannot read ",
    "Cannot open ", "Not enough memory", "Archive contains no files",
};

// Where damage lies: the header, the stream area, the directory.
enum Region : unsigned { kHeader = 1, kStreams = 2, kDirectory = 4 };

struct Tree {
    std::map<std::string, Bytes> Files;
    std::set<std::string> Folders;
    // Of files: modification time and permissions; of folders: permissions (their times
    // move with every file made in them).
    std::map<std::string, std::pair<long long, unsigned>> Stamps;
    bool operator==(const Tree& o) const {
        return Files == o.Files && Folders == o.Folders && Stamps == o.Stamps;
    }
};

struct Totals {
    size_t Cases = 0, Exact = 0, Reported = 0, Undetected = 0;
    size_t Crashes = 0, Hangs = 0, Escapes = 0, Unverified = 0, Foreign = 0, Silent = 0;
    size_t Flips = 0, TestPasses = 0, PassedButDifferent = 0;   // --flips
    size_t Faults() const {
        return Crashes + Hangs + Escapes + Unverified + Foreign + Silent + PassedButDifferent;
    }
    void Add(const Totals& t) {
        Flips += t.Flips; TestPasses += t.TestPasses; PassedButDifferent += t.PassedButDifferent;
        Cases += t.Cases; Exact += t.Exact; Reported += t.Reported; Undetected += t.Undetected;
        Crashes += t.Crashes; Hangs += t.Hangs; Escapes += t.Escapes;
        Unverified += t.Unverified; Foreign += t.Foreign; Silent += t.Silent;
    }
};

// The bytes of a file, opened by its path object: names of any code page stay readable.
Bytes ReadPath(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string Relative(const fs::path& p, const fs::path& base) {
    return p.lexically_relative(base).generic_u8string();
}

Tree Snapshot(const fs::path& folder) {
    Tree t;
    std::error_code ec;
    if (!fs::exists(folder, ec)) return t;
    for (auto it = fs::recursive_directory_iterator(folder, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        std::string rel = Relative(it->path(), folder);
        const bool isFolder = it->is_directory(ec);
        if (isFolder) {
            t.Folders.insert(rel);
        } else {
            t.Files[rel] = ReadPath(it->path());
        }
        const unsigned permissions = (unsigned)fs::status(it->path(), ec).permissions();
        long long time = 0;
        if (!isFolder) time = (long long)fs::last_write_time(it->path(), ec).time_since_epoch().count();
        t.Stamps[rel] = {time, permissions};
    }
    return t;
}

// The paths that may exist in the work folder besides the destination's contents.
bool Expected(const std::string& rel) {
    return rel == "archive.qar" || rel == "up1" || rel == "up1/up2" || rel == "up1/up2/up3" ||
           rel == "up1/up2/up3/dest" || rel.rfind("up1/up2/up3/dest/", 0) == 0;
}

// Lists what lies in the work folder outside the destination (and removes it).
std::vector<std::string> Escapes(const fs::path& work) {
    std::vector<std::string> found;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(work, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        std::string rel = Relative(it->path(), work);
        if (!Expected(rel)) found.push_back(rel);
    }
    for (const std::string& rel : found) {
        std::error_code ec;
        fs::remove_all(work / fs::u8path(rel), ec);
    }
    return found;
}

bool KnownMessage(const std::string& text) {
    for (const char* known : kKnownMessages) {
        if (text.rfind(known, 0) == 0) return true;
    }
    return false;
}

class Sweep {
public:
    Sweep(const Options& o, const fs::path& work) : opt_(o), work_(work), rng_(o.Seed) {
        dest_ = work_ / "up1" / "up2" / "up3" / "dest";
        fs::create_directories(dest_.parent_path());
    }

    // Sweeps one archive; false when its undamaged extraction does not succeed.
    bool Run(const std::string& path, Totals* totals) {
        name_ = fs::path(path).filename().string();
        original_ = qartest::ReadWholeFile(path);
        if (original_.size() < 42) {
            fprintf(stderr, "%s: shorter than an archive header\n", name_.c_str());
            return false;
        }
        directoryOffset_ = ReadLe32(original_.data() + 4);
        RunResult r = Extract(original_);
        reference_ = Snapshot(dest_);
        Clean();
        if (r.Outcome != RunResult::kFinished || r.Code != 0 || !r.Messages.empty() ||
            reference_.Files.empty()) {
            fprintf(stderr, "%s: the undamaged archive does not extract cleanly%s%s\n", name_.c_str(),
                    r.Messages.empty() ? "" : ": ", r.Messages.empty() ? "" : r.Messages[0].c_str());
            return false;
        }
        contents_.clear();
        for (auto& f : reference_.Files) contents_.insert(f.second);

        Totals t;
        auto started = std::chrono::steady_clock::now();
        if (!opt_.Qar.empty()) return RunFlips(totals);
        SingleBytes(&t);
        Truncations(&t);
        RandomDamage(&t);
        double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        printf("%-24s %7zu bytes %7zu cases: exact %zu, reported %zu, undetected %zu; "
               "crashes %zu, hangs %zu, escapes %zu, unverified files %zu, foreign messages %zu, "
               "silent failures %zu (%.1f s)\n",
               name_.c_str(), original_.size(), t.Cases, t.Exact, t.Reported, t.Undetected,
               t.Crashes, t.Hangs, t.Escapes, t.Unverified, t.Foreign, t.Silent, seconds);
        fflush(stdout);
        totals->Add(t);
        return true;
    }

private:
    // Runs `qar ARGS...` on the archive in the work folder.
    int Qar(std::vector<std::string> args) {
        args.insert(args.begin(), opt_.Qar);
        args.push_back((work_ / "archive.qar").string());
        return RunProgram(args, opt_.Timeout);
    }

    // Every single-bit flip of the header and the directory, through `qar test` and, when
    // that passes, `qar extract`. The reference is the undamaged archive's tree as `qar
    // extract` writes it.
    bool RunFlips(Totals* totals) {
        auto started = std::chrono::steady_clock::now();
        const std::vector<std::string> extract = {"extract", "-q", "-y", "-d", dest_.string()};
        qartest::WriteWholeFile((work_ / "archive.qar").string(), original_);
        const int first = Qar({"test", "-q"});
        const int code = Qar(extract);
        reference_ = Snapshot(dest_);
        Clean();
        if (first != 0 || code != 0 || reference_.Files.empty()) {
            fprintf(stderr, "%s: the undamaged archive does not pass qar test and extract\n", name_.c_str());
            return false;
        }
        Totals t;
        for (size_t offset = 0; offset < original_.size(); ++offset) {
            if (RegionOf(offset) == kStreams) continue;
            for (int bit = 0; bit < 8; ++bit) {
                Bytes damaged = original_;
                damaged[offset] ^= (uint8_t)(1u << bit);
                qartest::WriteWholeFile((work_ / "archive.qar").string(), damaged);
                char what[64];
                snprintf(what, sizeof what, "byte %zu bit %d", offset, bit);
                ++t.Flips;
                ++t.Cases;
                const int tested = Qar({"test", "-q"});
                if (tested != 0 && tested != 1) {
                    ++t.Crashes;
                    Fault(damaged, what, "qar test ended with status " + std::to_string(tested));
                    continue;
                }
                if (tested != 0) {
                    ++t.Reported;
                    continue;
                }
                ++t.TestPasses;
                const int extracted = Qar(extract);
                Tree got = Snapshot(dest_);
                Clean();
                std::vector<std::string> escaped = Escapes(work_);
                if (extracted != 0 || !(got == reference_) || !escaped.empty()) {
                    ++t.PassedButDifferent;
                    Fault(damaged, what, "qar test passed it, but qar extract " +
                                             (extracted != 0 ? "ended with status " + std::to_string(extracted)
                                                             : std::string("wrote another tree")));
                    continue;
                }
                ++t.Exact;
            }
        }
        double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        printf("%-24s %7zu bytes, %zu single-bit flips of header and directory: qar test passed "
               "%zu, qar extract exact for %zu; passed but extracted otherwise %zu, crashes %zu "
               "(%.1f s)\n",
               name_.c_str(), original_.size(), t.Flips, t.TestPasses, t.Exact,
               t.PassedButDifferent, t.Crashes, seconds);
        fflush(stdout);
        totals->Add(t);
        return true;
    }

    unsigned RegionOf(size_t offset) const {
        if (offset < 42) return kHeader;
        return offset < directoryOffset_ ? kStreams : kDirectory;
    }

    RunResult Extract(const Bytes& bytes) {
        qartest::WriteWholeFile((work_ / "archive.qar").string(), bytes);
        return ExtractIsolated((work_ / "archive.qar").string(), dest_.generic_string(), opt_.Timeout);
    }

    void Clean() { qartest::RemoveTree(dest_.string()); }

    // Picks at most limit of the values 0..count-1 (all when limit is 0 or large enough).
    std::vector<size_t> Pick(size_t count, size_t limit) {
        std::vector<size_t> all(count);
        for (size_t i = 0; i < count; ++i) all[i] = i;
        if (limit == 0 || limit >= count) return all;
        std::shuffle(all.begin(), all.end(), rng_);
        all.resize(limit);
        std::sort(all.begin(), all.end());
        return all;
    }

    void SingleBytes(Totals* t) {
        size_t values = std::min<size_t>(std::max(opt_.Values, 1u), 9);
        for (size_t pick : Pick(original_.size() * values, opt_.Single)) {
            size_t offset = pick / values;
            Bytes damaged = original_;
            damaged[offset] ^= kMasks[pick % values];
            char what[64];
            snprintf(what, sizeof what, "byte %zu xor 0x%02X", offset, kMasks[pick % values]);
            Judge(damaged, RegionOf(offset), what, t);
        }
    }

    void Truncations(Totals* t) {
        for (size_t length : Pick(original_.size(), opt_.Truncate)) {
            Bytes damaged(original_.begin(), original_.begin() + (long)length);
            char what[64];
            snprintf(what, sizeof what, "cut to %zu bytes", length);
            // A cut loses bytes the reader knows it needs: whatever it removes, the run must
            // report it or give the exact tree, so it counts as damage of the streams.
            Judge(damaged, kStreams, what, t);
        }
    }

    void RandomDamage(Totals* t) {
        for (size_t i = 0; i < opt_.Random; ++i) {
            Bytes damaged = original_;
            unsigned regions = 0;
            size_t changes = 2 + rng_() % 15;
            bool run = rng_() % 3 == 0;   // sometimes a run of bytes, as a bad sector gives
            size_t at = rng_() % damaged.size();
            for (size_t k = 0; k < changes; ++k) {
                size_t offset = run ? (at + k) % damaged.size() : rng_() % damaged.size();
                damaged[offset] = (uint8_t)rng_();
                regions |= RegionOf(offset);
            }
            char what[64];
            snprintf(what, sizeof what, "random damage #%zu", i);
            Judge(damaged, regions, what, t);
        }
    }

    void Fault(const Bytes& input, const char* what, const std::string& why) {
        fprintf(stderr, "FAULT %s, %s: %s\n", name_.c_str(), what, why.c_str());
        if (!opt_.Save.empty()) {
            fs::create_directories(opt_.Save);
            std::string file = name_ + "-" + std::to_string(faultsSaved_++) + ".qar";
            qartest::WriteWholeFile((fs::path(opt_.Save) / file).string(), input);
        }
    }

    void Judge(const Bytes& input, unsigned regions, const char* what, Totals* t) {
        ++t->Cases;
        RunResult r = Extract(input);
        Tree got = Snapshot(dest_);
        Clean();
        std::vector<std::string> escaped = Escapes(work_);
        if (r.Outcome == RunResult::kCrashed) {
            ++t->Crashes;
            Fault(input, what, "crashed (status " + std::to_string(r.Detail) + ")");
            return;
        }
        if (r.Outcome == RunResult::kHung) {
            ++t->Hangs;
            Fault(input, what, "did not finish in time");
            return;
        }
        bool fault = false;
        if (!escaped.empty()) {
            ++t->Escapes;
            Fault(input, what, "wrote outside the destination: " + escaped[0]);
            fault = true;
        }
        for (auto& f : got.Files) {
            auto same = reference_.Files.find(f.first);
            bool verified = (same != reference_.Files.end() && same->second == f.second) ||
                            f.second.empty() || contents_.count(f.second) != 0;
            if (!verified) {
                ++t->Unverified;
                Fault(input, what, "left a file that is no member of the archive: " + f.first);
                fault = true;
                break;
            }
        }
        for (const std::string& m : r.Messages) {
            if (!KnownMessage(m)) {
                ++t->Foreign;
                Fault(input, what, "showed a message that is not the system's: " + m);
                fault = true;
                break;
            }
        }
        if (fault) return;
        if (!r.Messages.empty()) {
            ++t->Reported;
        } else if (got == reference_) {
            ++t->Exact;
        } else if ((regions & (kHeader | kDirectory)) != 0) {
            // Names, counts and attributes carry no check value of their own: a change
            // there that still decodes is beyond what the archive lets the reader see.
            ++t->Undetected;
        } else {
            ++t->Silent;
            Fault(input, what, "damage in the streams gave a different tree without a message");
        }
    }

    Options opt_;
    fs::path work_, dest_;
    std::mt19937 rng_;
    std::string name_;
    Bytes original_;
    size_t directoryOffset_ = 0;
    Tree reference_;
    std::set<Bytes> contents_;
    size_t faultsSaved_ = 0;
};

bool Number(const char* text, size_t* out) {
    char* end = nullptr;
    unsigned long long v = strtoull(text, &end, 10);
    if (end == text || *end != 0) return false;
    *out = (size_t)v;
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        size_t v = 0;
        bool hasValue = i + 1 < argc;
        if (a == "--values" && hasValue && Number(argv[++i], &v)) {
            o.Values = (unsigned)v;
        } else if (a == "--single" && hasValue && Number(argv[++i], &v)) {
            o.Single = v;
        } else if (a == "--truncate" && hasValue && Number(argv[++i], &v)) {
            o.Truncate = v;
        } else if (a == "--random" && hasValue && Number(argv[++i], &v)) {
            o.Random = v;
        } else if (a == "--timeout" && hasValue && Number(argv[++i], &v)) {
            o.Timeout = (unsigned)v;
        } else if (a == "--seed" && hasValue && Number(argv[++i], &v)) {
            o.Seed = (uint32_t)v;
        } else if (a == "--save" && hasValue) {
            o.Save = argv[++i];
        } else if (a == "--flips" && hasValue) {
            o.Qar = argv[++i];
        } else if (!a.empty() && a[0] != '-') {
            o.Archives.push_back(a);
        } else {
            fprintf(stderr, "usage: damage_sweep [--values N] [--single N] [--truncate N] "
                            "[--random N] [--timeout S] [--seed N] [--save DIR] [--flips QAR] "
                            "ARCHIVE...\n");
            return 2;
        }
    }
    if (o.Archives.empty()) {
        fprintf(stderr, "damage_sweep: no archive given\n");
        return 2;
    }
    BuildCrcTable();
    fs::path work = qartest::MakeTempFolder("sweep");
    Totals all;
    bool sound = true;
    {
        Sweep sweep(o, work);
        for (const std::string& a : o.Archives) sound = sweep.Run(a, &all) && sound;
    }
    qartest::RemoveTree(work.string());
    if (!o.Qar.empty()) {
        printf("total: %zu archives, %zu single-bit flips: qar test passed %zu, qar extract exact "
               "for %zu; passed but extracted otherwise %zu, crashes %zu\n",
               o.Archives.size(), all.Flips, all.TestPasses, all.Exact, all.PassedButDifferent,
               all.Crashes);
        return sound && all.Faults() == 0 ? 0 : 1;
    }
    printf("total: %zu archives, %zu cases: exact %zu, reported %zu, undetected %zu; crashes %zu, "
           "hangs %zu, escapes %zu, unverified files %zu, foreign messages %zu, silent failures %zu\n",
           o.Archives.size(), all.Cases, all.Exact, all.Reported, all.Undetected, all.Crashes,
           all.Hangs, all.Escapes, all.Unverified, all.Foreign, all.Silent);
    return sound && all.Faults() == 0 ? 0 : 1;
}
