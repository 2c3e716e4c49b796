// `qar extract FILE [-d DIR] [-y | -n] [-q]`: the installer's extraction loop on Linux, with
// the console user interface. The product's program is not started.
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <system_error>

#include "extract/extract.h"
#include "platform/errors.h"
#include "platform/fs_posix.h"
#include "platform/text.h"
#include "profile/profile.h"
#include "profile/state.h"
#include "tools/archive_session.h"
#include "tools/commands.h"
#include "tools/directory_review.h"
#include "tools/entry_names.h"
#include "tools/options.h"
#include "ui/console.h"

namespace {

const char kExtractUsage[] =
    "usage: qar extract FILE [-d DIR] [-y | -n] [-q | -v] [--codepage N] [--max-output SIZE]\n"
    "                   [--max-entries N]\n"
    "  -d DIR             extract into DIR (default: the current folder)\n"
    "  -y                 replace existing files without asking\n"
    "  -n                 never replace existing files\n"
    "  -q                 no progress lines\n"
    "  -v                 a line for each file even when the output is not a terminal\n"
    "  --codepage N       the code page of the names in the archive (default: the one the\n"
    "                     archive records, else 1252); files are created with UTF-8 names\n"
    "  --max-output SIZE  stop once the run has decoded more than SIZE bytes, counting every\n"
    "                     restart of a stream (bytes, or with K, M or G; default 200 times\n"
    "                     the file's size, at least 1G)\n"
    "  --max-entries N    refuse an archive that declares more than N entries (default\n"
    "                     1000000)\n"
    "Nothing is written when the directory is damaged (its check values, when the archive\n"
    "has them, do not hold; a name is refused; two entries name one file), nor when the\n"
    "files' declared sizes, each rounded up to DIR's block size, add up to more than DIR's\n"
    "free space. Each file is written under a temporary name and takes its own only once\n"
    "its check passed: a file that fails it, or that a signal interrupts, is removed, and a\n"
    "file of its name that was there stays as it was. Without a terminal to ask, the run goes\n"
    "on after a failed file, and the summary lists every problem. Exit status: 0 every entry\n"
    "extracted or kept, 1 a problem, 2 a usage error, 128+N stopped by signal N (130 Ctrl-C,\n"
    "129 SIGHUP, 143 SIGTERM).\n";

// Ctrl-C, SIGTERM, SIGHUP and SIGPIPE ask the run to stop the way the dialog's Cancel does:
// the file being written is removed (it stands under a temporary name until its check
// passed), and the run ends with status 128 + the signal's number. A second signal does not
// wait for the run: it removes that file and ends the process at once.
const int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};
volatile sig_atomic_t Interrupted;   // the number of the signal that stopped the run
void OnInterrupt(int number) {
    if (Interrupted != 0) {
        FsRemoveStagedFile();
        _exit(128 + Interrupted);
    }
    Interrupted = number;
    Profile.CancelRequested = 1;
}

// The destination as the core has it (backslashes) and as the user gave it ('/').
std::string CorePrefix, UserPrefix;

// A core path: the destination as given, the entry's name beneath it in UTF-8.
std::string ShowPath(const char* path) {
    size_t n = CorePrefix.size();
    if (n != 0 && strncmp(path, CorePrefix.c_str(), n) == 0) {
        const char* rest = path + n;
        while (*rest == '\\') ++rest;
        if (*rest == 0) return UserPrefix;
        return UserPrefix + (UserPrefix.back() == '/' ? "" : "/") + ShownName(rest);
    }
    return ShownName(path);
}

}  // namespace

