// `qar pack [options] -o OUT.qar PATH...`: walks the given files and folders, checks every
// name, and writes the archive to a temporary file beside OUT that is renamed to OUT only
// when the archive is complete, so a failed or interrupted run leaves no partial output.
#include <errno.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "pack/container.h"
#include "pack/source_tree.h"
#include "tools/archive_file.h"
#include "tools/commands.h"

namespace {

const char kPackUsage[] =
    "usage: qar pack [options] -o OUT.qar PATH...\n"
    "\n"
    "Packs files and folders; a folder's contents are stored with names relative to it.\n"
    "Every problem of the input is listed; with any, nothing is written (exit status 2).\n"
    "\n"
    "  -o FILE             the archive to write (required)\n"
    "  -1 .. -9            compression level, fast .. best (default -6)\n"
    "  --solid             all members in one stream (files over 32 MiB and shared contents apart)\n"
    "  --stream-size N     start a new stream after N member bytes (default 16M; K, M, G)\n"
    "  --filter MODE       call filter: auto (x86 and x86-64 executables), none, x86-32, x86-16 (default auto)\n"
    "  --codepage N        ANSI code page of the names: 1252 (default), 1250, 1251, 1253,\n"
    "                      1254, 1257, 437, 932, 936, 949, 950\n"
    "  --threads N         streams compressed at once (default: one per processor)\n"
    "  --links MODE        symbolic links: follow (pack what they lead to) or skip (default follow)\n"
    "  --exclude PATTERN   leave out what the archive name matches, a folder with all it holds\n"
    "                      (repeatable; letter case ignored; '*' and '?' stay within one name,\n"
    "                      '**' spans folders, a trailing '/' matches folders only)\n"
    "  --files-from FILE   also pack what FILE lists ('-': standard input), one a line:\n"
    "                      SOURCE, or NAME=SOURCE to place it under the archive name NAME;\n"
    "                      '\\=' is a literal '=', '\\\\' a backslash; blank lines are skipped\n"
    "  -q                  no progress line and no summary\n"
    "  --block-size N      largest decoded block, 1..1048575 (testing)\n"
    "  --stored            stored blocks only (testing)\n"
    "  --table-sets N      most table sets per block, 1..63 (testing)\n"
    "\n"
    "Example: qar pack -o app.qar --exclude '**/*.pdb' --exclude '**/tests/' \\\n"
    "             --files-from extra.txt build/\n"
    "  packs build/ without its .pdb files and folders named tests, and with the line\n"
    "  'doc/manual=manual' in extra.txt the folder manual/ as doc/manual beside them.\n"
    "\n"
    "SOURCE_DATE_EPOCH, when set, caps every time stamp and stores the times in UTC, so\n"
    "that the archive is the same whatever the time zone.\n";

// The temporary output, removed by the signal handler if the run is interrupted.
char g_tempPath[4096];

void RemoveTempAndExit(int sig) {
    if (g_tempPath[0]) unlink(g_tempPath);
    _exit(128 + sig);
}

// While the temporary file exists, interrupting signals remove it; the handlers that were
// there before (`qar sfx` runs this command in-process) come back afterwards.
class TempFileGuard {
public:
    TempFileGuard() {
        struct sigaction action = {};
        action.sa_handler = RemoveTempAndExit;
        sigemptyset(&action.sa_mask);
        for (size_t i = 0; i < kCount; ++i) sigaction(kSignals[i], &action, &saved_[i]);
    }
    ~TempFileGuard() {
        g_tempPath[0] = 0;
        for (size_t i = 0; i < kCount; ++i) sigaction(kSignals[i], &saved_[i], nullptr);
    }

private:
    static constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};
    static constexpr size_t kCount = sizeof kSignals / sizeof kSignals[0];
    struct sigaction saved_[kCount];
};

int Usage(const std::string& message) { return UsageError("pack", message); }

// Adds the lines of a --files-from list to roots; false when it cannot be read.
bool ReadSourceList(const char* name, std::vector<SourceRoot>* roots) {
    const bool standardInput = !strcmp(name, "-");
    FILE* f = standardInput ? stdin : fopen(name, "rb");
    if (!f) return false;
    std::string text;
    char chunk[65536];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, f)) > 0) text.append(chunk, n);
    const bool ok = !ferror(f);
    if (!standardInput) fclose(f);
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();   // a list written on Windows
        if (!line.empty()) roots->push_back(ParseSourceLine(line));
    }
    return ok;
}

bool ParseInt(const char* text, long low, long high, long* value) {
    char* end = nullptr;
    errno = 0;
    const long n = strtol(text, &end, 10);
    if (errno || end == text || *end || n < low || n > high) return false;
    *value = n;
    return true;
}

