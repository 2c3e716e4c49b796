// `qar extract FILE [-d DIR] [-y | -n] [-q]`: the installer's extraction loop on Linux, with
// the console user interface. The product's program is not started.
#include <signal.h>
#include <stdio.h>
#include <string.h>

#include <filesystem>
#include <string>
#include <system_error>

#include "extract/extract.h"
#include "platform/errors.h"
#include "platform/text.h"
#include "profile/profile.h"
#include "profile/state.h"
#include "tools/archive_file.h"
#include "tools/commands.h"
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
    "files' declared sizes add up to more than DIR's free space.\n"
    "Without a terminal to ask, a file that fails its check is deleted, the run goes on, and\n"
    "the summary lists every problem. Exit status: 0 every entry extracted or kept, 1 a\n"
    "problem, 2 a usage error, 130 interrupted.\n";

// Ctrl-C asks the run to stop the way the dialog's Cancel does: the partial file is deleted.
volatile sig_atomic_t Interrupted;
void OnInterrupt(int) {
    Profile.CancelRequested = 1;
    Interrupted = 1;
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
    const char* file = nullptr;
    std::string folder;
    uint64_t maxOutput = 0, maxEntries = kDefaultMaxEntries;
    int codePage = 0;
    TheConsoleSettings = ConsoleSettings{kConsoleAsk, false, false, false, ShowPath};
    bool replace = false, keep = false;
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        bool hasValue = i + 1 < argc;
        if (!strcmp(a, "-d") || !strcmp(a, "--max-output") || !strcmp(a, "--codepage") ||
            !strcmp(a, "--max-entries")) {
            if (!hasValue) return UsageError("extract", std::string(a) + " needs a value");
            const char* v = argv[++i];
            if (!strcmp(a, "-d")) {
                folder = v;
            } else if (!strcmp(a, "--codepage")) {
                if (!ParseCodePageOption(v, &codePage)) return CodePageUsageError("extract", v);
            } else if (!strcmp(a, "--max-entries")) {
                if (!ParseMaxEntries(v, &maxEntries))
                    return UsageError("extract", "--max-entries takes a number above 0");
            } else if (!ParseSize(v, &maxOutput) || maxOutput == 0) {
                return UsageError("extract", "--max-output takes a size: bytes, or with K, M or G");
            }
        } else if (!strcmp(a, "-y")) {
            replace = true;
        } else if (!strcmp(a, "-n")) {
            keep = true;
        } else if (!strcmp(a, "-q")) {
            TheConsoleSettings.Quiet = true;
        } else if (!strcmp(a, "-v")) {
            TheConsoleSettings.Verbose = true;
        } else if (!strcmp(a, "--help")) {
            fputs(kExtractUsage, stdout);
            return kExitSuccess;
        } else if (a[0] != '-' && file == nullptr) {
            file = a;
        } else {
            return UnexpectedArgument("extract", a);
        }
    }
    if (file == nullptr) return UsageError("extract", "no archive given");
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

    ArchiveFileInfo info;
    if (!OpenArchiveForCore(file, &info)) return kExitFailure;
    SetProgramName(file);
    // Refused before anything is written: a damaged directory (the review tells why), and
    // files that declare more than the destination holds (a file the run replaces counts in
    // full).
    if (!AllocateInput()) {
        ReportError(nullptr, ErrNoMemory, nullptr, false);
        CloseArchiveForCore();
        return kExitFailure;
    }
    // A directory that cannot be read to its end is left to the run, which extracts the
    // entries before the damage, reports it and counts those it did not reach.
    DirectoryReview review;
    ReviewDirectory(file, info, codePage, maxEntries, &review);
    if (review.Problems != 0) {
        // The installer's own message for a damaged archive follows the review's details.
        ReportError(nullptr, ErrDamaged, nullptr, false);
        ReleaseInput();
        CloseArchiveForCore();
        fprintf(stderr, "qar: nothing was extracted from %s\n", file);
        return kExitFailure;
    }
    const uint64_t declared = DeclaredFileBytes();
    ReleaseInput();
    if (State.Header.EntryCount == 0) {
        CloseArchiveForCore();
        printf("%s: Archive contains no files\n", file);
        return kExitSuccess;
    }
    uint64_t available = 0;
    if (AvailableSpace(destination, &available) && declared > available) {
        fprintf(stderr,
                "qar: not enough free space: the files in %s declare %llu bytes, %s has %llu "
                "bytes free; nothing was extracted\n",
                file, (unsigned long long)declared, destination.c_str(),
                (unsigned long long)available);
        CloseArchiveForCore();
        return kExitFailure;
    }
    StartMaxOutput(maxOutput != 0 ? maxOutput : DefaultMaxOutput(info.FileSize));
    CopyText(Profile.DestinationFolder, sizeof Profile.DestinationFolder, folder.c_str());
    Profile.OverwriteWithoutPrompt = TheConsoleSettings.Overwrite == kConsoleReplace ? 1 : 0;
    TheConsoleRecord = ConsoleRecord{};
    Interrupted = 0;
    signal(SIGINT, OnInterrupt);

    int r = ExtractAll(nullptr);
    if (r != 0) ReportError(nullptr, r == ErrSilent ? ErrRead : r, nullptr, false);
    signal(SIGINT, SIG_DFL);
    CloseArchiveForCore();

    const ExtractCounts& c = LastRunCounts;
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
    }
    ReportMaxOutput();
    if (Interrupted) return 128 + SIGINT;
    return complete ? kExitSuccess : kExitFailure;
}
