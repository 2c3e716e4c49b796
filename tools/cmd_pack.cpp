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
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "pack/container.h"
#include "pack/source_tree.h"
#include "tools/commands.h"
#include "tools/output_file.h"
#include "tools/pack_command.h"

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

// "12.3 MiB", "512.0 KiB", "17 bytes".
std::string Amount(uint64_t bytes) {
    char text[32];
    if (bytes >= (1u << 20)) snprintf(text, sizeof text, "%.1f MiB", bytes / 1048576.0);
    else if (bytes >= 1024) snprintf(text, sizeof text, "%.1f KiB", bytes / 1024.0);
    else snprintf(text, sizeof text, "%llu bytes", (unsigned long long)bytes);
    return text;
}

// The progress line on a terminal, drawn at once and redrawn four times a second by a thread
// of its own while the archive is written. Its totals are the walk's, the summary's own: all
// files, and the bytes of them all. Files count as done once their stream is written; the
// bytes done are the share of all stream bytes compressed so far (which moves block by block
// within a stream), applied to the total, from which come the speed and the time left. Until
// the writer has laid out its streams (after comparing files that may share contents), the
// share is 0.
class ProgressLine {
public:
    ProgressLine(const PackMeter& meter, double started, uint64_t files, uint64_t bytes)
        : meter_(meter), started_(started), filesTotal_(files), bytesTotal_(bytes) {
        Draw();
        thread_ = std::thread([this] { Run(); });
    }
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
    void StreamDone(const PackProgress& p) { files_ = p.FilesDone; }
    // The archive is complete: everything is done, whatever the meter could count.
    void Finish() {
        files_ = filesTotal_;
        finished_ = true;
    }

private:
    void Run() {
        std::unique_lock<std::mutex> lock(mutex_);
        while (!wake_.wait_for(lock, std::chrono::milliseconds(250), [this] { return stop_; })) Draw();
    }
    void Draw() {
        std::lock_guard<std::mutex> lock(drawing_);
        const uint64_t streams = meter_.Total, compressed = std::min<uint64_t>(meter_.Done, streams);
        const double share = finished_ ? 1.0 : streams ? (double)compressed / streams : 0.0;
        const uint64_t done = (uint64_t)(share * bytesTotal_);
        const double elapsed = Seconds() - started_;
        const double speed = elapsed > 0 ? done / elapsed : 0.0;
        char left[32] = "";
        if (done > 0 && elapsed >= 1.0 && !finished_) {
            const unsigned long s = (unsigned long)((bytesTotal_ - done) / speed + 0.5);
            snprintf(left, sizeof left, ", %lu:%02lu left", s / 60, s % 60);
        }
        fprintf(stderr, "\r%3d%% %llu/%llu files, %s of %s, %.1f MiB/s%s\x1b[K", (int)(100 * share),
                (unsigned long long)files_, (unsigned long long)filesTotal_, Amount(done).c_str(),
                Amount(bytesTotal_).c_str(), speed / 1048576.0, left);
        fflush(stderr);
    }

    const PackMeter& meter_;
    const double started_;
    const uint64_t filesTotal_, bytesTotal_;
    std::atomic<uint64_t> files_{0};
    std::atomic<bool> finished_{false};
    std::mutex mutex_, drawing_;
    std::condition_variable wake_;
    bool stop_ = false;
    std::thread thread_;
};

// "1 link skipped", "2 warnings".
std::string Count(uint64_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

}  // namespace

