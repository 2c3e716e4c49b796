// `qar test FILE`: decodes every member and checks its CRC-32 without writing anything.
#include <stdio.h>
#include <string.h>
#include <time.h>

#include <string>
#include <vector>

#include "archive/records.h"
#include "decode/member.h"
#include "extract/user_interface.h"
#include "platform/errors.h"
#include "platform/fs.h"
#include "platform/fs_posix.h"
#include "profile/state.h"
#include "tools/archive_session.h"
#include "tools/commands.h"
#include "tools/directory_review.h"
#include "tools/entry_names.h"
#include "tools/options.h"

namespace {

const char kTestUsage[] =
    "usage: qar test [-q] [--codepage N] [--max-output SIZE] [--max-entries N] FILE\n"
    "  -q                 no line for each intact file\n"
    "  --codepage N       the code page of the names in the archive (default: the one the\n"
    "                     archive records, else 1252)\n"
    "  --max-entries N    refuse an archive that declares more than N entries (default\n"
    "                     1000000)\n"
    "  --max-output SIZE  stop once the run has decoded more than SIZE bytes, counting every\n"
    "                     restart of a stream (bytes, or with K, M or G; default 200 times\n"
    "                     the file's size, at least 1G)\n"
    "The directory is read first: its check values (when the archive has them), and names\n"
    "that extract refuses or that name one file twice, are checked. Every file is tested,\n"
    "whatever fails; the summary counts the entries of the header that damage kept the run\n"
    "from reaching. Exit status: 0 all intact, 1 damage, 2 usage error.\n";

}  // namespace

int CmdTest(int argc, char** argv) {
    bool quiet = false;
    uint64_t maxOutput = 0, maxEntries = kDefaultMaxEntries;
    int codePage = 0;
    const CommandLine line{"test", kTestUsage,
                           {FlagOption("-q", &quiet), CodePageOption(&codePage),
                            SizeOption("--max-output", &maxOutput),
                            SizeOption("--max-entries", &maxEntries)},
                           1};
    std::vector<std::string> operands;
    if (auto status = ParseCommandLine(line, argc, argv, &operands)) return *status;
    if (operands.empty()) return UsageError("test", "no archive given");
    const char* file = operands[0].c_str();
    ArchiveFileInfo info;
    ArchiveSession session;
    if (!session.Open("test", file, &info)) return kExitFailure;
    SetProgramName(file);
    // The members' bytes go nowhere: only their CRC-32 counts.
    FileHandle sink = kDiscardHandle;
    DirectoryReview review;
    const bool reviewed = ReviewDirectory("test", file, info, codePage, maxEntries, &review);
    if (review.TooMany || review.Checks.Status == kHeaderDamaged) return kExitFailure;
    if (State.Header.EntryCount == 0) {
        printf("%s: Archive contains no files\n", file);
        return reviewed ? kExitSuccess : kExitFailure;
    }

    uint64_t reached = 0, intact = 0, bytes = 0, failed = 0;
    const size_t kFailuresKept = 100;
    std::vector<std::string> failures;
    StartMaxOutput(maxOutput != 0 ? maxOutput : DefaultMaxOutput(info.FileSize));
    double start = Seconds();
    uint32_t index = 0;
    int32_t r = WalkReviewed(review, [&](const DirectoryEntry& e, const std::string& name) {
        // An entry the review found changed or misnamed is not intact, whatever its member.
        if (review.IsDamaged(index++)) {
            ++reached;
            ++failed;
            const std::string shown = ShownName(name);
            if (failures.size() < kFailuresKept) failures.push_back(shown);
            printf("FAILED  %s (damaged directory entry)\n", shown.c_str());
            return true;
        }
        if (e.Flags & FlagFolder) {
            ++reached;
            ++intact;
            return true;
        }
        int32_t code = ExtractMember(sink, e.StreamOffset, e.MemberOffset, e.MemberSize, e.Flags);
        // The bound says nothing about this member: the run stops before judging it.
        if (code == ErrLimit) return false;
        ++reached;
        // A member that came out short is ErrCrc already; a CRC-32 that differs joins it.
        if (code == 0 && State.RunningCrc != e.MemberCrc) code = ErrCrc;
        if (code == 0) {
            ++intact;
            bytes += e.MemberSize;
            if (!quiet) printf("OK      %s\n", ShownName(name).c_str());
        } else {
            ++failed;
            const std::string shown = ShownName(name);
            // A hostile archive can fail entry after entry: the summary names the first ones.
            if (failures.size() < kFailuresKept) failures.push_back(shown);
            printf("FAILED  %s\n", shown.c_str());
            // Every failure is shown with its own message, silent codes included.
            ReportError(nullptr, code == ErrSilent ? ErrRead : code, shown.c_str(), false);
        }
        return true;
    });
    double elapsed = Seconds() - start;
    bool problem = failed != 0 || review.Problems != 0;
    if (r != 0) {
        ReportError(nullptr, r == ErrSilent ? ErrRead : r, nullptr, false);
        problem = true;
    }
    if (ReportMaxOutput("test")) problem = true;
    const uint64_t total = State.Header.EntryCount;
    const double mebibytes = bytes / 1048576.0;
    printf("%llu of %llu %s intact", (unsigned long long)intact, (unsigned long long)total,
           total == 1 ? "entry" : "entries");
    if (reached < total) printf(", %llu not reached", (unsigned long long)(total - reached));
    printf(", %.1f MiB in %.3f s (%.1f MiB/s)\n", mebibytes, elapsed,
           elapsed > 0 ? mebibytes / elapsed : 0.0);
    if (review.Problems != 0) {
        printf("the directory is damaged: %llu %s (told above)\n", (unsigned long long)review.Problems,
               review.Problems == 1 ? "problem" : "problems");
    } else if (!review.Checked && r == 0) {
        printf("names not checked: the archive carries no check values of its directory\n");
    }
    if (failed != 0) {
        fprintf(stderr, "%llu %s failed:\n", (unsigned long long)failed, failed == 1 ? "file" : "files");
        for (const std::string& name : failures) fprintf(stderr, "  %s\n", name.c_str());
        if (failed > failures.size()) {
            fprintf(stderr, "  and %llu more\n", (unsigned long long)(failed - failures.size()));
        }
    }
    return problem ? kExitFailure : kExitSuccess;
}
