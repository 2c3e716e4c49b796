// The command line of every `qar` command: each command declares its options in a table,
// and one parser reads them, so that -h/--help, `--`, a missing value, an unknown option and
// an argument too many are handled, and told, the same way by every command.
#pragma once

#include <stdint.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

struct Option {
    const char* Name;    // "-o", "--codepage"
    bool TakesValue;
    // Takes the option's value (nullptr for an option without one); returns "" or what was
    // wrong with it, told as a usage error ("--threads needs 1..64").
    std::function<std::string(const char* value)> Apply;
};

// An option without a value that sets *flag.
Option FlagOption(const char* name, bool* flag);
// An option whose value, any text, goes to *target (the last one given counts).
Option TextOption(const char* name, std::string* target);
// An option whose value is a file name: an empty one is refused.
Option FileOption(const char* name, std::string* target);
// A repeatable option: every value is added to *targets; an empty one is refused.
Option ListOption(const char* name, std::vector<std::string>* targets);
// A whole number from low to high.
Option NumberOption(const char* name, long low, long high, long* target);
// A size above 0: bytes, or with K, M or G.
Option SizeOption(const char* name, uint64_t* target);
// Parses a count with an optional K, M or G suffix (powers of 1024).
bool ParseSize(const char* text, uint64_t* value);
// --codepage N: a code page that qar converts names and texts with.
Option CodePageOption(int* target);

struct CommandLine {
    const char* Command;              // as the user typed it: "pack", "sfx", ...
    const char* Usage;                // the text of --help
    std::vector<Option> Options;
    size_t MostOperands = SIZE_MAX;   // arguments that are not options (file names)
};

// Reads argv[1..argc) against the command's options; the other arguments go to operands in
// order ("-" is one, and every argument after "--"). Returns nothing when the command is to
// run; otherwise the exit status to end with: kExitSuccess once --help was printed, or
// kExitUsage once a usage error was told.
std::optional<int> ParseCommandLine(const CommandLine& line, int argc, char** argv,
                                    std::vector<std::string>* operands);
