// Settings of the console user interface that the `qar` tool gives before a run, and what
// the interface saw during it.
#pragma once

#include <stdint.h>

enum ConsoleOverwrite : uint8_t {
    kConsoleAsk = 0,     // ask on the terminal ("replace? [y]es/[n]o/[A]ll")
    kConsoleReplace,     // -y: replace without asking
    kConsoleKeep,        // -n: never replace
};

struct ConsoleSettings {
    ConsoleOverwrite Overwrite;
    bool Quiet;          // no progress lines
    bool Silent;         // no message lines either, and every question answers OK (fuzzing)
};

struct ConsoleRecord {
    uint32_t MessagesShown;   // message boxes shown (every one reports a problem)
};

extern ConsoleSettings TheConsoleSettings;
extern ConsoleRecord TheConsoleRecord;
