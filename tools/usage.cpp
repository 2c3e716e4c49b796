#include <stdio.h>
#include <time.h>

#include "tools/commands.h"

int UsageError(const char* command, const std::string& what) {
    fprintf(stderr, "qar %s: %s\nRun 'qar %s --help' for its options.\n", command, what.c_str(),
            command);
    return kExitUsage;
}

int UnexpectedArgument(const char* command, const char* argument) {
    return UsageError(command, argument[0] == '-' && argument[1] != 0
                                   ? std::string("unknown option ") + argument
                                   : std::string("unexpected argument ") + argument);
}

double Seconds() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec + t.tv_nsec / 1e9;
}
