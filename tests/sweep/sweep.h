// The damage sweep: one extraction of an archive file into a destination folder, run the
// way the installer runs it, and what came of it.
#pragma once

#include <string>
#include <vector>

struct RunResult {
    enum Kind { kFinished, kCrashed, kHung };
    Kind Outcome = kFinished;
    int Code = 0;                        // what ExtractAll returned (0 when it was not reached)
    int Detail = 0;                      // signal or exit status of a crashed run
    std::vector<std::string> Messages;   // every message box shown, in order
};

// Reads the archive header at the start of archivePath the way start-up does, then runs
// ExtractAll into destination (a folder path with '/' separators) with a user interface
// that answers OK to every question and replaces existing files. Messages of start-up and
// of the dialog's error report are collected like those of the loop.
RunResult ExtractInProcess(const std::string& archivePath, const std::string& destination);

// ExtractInProcess bounded by timeoutSeconds and isolated from the caller as far as the
// platform allows: a child process on Linux (so crashes and hangs are counted, not fatal),
// a watchdog thread on Windows (a hang ends the program with a message).
RunResult ExtractIsolated(const std::string& archivePath, const std::string& destination,
                          unsigned timeoutSeconds);

// Runs the program argv[0] with the arguments behind it, its output discarded, bounded by
// timeoutSeconds: its exit status, or -1 when it crashed, hung or could not be started
// (always -1 where the platform offers no such runs: the Windows build).
int RunProgram(const std::vector<std::string>& argv, unsigned timeoutSeconds);