int CmdExtract(int argc, char** argv) {
    std::string folder;
    uint64_t maxOutput = 0, maxEntries = kDefaultMaxEntries;
    int codePage = 0;
    TheConsoleSettings = ConsoleSettings{kConsoleAsk, false, false, false, ShowPath, "extract"};
    bool replace = false, keep = false;
    const CommandLine line{"extract", kExtractUsage,
                           {TextOption("-d", &folder), FlagOption("-y", &replace),
                            FlagOption("-n", &keep), FlagOption("-q", &TheConsoleSettings.Quiet),
                            FlagOption("-v", &TheConsoleSettings.Verbose), CodePageOption(&codePage),
                            SizeOption("--max-output", &maxOutput),
                            SizeOption("--max-entries", &maxEntries)},
                           1};
    std::vector<std::string> operands;
    if (auto status = ParseCommandLine(line, argc, argv, &operands)) return *status;
    if (operands.empty()) return UsageError("extract", "no archive given");
    const char* file = operands[0].c_str();
    if (replace && keep) return UsageError("extract", "-y and -n exclude each other");
    if (TheConsoleSettings.Quiet && TheConsoleSettings.Verbose) {
        return UsageError("extract", "-q and -v exclude each other");
    }
    TheConsoleSettings.Overwrite = replace ? kConsoleReplace : keep ? kConsoleKeep : kConsoleAsk;
    std::error_code ec;
    if (!folder.empty() && std::filesystem::exists(folder, ec) &&
        !std::filesystem::is_directory(folder, ec)) {
        return UsageError("extract", folder + " is not a folder");
    }
    // Links in the destination itself are the user's choice and are resolved here, once:
    // the file-system layer opens the resolved folder and goes through no link, in it or
    // beneath it, so that none planted inside the destination (before or during the run)
    // can lead an entry outside it.
    if (!folder.empty()) {
        std::filesystem::path resolved = std::filesystem::weakly_canonical(folder, ec);
        if (!ec) folder = resolved.string();
    }
    const std::string destination = folder.empty() ? "." : folder;
    UserPrefix = folder;
    // The core separates path components with backslashes on every platform.
    for (char& c : folder) {
        if (c == '/') c = '\\';
    }
    CorePrefix = folder;
    if (folder.size() >= sizeof Profile.DestinationFolder) {
        return UsageError("extract", "the destination folder is longer than " +
                                         std::to_string(sizeof Profile.DestinationFolder - 1) +
                                         " characters");
    }

    // Refused before anything is written: a damaged directory (the review tells why), and
    // files that declare more than the destination holds (a file the run replaces counts in
    // full).
    ArchiveFileInfo info;
    ArchiveSession session;
    if (!session.Open("extract", file, &info)) return kExitFailure;
    SetProgramName(file);
    // A directory that cannot be read to its end is left to the run, which extracts the
    // entries before the damage, reports it and counts those it did not reach.
    DirectoryReview review;
    ReviewDirectory("extract", file, info, codePage, maxEntries, &review);
    if (review.Problems != 0) {
        // The installer's own message for a damaged archive follows the review's details.
        ReportError(nullptr, ErrDamaged, nullptr, false);
        fprintf(stderr, "qar extract: nothing was extracted from %s\n", file);
        return kExitFailure;
    }
    // Files that take more than the destination holds, each file in whole blocks of its
    // file system (a file the run replaces counts in full: the new one is written beside it).
    uint64_t declared = 0, rounded = 0, available = 0, block = 1;
    const bool spaceKnown = AvailableSpace(destination, &available, &block);
    if (spaceKnown) rounded = DeclaredFileBytes(review, block, &declared);
    session.ReleaseInputBuffer();
    if (State.Header.EntryCount == 0) {
        printf("%s: Archive contains no files\n", file);
        return kExitSuccess;
    }
    if (spaceKnown && rounded > available) {
        fprintf(stderr,
                "qar extract: not enough free space: the files in %s declare %llu bytes, which take "
                "%llu bytes in blocks of %llu; %s has %llu bytes free; nothing was extracted\n",
                file, (unsigned long long)declared, (unsigned long long)rounded,
                (unsigned long long)block, destination.c_str(), (unsigned long long)available);
        return kExitFailure;
    }
    StartMaxOutput(maxOutput != 0 ? maxOutput : DefaultMaxOutput(info.FileSize));
    CopyText(Profile.DestinationFolder, sizeof Profile.DestinationFolder, folder.c_str());
    Profile.OverwriteWithoutPrompt = TheConsoleSettings.Overwrite == kConsoleReplace ? 1 : 0;
    TheConsoleRecord = ConsoleRecord{};
    Interrupted = 0;
    // Without SA_RESTART, so that a signal also ends the wait for an answer at a prompt.
    struct sigaction action = {}, saved[sizeof kStopSignals / sizeof kStopSignals[0]];
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    for (size_t i = 0; i < sizeof kStopSignals / sizeof kStopSignals[0]; ++i) {
        sigaction(kStopSignals[i], &action, &saved[i]);
    }

    int r = ExtractAll(nullptr);
    if (r != 0) ReportError(nullptr, r == ErrSilent ? ErrRead : r, nullptr, false);
    for (size_t i = 0; i < sizeof kStopSignals / sizeof kStopSignals[0]; ++i) {
        sigaction(kStopSignals[i], &saved[i], nullptr);
    }
    session.Close();

    // Files the run wrote and checked but could not rename to their names (a folder put in
    // the way during the run, a file system that filled up) are failures too.
    ExtractCounts& c = LastRunCounts;
    const FsUnplacedFiles unplaced = FsTakeUnplacedFiles();
    if (unplaced.Count != 0) {
        fprintf(stderr, "qar extract: %u %s could not take %s name; the first: %s: %s\n", unplaced.Count,
                unplaced.Count == 1 ? "file" : "files", unplaced.Count == 1 ? "its" : "their",
                ShowPath(unplaced.Path).c_str(), strerror(unplaced.Errno));
        c.Files -= unplaced.Count <= c.Files ? unplaced.Count : c.Files;
        c.Failed += unplaced.Count;
    }
    const uint32_t total = State.Header.EntryCount;
    uint32_t reached = c.Files + c.Folders + c.Skipped + c.LeftOut + c.Failed;
    uint32_t notReached = reached < total ? total - reached : 0;
    bool complete = r == 0 && !Profile.CancelRequested && TheConsoleRecord.MessagesShown == 0 &&
                    c.Failed == 0 && c.LeftOut == 0 && notReached == 0;
    FILE* out = complete ? stdout : stderr;
    auto count = [](uint32_t n, const char* one, const char* many) {
        return std::to_string(n) + " " + (n == 1 ? one : many);
    };
    fprintf(out, "%s, %s extracted", count(c.Files, "file", "files").c_str(),
            count(c.Folders, "folder", "folders").c_str());
    if (c.Skipped != 0) fprintf(out, ", %s kept", count(c.Skipped, "existing file", "existing files").c_str());
    if (c.LeftOut != 0) fprintf(out, ", %s left out", count(c.LeftOut, "entry", "entries").c_str());
    if (c.Failed != 0) fprintf(out, ", %s failed", count(c.Failed, "file", "files").c_str());
    if (notReached != 0) fprintf(out, ", %u of %u entries not reached", notReached, total);
    if (Profile.CancelRequested) fputs(Interrupted ? ", interrupted" : ", stopped", out);
    fputs("\n", out);
    if (!TheConsoleRecord.Problems.empty()) {
        fputs("problems:\n", stderr);
        for (const std::string& p : TheConsoleRecord.Problems) fprintf(stderr, "  %s\n", p.c_str());
        const uint32_t more = TheConsoleRecord.MessagesShown - (uint32_t)TheConsoleRecord.Problems.size();
        if (more != 0) fprintf(stderr, "  and %u more, shown above\n", more);
    }
    ReportMaxOutput("extract");
    if (Interrupted) return 128 + Interrupted;
    return complete ? kExitSuccess : kExitFailure;
}
