// Packing as `qar pack` and `qar sfx` share it: the options that shape an archive, and the
// run that walks the input and writes the archive into an output file.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "pack/container.h"
#include "pack/source_tree.h"
#include "tools/options.h"

class OutputFile;

struct PackSettings {
    PackOptions Options;
    WalkOptions Walk;
    bool Quiet = false;
    bool Solid = false;
    uint64_t StreamSize = 0;          // --stream-size, 0 when not given
    std::vector<std::string> Lists;   // --files-from
};

// Every option of `qar pack` but -o and --codepage, whose values go to *settings.
std::vector<Option> PackingOptions(PackSettings* settings);

// Completes the settings once the command line is read: the roots from the paths and the
// --files-from lists, the streams, SOURCE_DATE_EPOCH. Returns kExitSuccess, or the exit status of a
// problem told on standard error as `qar command: ...`.
int FinishPackSettings(const char* command, const std::vector<std::string>& paths,
                       PackSettings* settings, std::vector<SourceRoot>* roots);

// What a packing run did, for its summary line.
struct PackReport {
    uint64_t Files = 0, Folders = 0;
    uint64_t Bytes = 0;                            // of all files, each name counted
    uint64_t ArchiveSize = 0;
    uint64_t SharedContents = 0, SharedFiles = 0;  // contents stored once for several files
    uint64_t SkippedLinks = 0;
    uint64_t Warnings = 0;                         // lines told; a caller adds its own
    double Seconds = 0;
};

// Walks the roots and writes the archive at the current position of output's file, which is
// to become target; warnings are told as they come, and the progress line on a terminal
// unless settings.Quiet. Returns kExitSuccess, or the exit status of a problem told on
// standard error (the output is then left to its owner to discard). *report receives what
// the run did, for PrintPackSummary once the output is in place.
int PackInto(const char* command, const PackSettings& settings,
             const std::vector<SourceRoot>& roots, const std::string& target, OutputFile* output,
             PackReport* report);

// The one-line summary of a run on standard error: what went in and what came out, how long
// it took, and what the run shared, skipped and warned of.
void PrintPackSummary(const char* command, const PackReport& report);

// Refuses an output path that names a folder (a usage error, told); returns kExitSuccess otherwise.
int CheckOutputPath(const char* command, const std::string& target);