std::vector<Option> PackingOptions(PackSettings* settings) {
    PackOptions* options = &settings->Options;
    WalkOptions* walk = &settings->Walk;
    std::vector<Option> table;
    for (const char* level : {"-1", "-2", "-3", "-4", "-5", "-6", "-7", "-8", "-9"}) {
        table.push_back(Option{level, false, [options, level](const char*) {
                                   options->Encode.Level = level[1] - '0';
                                   return std::string();
                               }});
    }
    table.push_back(FlagOption("-q", &settings->Quiet));
    table.push_back(FlagOption("--solid", &settings->Solid));
    table.push_back(SizeOption("--stream-size", &settings->StreamSize));
    table.push_back(Option{"--filter", true, [options](const char* v) {
                               if (!strcmp(v, "auto")) options->Filter = FilterChoice::Auto;
                               else if (!strcmp(v, "none")) options->Filter = FilterChoice::None;
                               else if (!strcmp(v, "x86-32")) options->Filter = FilterChoice::X86_32;
                               else if (!strcmp(v, "x86-16")) options->Filter = FilterChoice::X86_16;
                               else return std::string("--filter needs auto, none, x86-32 or x86-16");
                               return std::string();
                           }});
    table.push_back(Option{"--threads", true, [options](const char* v) {
                               long n = 0;
                               const std::string problem = NumberOption("--threads", 1, 64, &n).Apply(v);
                               if (problem.empty()) options->Threads = (int)n;
                               return problem;
                           }});
    table.push_back(Option{"--links", true, [walk](const char* v) {
                               if (!strcmp(v, "follow")) walk->Links = LinkChoice::Follow;
                               else if (!strcmp(v, "skip")) walk->Links = LinkChoice::Skip;
                               else return std::string("--links needs follow or skip");
                               return std::string();
                           }});
    table.push_back(ListOption("--exclude", &walk->Excludes));
    table.push_back(ListOption("--files-from", &settings->Lists));
    table.push_back(Option{"--block-size", true, [options](const char* v) {
                               long n = 0;
                               const std::string problem = NumberOption("--block-size", 1, 1048575, &n).Apply(v);
                               if (problem.empty()) options->Encode.MaxBlockSize = (uint32_t)n;
                               return problem;
                           }});
    table.push_back(FlagOption("--stored", &options->Encode.StoredOnly));
    table.push_back(Option{"--table-sets", true, [options](const char* v) {
                               long n = 0;
                               const std::string problem = NumberOption("--table-sets", 1, 63, &n).Apply(v);
                               if (problem.empty()) options->Encode.MaxTableSets = (int)n;
                               return problem;
                           }});
    return table;
}

int FinishPackSettings(const char* command, const std::vector<std::string>& paths,
                       PackSettings* settings, std::vector<SourceRoot>* roots) {
    for (const std::string& p : paths) roots->push_back(SourceRoot{p, "", false});
    for (const std::string& list : settings->Lists) {
        if (!ReadSourceList(list.c_str(), roots))
            return UsageError(command, "--files-from '" + list + "': cannot read: " + strerror(errno));
    }
    if (settings->Solid && settings->StreamSize != 0)
        return UsageError(command, "--solid and --stream-size exclude each other");
    if (settings->Solid) settings->Options.StreamSize = 0;
    else if (settings->StreamSize != 0) settings->Options.StreamSize = settings->StreamSize;
    if (const char* epoch = getenv("SOURCE_DATE_EPOCH")) {
        char* end = nullptr;
        errno = 0;
        const long long n = strtoll(epoch, &end, 10);
        if (errno || end == epoch || *end || n < 0) {
            fprintf(stderr, "qar %s: SOURCE_DATE_EPOCH is not a non-negative number: '%s'\n",
                    command, epoch);
            return kExitUsage;
        }
        settings->Walk.SourceDateEpoch = n;
    }
    return kExitSuccess;
}

int CheckOutputPath(const char* command, const std::string& target) {
    struct stat info;
    if (stat(target.c_str(), &info) == 0 && S_ISDIR(info.st_mode))
        return UsageError(command, "-o " + target + ": is a folder, not a file name for the output");
    return kExitSuccess;
}

void PrintPackSummary(const char* command, const PackReport& r) {
    // A ratio only where it says something: tiny inputs are smaller than any archive.
    char ratio[32] = "";
    if (r.ArchiveSize < r.Bytes) snprintf(ratio, sizeof ratio, " (%.1f%%)", 100.0 * r.ArchiveSize / r.Bytes);
    std::string notes;
    auto note = [&notes](const std::string& text) { notes += (notes.empty() ? "; " : ", ") + text; };
    if (r.SharedContents)
        note(Count(r.SharedContents, "content", "contents") + " shared by " + Count(r.SharedFiles, "file", "files"));
    if (r.SkippedLinks) note(Count(r.SkippedLinks, "link", "links") + " skipped");
    if (r.Warnings) note(Count(r.Warnings, "warning", "warnings"));
    fprintf(stderr, "qar %s: %s, %s, %s packed into %s%s in %.1f s%s\n", command,
            Count(r.Files, "file", "files").c_str(), Count(r.Folders, "folder", "folders").c_str(),
            Amount(r.Bytes).c_str(), Amount(r.ArchiveSize).c_str(), ratio, r.Seconds, notes.c_str());
}

