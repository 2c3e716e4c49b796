// `qar test FILE`: decodes every member and checks its CRC-32 without writing anything.
#include <stdio.h>
#include <string.h>
#include <time.h>

#include <string>

#include "archive/records.h"
#include "decode/member.h"
#include "extract/user_interface.h"
#include "platform/errors.h"
#include "platform/fs.h"
#include "platform/fs_posix.h"
#include "profile/state.h"
#include "tools/archive_file.h"
#include "tools/commands.h"

namespace {

const char kTestUsage[] =
    "usage: qar test [-q] [--max-output SIZE] FILE\n"
    "  -q                 no line for each intact file\n"
    "  --max-output SIZE  stop once the run has decoded more than SIZE bytes, counting every\n"
    "                     restart of a stream (bytes, or with K, M or G; default 200 times\n"
    "                     the file's size, at least 1G)\n";

double Seconds() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec + t.tv_nsec / 1e9;
}

}  // namespace

int CmdTest(int argc, char** argv) {
    const char* file = nullptr;
    bool quiet = false;
    uint64_t maxOutput = 0;
    for (int i = 1; i < argc; ++i) {
        if (!strcmp(argv[i], "-q")) {
            quiet = true;
        } else if (!strcmp(argv[i], "--max-output") && i + 1 < argc) {
            if (!ParseSize(argv[++i], &maxOutput) || maxOutput == 0) {
                fprintf(stderr, "qar test: --max-output takes a size: bytes, or with K, M or G\n");
                return 2;
            }
        } else if (!strcmp(argv[i], "--help")) {
            fputs(kTestUsage, stdout);
            return 0;
        } else if (argv[i][0] != '-' && file == nullptr) {
            file = argv[i];
        } else {
            fputs(kTestUsage, stderr);
            return 2;
        }
    }
    if (file == nullptr) {
        fputs(kTestUsage, stderr);
        return 2;
    }
    ArchiveFileInfo info;
    if (!OpenArchiveForCore(file, &info)) return 1;
    SetProgramName(file);
    // The members' bytes go nowhere: only their CRC-32 counts.
    FileHandle sink = kDiscardHandle;
    if (!AllocateInput()) {
        ReportError(nullptr, ErrNoMemory, nullptr, false);
        CloseArchiveForCore();
        return 1;
    }

    uint64_t tested = 0, intact = 0, failed = 0, bytes = 0;
    StartMaxOutput(maxOutput != 0 ? maxOutput : DefaultMaxOutput(info.FileSize));
    double start = Seconds();
    int32_t r = WalkDirectory([&](const DirectoryEntry& e, const std::string& name) {
        if (e.Flags & FlagFolder) return true;
        int32_t code = ExtractMember(sink, e.StreamOffset, e.MemberOffset, e.MemberSize, e.Flags);
        // The bound says nothing about this member: the run stops before judging it.
        if (code == ErrLimit) return false;
        ++tested;
        // A member that came out short is ErrCrc already; a CRC-32 that differs joins it.
        if (code == 0 && State.RunningCrc != e.MemberCrc) code = ErrCrc;
        if (code == 0) {
            ++intact;
            bytes += e.MemberSize;
            if (!quiet) printf("OK      %s\n", PrintableName(name).c_str());
        } else {
            ++failed;
            printf("FAILED  %s\n", PrintableName(name).c_str());
            // Every failure is shown with its own message, silent codes included.
            ReportError(nullptr, code == ErrSilent ? ErrRead : code, PrintableName(name).c_str(), false);
        }
        return true;
    });
    double elapsed = Seconds() - start;
    if (r != 0) {
        ReportError(nullptr, r == ErrSilent ? ErrRead : r, nullptr, false);
        ++failed;
    }
    if (ReportMaxOutput()) ++failed;
    double megabytes = bytes / 1e6;
    printf("%llu of %llu files intact, %.1f MB in %.3f s (%.1f MB/s)\n",
           (unsigned long long)intact, (unsigned long long)tested,
           megabytes, elapsed, elapsed > 0 ? megabytes / elapsed : 0.0);
    ReleaseInput();
    CloseArchiveForCore();
    return failed == 0 ? 0 : 1;
}
