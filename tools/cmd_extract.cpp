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
    "usage: qar extract FILE [-d DIR] [-y | -n] [-q] [--max-output SIZE]\n"
    "  -d DIR             extract into DIR (default: the current folder)\n"
    "  -y                 replace existing files without asking\n"
    "  -n                 never replace existing files\n"
    "  -q                 no progress lines\n"
    "  --max-output SIZE  stop once the run has decoded more than SIZE bytes, counting every\n"
    "                     restart of a stream (bytes, or with K, M or G; default 200 times\n"
    "                     the file's size, at least 1G)\n"
    "Nothing is written when the files' declared sizes add up to more than DIR's free space.\n";

// Ctrl-C asks the run to stop the way the dialog's Cancel does: the partial file is deleted.
void OnInterrupt(int) { Profile.CancelRequested = 1; }

}  // namespace

int CmdExtract(int argc, char** argv) {
    const char* file = nullptr;
    std::string folder;
    uint64_t maxOutput = 0;
    TheConsoleSettings = ConsoleSettings{kConsoleAsk, false, false};
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (!strcmp(a, "-d") && i + 1 < argc) {
            folder = argv[++i];
        } else if (!strcmp(a, "--max-output") && i + 1 < argc) {
            if (!ParseSize(argv[++i], &maxOutput) || maxOutput == 0) {
                fprintf(stderr, "qar extract: --max-output takes a size: bytes, or with K, M or G\n");
                return 2;
            }
        } else if (!strcmp(a, "-y")) {
            TheConsoleSettings.Overwrite = kConsoleReplace;
        } else if (!strcmp(a, "-n")) {
            TheConsoleSettings.Overwrite = kConsoleKeep;
        } else if (!strcmp(a, "-q")) {
            TheConsoleSettings.Quiet = true;
        } else if (!strcmp(a, "--help")) {
            fputs(kExtractUsage, stdout);
            return 0;
        } else if (a[0] != '-' && file == nullptr) {
            file = a;
        } else {
            fputs(kExtractUsage, stderr);
            return 2;
        }
    }
    if (file == nullptr) {
        fputs(kExtractUsage, stderr);
        return 2;
    }
    // Links in the destination itself are the user's choice and are resolved here, once:
    // the file-system layer opens the resolved folder and goes through no link, in it or
    // beneath it, so that none planted inside the destination (before or during the run)
    // can lead an entry outside it.
    if (!folder.empty()) {
        std::error_code ec;
        std::filesystem::path resolved = std::filesystem::weakly_canonical(folder, ec);
        if (!ec) folder = resolved.string();
    }
    const std::string destination = folder.empty() ? "." : folder;
    // The core separates path components with backslashes on every platform.
    for (char& c : folder) {
        if (c == '/') c = '\\';
    }
    if (folder.size() >= sizeof Profile.DestinationFolder) {
        fprintf(stderr, "qar: destination folder is longer than %u characters\n",
                (unsigned)sizeof Profile.DestinationFolder - 1);
        return 2;
    }

    ArchiveFileInfo info;
    if (!OpenArchiveForCore(file, &info)) return 1;
    SetProgramName(file);
    // Refused before anything is written: files that declare more than the destination
    // holds (a file the run replaces counts in full).
    uint64_t declared = 0, available = 0;
    if (AllocateInput()) {
        declared = DeclaredFileBytes();
        ReleaseInput();
    }
    if (AvailableSpace(destination, &available) && declared > available) {
        fprintf(stderr,
                "qar: not enough free space: the files in %s declare %llu bytes, %s has %llu "
                "bytes free; nothing was extracted\n",
                file, (unsigned long long)declared, destination.c_str(),
                (unsigned long long)available);
        CloseArchiveForCore();
        return 1;
    }
    StartMaxOutput(maxOutput != 0 ? maxOutput : DefaultMaxOutput(info.FileSize));
    CopyText(Profile.DestinationFolder, sizeof Profile.DestinationFolder, folder.c_str());
    Profile.OverwriteWithoutPrompt = TheConsoleSettings.Overwrite == kConsoleReplace ? 1 : 0;
    TheConsoleRecord = ConsoleRecord{};
    signal(SIGINT, OnInterrupt);

    int r = ExtractAll(nullptr);
    if (r != 0) ReportError(nullptr, r == ErrSilent ? ErrRead : r, nullptr, false);
    signal(SIGINT, SIG_DFL);
    CloseArchiveForCore();

    const ExtractCounts& c = LastRunCounts;
    uint32_t handled = c.Files + c.Folders + c.Skipped;
    bool complete = r == 0 && !Profile.CancelRequested && TheConsoleRecord.MessagesShown == 0 &&
                    c.Failed == 0 && c.LeftOut == 0 && handled == State.Header.EntryCount;
    fprintf(complete ? stdout : stderr, "%u files, %u folders extracted", c.Files, c.Folders);
    if (c.Skipped != 0) fprintf(complete ? stdout : stderr, ", %u existing files kept", c.Skipped);
    if (c.LeftOut != 0) fprintf(stderr, ", %u entries left out", c.LeftOut);
    if (c.Failed != 0) fprintf(stderr, ", %u files failed", c.Failed);
    if (Profile.CancelRequested) fputs(", interrupted", stderr);
    fputs("\n", complete ? stdout : stderr);
    ReportMaxOutput();
    return complete ? 0 : 1;
}