double Seconds() {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec + t.tv_nsec / 1e9;
}

// "12.3 MiB", "512.0 KiB", "17 bytes".
std::string Amount(uint64_t bytes) {
    char text[32];
    if (bytes >= (1u << 20)) snprintf(text, sizeof text, "%.1f MiB", bytes / 1048576.0);
    else if (bytes >= 1024) snprintf(text, sizeof text, "%.1f KiB", bytes / 1024.0);
    else snprintf(text, sizeof text, "%llu bytes", (unsigned long long)bytes);
    return text;
}

// The progress line on a terminal, redrawn four times a second by a thread of its own while
// the archive is written: files in finished streams, and the share of all stream bytes
// compressed so far (which moves block by block within a stream), its speed and the time left.
class ProgressLine {
public:
    ProgressLine(const PackMeter& meter, double started, uint64_t files)
        : meter_(meter), started_(started), filesTotal_(files), thread_([this] { Run(); }) {}
    ~ProgressLine() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        wake_.notify_one();
        thread_.join();
        Draw();   // the state at the end stays on the screen, above the summary
        fputc('\n', stderr);
    }
    void StreamDone(const PackProgress& p) {
        std::lock_guard<std::mutex> lock(mutex_);
        files_ = p.FilesDone;
        filesTotal_ = p.FilesTotal;
    }

private:
    void Run() {
        std::unique_lock<std::mutex> lock(mutex_);
        while (!wake_.wait_for(lock, std::chrono::milliseconds(250), [this] { return stop_; })) Draw();
    }
    void Draw() {
        std::lock_guard<std::mutex> lock(drawing_);
        const uint64_t total = meter_.Total, done = std::min<uint64_t>(meter_.Done, total);
        const double elapsed = Seconds() - started_;
        const double speed = elapsed > 0 ? done / elapsed : 0.0;
        char left[32] = "";
        if (done > 0 && elapsed >= 1.0) {
            const unsigned long s = (unsigned long)((total - done) / speed + 0.5);
            snprintf(left, sizeof left, ", %lu:%02lu left", s / 60, s % 60);
        }
        fprintf(stderr, "\r%3d%% %llu/%llu files, %s of %s, %.1f MiB/s%s\x1b[K",
                total ? (int)(100 * done / total) : 100, (unsigned long long)files_,
                (unsigned long long)filesTotal_, Amount(done).c_str(), Amount(total).c_str(),
                speed / 1048576.0, left);
        fflush(stderr);
    }

    const PackMeter& meter_;
    const double started_;
    std::mutex mutex_, drawing_;
    std::condition_variable wake_;
    bool stop_ = false;
    uint64_t files_ = 0;
    uint64_t filesTotal_;
    std::thread thread_;
};

// The one-line summary: what went in and what came out, and how long it took.
void PrintSummary(const std::vector<SourceEntry>& entries, uint64_t archiveSize, double seconds) {
    uint64_t files = 0, folders = 0, bytes = 0;
    for (const SourceEntry& e : entries) {
        if (e.IsFolder) {
            ++folders;
        } else {
            ++files;
            bytes += e.Size;
        }
    }
    // A ratio only where it says something: tiny inputs are smaller than any archive.
    char ratio[32] = "";
    if (archiveSize < bytes) snprintf(ratio, sizeof ratio, " (%.1f%%)", 100.0 * archiveSize / bytes);
    fprintf(stderr, "qar pack: %llu %s, %llu %s, %s packed into %s%s in %.1f s\n",
            (unsigned long long)files, files == 1 ? "file" : "files", (unsigned long long)folders,
            folders == 1 ? "folder" : "folders", Amount(bytes).c_str(), Amount(archiveSize).c_str(),
            ratio, seconds);
}

}  // namespace

