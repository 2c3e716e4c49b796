// The subcommands of `qar`. Each returns the process exit status.
#pragma once

#include <string>

// Exit statuses, the same for every command; a run ended by signal N exits with 128 + N.
enum : int {
    kExitSuccess = 0,
    kExitFailure = 1,   // damage, a failed member, or a file that could not be read or written
    kExitUsage = 2,     // the command line was wrong; nothing was done
};

int CmdPack(int argc, char** argv);
int CmdSfx(int argc, char** argv);
int CmdList(int argc, char** argv);
int CmdTest(int argc, char** argv);
int CmdExtract(int argc, char** argv);

// Says on one line what was wrong with the command line of `qar command`, then where its
// options are told; returns kExitUsage.
int UsageError(const char* command, const std::string& what);
// Seconds on a steady clock, for the time a run took.
double Seconds();

// The usage error of an argument that the command does not take: an unknown option, or a
// second file name.
int UnexpectedArgument(const char* command, const char* argument);