int PackInto(const char* command, const PackSettings& settings,
             const std::vector<SourceRoot>& roots, const std::string& target, OutputFile* output,
             PackReport* report) {
    const double started = Seconds();
    *report = PackReport();
    WalkOptions walk = settings.Walk;
    // What is left out is a warning: the archive is still written. Problems of the input are
    // errors: nothing is written.
    walk.Warn = [command, report](WalkWarning kind, const std::string& line) {
        fprintf(stderr, "qar %s: warning: %s\n", command, line.c_str());
        ++report->Warnings;
        if (kind == WalkWarning::LinkSkipped) ++report->SkippedLinks;
    };
    std::vector<SourceEntry> entries;
    try {
        entries = WalkSources(roots, walk);
    } catch (const InputProblems& e) {
        for (const std::string& line : e.Lines) fprintf(stderr, "qar %s: error: %s\n", command, line.c_str());
        fprintf(stderr, "qar %s: %zu problem%s in the input ('%s' not written)\n", command,
                e.Lines.size(), e.Lines.size() == 1 ? "" : "s", target.c_str());
        return kExitUsage;
    } catch (const std::exception& e) {
        fprintf(stderr, "qar %s: %s\n", command, e.what());
        return kExitFailure;
    }
    // The temporary file itself, when the output lies inside a given folder, is no input.
    FILE* file = output->File();
    struct stat tempInfo;
    if (fstat(fileno(file), &tempInfo) == 0) {
        entries.erase(std::remove_if(entries.begin(), entries.end(), [&](const SourceEntry& e) {
            struct stat info;
            return !e.IsFolder && stat(e.Path.c_str(), &info) == 0 &&
                   info.st_dev == tempInfo.st_dev && info.st_ino == tempInfo.st_ino;
        }), entries.end());
    }
    if (entries.empty()) {
        fprintf(stderr, "qar %s: nothing to pack: the given folders are empty\n", command);
        return kExitUsage;
    }
    // An earlier output lying among the inputs would be packed into its successor.
    struct stat outInfo;
    if (stat(target.c_str(), &outInfo) == 0) {
        for (const SourceEntry& e : entries) {
            struct stat info;
            if (!e.IsFolder && stat(e.Path.c_str(), &info) == 0 && info.st_dev == outInfo.st_dev &&
                info.st_ino == outInfo.st_ino) {
                fprintf(stderr, "qar %s: '%s': the output file is among the inputs\n", command,
                        target.c_str());
                return kExitUsage;
            }
        }
    }

    for (const SourceEntry& e : entries) {
        if (e.IsFolder) {
            ++report->Folders;
        } else {
            ++report->Files;
            report->Bytes += e.Size;
        }
    }

    PackOptions options = settings.Options;
    std::string error;
    PackMeter meter;
    options.Meter = &meter;
    try {
        std::unique_ptr<ProgressLine> line;
        if (!settings.Quiet && isatty(2)) {
            line.reset(new ProgressLine(meter, started, report->Files, report->Bytes));
            ProgressLine* shown = line.get();
            options.Progress = [shown](const PackProgress& p) { shown->StreamDone(p); };
        }
        options.NameCodePage = (uint16_t)walk.CodePage;
        report->ArchiveSize = WriteArchiveFile(entries, options, file);
        if (line) line->Finish();
    } catch (const PackError& e) {
        error = e.what();
    } catch (const std::bad_alloc&) {
        error = "out of memory";
    } catch (const std::exception& e) {
        error = e.what();
    }
    if (!error.empty()) {
        fprintf(stderr, "qar %s: %s ('%s' not written)\n", command, error.c_str(), target.c_str());
        return kExitFailure;
    }
    report->SharedContents = meter.SharedContents;
    report->SharedFiles = meter.SharedFiles;
    report->Seconds = Seconds() - started;
    return kExitSuccess;
}

int CmdPack(int argc, char** argv) {
    PackSettings settings;
    std::string out;
    CommandLine line{"pack", kPackUsage, PackingOptions(&settings)};
    line.Options.push_back(FileOption("-o", &out));
    line.Options.push_back(CodePageOption(&settings.Walk.CodePage));
    std::vector<std::string> paths;
    if (auto status = ParseCommandLine(line, argc, argv, &paths)) return *status;
    if (out.empty()) return UsageError("pack", "no output file given (-o)");
    std::vector<SourceRoot> roots;
    if (int status = FinishPackSettings("pack", paths, &settings, &roots)) return status;
    if (roots.empty()) return UsageError("pack", "nothing to pack: give files or folders");
    // The output is checked before any work: a folder, or a place where no file can be
    // made, ends the run at once.
    if (int status = CheckOutputPath("pack", out)) return status;
    OutputFile output;
    std::string error;
    if (!output.Create(out, &error)) {
        fprintf(stderr, "qar pack: '%s': %s\n", out.c_str(), error.c_str());
        return kExitFailure;
    }
    PackReport report;
    if (int status = PackInto("pack", settings, roots, out, &output, &report)) return status;
    if (!output.Commit(kDataFileMode, &error)) {
        fprintf(stderr, "qar pack: '%s': %s\n", out.c_str(), error.c_str());
        return kExitFailure;
    }
    if (!settings.Quiet) PrintPackSummary("pack", report);
    return kExitSuccess;
}