int CmdPack(int argc, char** argv) {
    PackOptions options;
    WalkOptions walk;
    const char* out = nullptr;
    bool quiet = false;
    bool solid = false, streamSizeGiven = false;
    std::vector<std::string> paths;
    std::vector<const char*> lists;
    bool optionsEnded = false;

    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        auto next = [&](const char* name) -> const char* {
            if (i + 1 >= argc) return nullptr;
            (void)name;
            return argv[++i];
        };
        if (optionsEnded || a[0] != '-' || !strcmp(a, "-")) {
            paths.push_back(a);
        } else if (!strcmp(a, "--")) {
            optionsEnded = true;
        } else if (!strcmp(a, "--help") || !strcmp(a, "-h")) {
            fputs(kPackUsage, stdout);
            return 0;
        } else if (!strcmp(a, "-o")) {
            if (!(out = next(a))) return Usage("-o needs a file name");
        } else if (a[1] >= '1' && a[1] <= '9' && a[2] == 0) {
            options.Encode.Level = a[1] - '0';
        } else if (!strcmp(a, "-q")) {
            quiet = true;
        } else if (!strcmp(a, "--solid")) {
            solid = true;
        } else if (!strcmp(a, "--stream-size")) {
            const char* v = next(a);
            if (!v || !ParseSize(v, &options.StreamSize) || options.StreamSize == 0)
                return Usage("--stream-size needs a positive size");
            streamSizeGiven = true;
        } else if (!strcmp(a, "--filter")) {
            const char* v = next(a);
            if (!v) return Usage("--filter needs auto, none, x86-32 or x86-16");
            if (!strcmp(v, "auto")) options.Filter = FilterChoice::Auto;
            else if (!strcmp(v, "none")) options.Filter = FilterChoice::None;
            else if (!strcmp(v, "x86-32")) options.Filter = FilterChoice::X86_32;
            else if (!strcmp(v, "x86-16")) options.Filter = FilterChoice::X86_16;
            else return Usage("--filter needs auto, none, x86-32 or x86-16");
        } else if (!strcmp(a, "--codepage")) {
            const char* v = next(a);
            if (!v) return Usage("--codepage needs a value");
            if (!ParseCodePageOption(v, &walk.CodePage)) return CodePageUsageError("pack", v);
        } else if (!strcmp(a, "--threads")) {
            const char* v = next(a);
            long n;
            if (!v || !ParseInt(v, 1, 64, &n)) return Usage("--threads needs 1..64");
            options.Threads = (int)n;
        } else if (!strcmp(a, "--links")) {
            const char* v = next(a);
            if (v && !strcmp(v, "follow")) walk.Links = LinkChoice::Follow;
            else if (v && !strcmp(v, "skip")) walk.Links = LinkChoice::Skip;
            else return Usage("--links needs follow or skip");
        } else if (!strcmp(a, "--exclude")) {
            const char* v = next(a);
            if (!v || !*v) return Usage("--exclude needs a pattern");
            walk.Excludes.push_back(v);
        } else if (!strcmp(a, "--files-from")) {
            const char* v = next(a);
            if (!v || !*v) return Usage("--files-from needs a file name, or - for standard input");
            lists.push_back(v);
        } else if (!strcmp(a, "--block-size")) {
            const char* v = next(a);
            long n;
            if (!v || !ParseInt(v, 1, 1048575, &n)) return Usage("--block-size needs 1..1048575");
            options.Encode.MaxBlockSize = (uint32_t)n;
        } else if (!strcmp(a, "--stored")) {
            options.Encode.StoredOnly = true;
        } else if (!strcmp(a, "--table-sets")) {
            const char* v = next(a);
            long n;
            if (!v || !ParseInt(v, 1, 63, &n)) return Usage("--table-sets needs 1..63");
            options.Encode.MaxTableSets = (int)n;
        } else {
            return UnexpectedArgument("pack", a);
        }
    }
    if (!out) return Usage("no output file given (-o)");
    std::vector<SourceRoot> roots;
    for (const std::string& p : paths) roots.push_back(SourceRoot{p, "", false});
    for (const char* list : lists) {
        if (!ReadSourceList(list, &roots))
            return Usage(std::string("--files-from '") + list + "': cannot read: " + strerror(errno));
    }
    if (roots.empty()) return Usage("nothing to pack: give files or folders");
    if (solid && streamSizeGiven) return Usage("--solid and --stream-size exclude each other");
    if (solid) options.StreamSize = 0;

    if (const char* epoch = getenv("SOURCE_DATE_EPOCH")) {
        long long n;
        char* end = nullptr;
        errno = 0;
        n = strtoll(epoch, &end, 10);
        if (errno || end == epoch || *end || n < 0) {
            fprintf(stderr, "qar pack: SOURCE_DATE_EPOCH is not a non-negative number: '%s'\n", epoch);
            return 1;
        }
        walk.SourceDateEpoch = n;
    }

    const double started = Seconds();
    // The output is checked before any work: a folder, or a place where no file can be
    // made, ends the run at once.
    struct stat outInfo;
    const bool outExists = stat(out, &outInfo) == 0;
    if (outExists && S_ISDIR(outInfo.st_mode)) {
        fprintf(stderr, "qar pack: '%s': is a folder, not a file name for the archive\n", out);
        return 1;
    }
    // The temporary file lies in OUT's folder so that the final rename stays on one file
    // system and is atomic.
    std::string outPath = out;
    const size_t slash = outPath.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "" : outPath.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? outPath : outPath.substr(slash + 1);
    const std::string pattern = folder + "." + base + ".XXXXXX";
    if (pattern.size() >= sizeof g_tempPath) {
        fprintf(stderr, "qar pack: '%s': output path too long\n", out);
        return 1;
    }
    memcpy(g_tempPath, pattern.c_str(), pattern.size() + 1);
    TempFileGuard guard;
    const int fd = mkstemp(g_tempPath);
    if (fd < 0) {
        fprintf(stderr, "qar pack: '%s': cannot create a file beside it: %s\n", out, strerror(errno));
        g_tempPath[0] = 0;
        return 1;
    }
    auto giveUp = [fd](int status) {
        close(fd);
        unlink(g_tempPath);
        g_tempPath[0] = 0;
        return status;
    };

    walk.Warn = [](const std::string& line) { fprintf(stderr, "qar pack: %s\n", line.c_str()); };
    std::vector<SourceEntry> entries;
    try {
        entries = WalkSources(roots, walk);
    } catch (const InputProblems& e) {
        for (const std::string& line : e.Lines) fprintf(stderr, "qar pack: %s\n", line.c_str());
        fprintf(stderr, "qar pack: %zu problem%s in the input (archive '%s' not written)\n",
                e.Lines.size(), e.Lines.size() == 1 ? "" : "s", out);
        return giveUp(2);
    } catch (const std::exception& e) {
        fprintf(stderr, "qar pack: %s\n", e.what());
        return giveUp(1);
    }
    // The temporary file itself, when OUT lies inside a given folder, is no input.
    struct stat tempInfo;
    if (fstat(fd, &tempInfo) == 0) {
        entries.erase(std::remove_if(entries.begin(), entries.end(), [&](const SourceEntry& e) {
            struct stat info;
            return !e.IsFolder && stat(e.Path.c_str(), &info) == 0 &&
                   info.st_dev == tempInfo.st_dev && info.st_ino == tempInfo.st_ino;
        }), entries.end());
    }
    if (entries.empty()) {
        fputs("qar pack: nothing to pack: the given folders are empty\n", stderr);
        return giveUp(1);
    }
    // An earlier archive lying among the inputs would be packed into its successor.
    if (outExists) {
        for (const SourceEntry& e : entries) {
            struct stat info;
            if (!e.IsFolder && stat(e.Path.c_str(), &info) == 0 && info.st_dev == outInfo.st_dev &&
                info.st_ino == outInfo.st_ino) {
                fprintf(stderr, "qar pack: '%s': the output file is among the inputs\n", out);
                return giveUp(1);
            }
        }
    }

    FILE* file = fdopen(fd, "w+b");
    std::string error;
    uint64_t archiveSize = 0;
    try {
        if (!file) throw PackError(std::string("cannot open the output: ") + strerror(errno));
        PackMeter meter;
        std::unique_ptr<ProgressLine> line;
        if (!quiet && isatty(2)) {
            options.Meter = &meter;
            const uint64_t files = (uint64_t)std::count_if(entries.begin(), entries.end(),
                                                           [](const SourceEntry& e) { return !e.IsFolder; });
            line.reset(new ProgressLine(meter, started, files));
            ProgressLine* shown = line.get();
            options.Progress = [shown](const PackProgress& p) { shown->StreamDone(p); };
        }
        options.NameCodePage = (uint16_t)walk.CodePage;
        archiveSize = WriteArchiveFile(entries, options, file);
        if (fflush(file) != 0 || fsync(fileno(file)) != 0)
            throw PackError(std::string("cannot write the output: ") + strerror(errno));
    } catch (const PackError& e) {
        error = e.what();
    } catch (const std::bad_alloc&) {
        error = "out of memory";
    } catch (const std::exception& e) {
        error = e.what();
    }
    if (file) {
        if (fclose(file) != 0 && error.empty())
            error = std::string("cannot write the output: ") + strerror(errno);
    } else {
        close(fd);
    }
    if (error.empty()) {
        const mode_t mask = umask(0);
        umask(mask);
        chmod(g_tempPath, 0666 & ~mask);
        if (rename(g_tempPath, out) != 0)
            error = std::string("cannot rename the finished archive to it: ") + strerror(errno);
    }
    if (!error.empty()) {
        unlink(g_tempPath);
        g_tempPath[0] = 0;
        fprintf(stderr, "qar pack: %s (archive '%s' not written)\n", error.c_str(), out);
        return 1;
    }
    g_tempPath[0] = 0;
    if (!quiet) PrintSummary(entries, archiveSize, Seconds() - started);
    return 0;
}
