// Timing helpers shared by the benchmark programs: a monotonic clock and the one-line form
// in which bench/run reads a series of runs.
#pragma once

#include <stdint.h>
#include <stdio.h>
#include <time.h>

#include <vector>

inline double NowSeconds() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec + ts.tv_nsec * 1e-9;
}

// "<name> <bytes> <seconds of run 1> <seconds of run 2> ...": bytes is the output (or input)
// of one run. The runs of all methods are interleaved round by round, so run i of each
// method saw the same machine, and bench/run can take ratios round by round.
inline void PrintTimes(const char* name, uint64_t bytes, const std::vector<double>& seconds) {
    printf("%s %llu", name, (unsigned long long)bytes);
    for (double s : seconds) printf(" %.6f", s);
    printf("\n");
    fflush(stdout);
}
