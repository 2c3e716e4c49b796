// Settings of the console user interface that the `qar` tool gives before a run, and what
// the interface saw during it.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

enum ConsoleOverwrite : uint8_t {
    kConsoleAsk = 0,     // ask on the terminal ("replace? [y]es/[n]o/[A]ll/[N]one/[q]uit")
    kConsoleReplace,     // -y: replace without asking
    kConsoleKeep,        // -n: never replace
};

struct ConsoleSettings {
    ConsoleOverwrite Overwrite;
    bool Quiet;          // no progress lines
    bool Silent;         // no message lines either, and every question answers OK (fuzzing)
    bool Verbose;        // progress lines even when standard output is not a terminal
    // Turns a path of the core (backslashes, entry names in the archive's code page) into
    // the text shown; null shows it with '/' for '\'.
    std::string (*ShowPath)(const char* path);
    // The command the user typed ("extract"): the lines say "qar extract: ..."; null: "qar: ...".
    const char* Command;
};

// The problems the summary repeats; the others were shown as they came.
const uint32_t kConsoleProblemsKept = 100;

struct ConsoleRecord {
    uint32_t MessagesShown;              // message boxes shown (every one reports a problem)
    std::vector<std::string> Problems;   // the first kConsoleProblemsKept of their texts, one
                                         // line each, for the summary
};

extern ConsoleSettings TheConsoleSettings;
extern ConsoleRecord TheConsoleRecord;
