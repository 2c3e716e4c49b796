// Timing helpers shared by the benchmark programs: a monotonic clock and the summary of a
// series of runs (median, min, max) in the one-line form that bench/run reads.
#pragma once

#include <stdint.h>
#include <stdio.h>
#include <time.h>

#include <algorithm>
#include <vector>

inline double NowSeconds() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec + ts.tv_nsec * 1e-9;
}

struct RunSummary {
    double Median, Min, Max;
};

inline RunSummary Summarise(std::vector<double> seconds) {
    std::sort(seconds.begin(), seconds.end());
    size_t n = seconds.size();
    double median = n % 2 ? seconds[n / 2] : (seconds[n / 2 - 1] + seconds[n / 2]) / 2;
    return {median, seconds.front(), seconds.back()};
}

// "<name> <bytes> <median s> <min s> <max s>": bytes is the output (or input) of one run.
inline void PrintSummary(const char* name, uint64_t bytes, const RunSummary& s) {
    printf("%s %llu %.6f %.6f %.6f\n", name, (unsigned long long)bytes, s.Median, s.Min, s.Max);
    fflush(stdout);
}
