// Windows has no fork: each extraction runs in the sweep's own process. A watchdog thread
// ends the program with a message when one run takes longer than its bound, so a hang is
// reported instead of stalling the sweep; a crash ends the program, which the caller sees.
#include <stdio.h>
#include <stdlib.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "tests/sweep/sweep.h"

namespace {

std::atomic<long long> RunDeadline{0};   // milliseconds since the epoch; 0: no run going
std::atomic<bool> WatchdogStarted{false};

long long NowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void Watch() {
    for (;;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        long long deadline = RunDeadline.load();
        if (deadline != 0 && NowMs() > deadline) {
            fputs("damage_sweep: an extraction ran past its time bound (hang)\n", stderr);
            fflush(stderr);
            _Exit(3);
        }
    }
}

}  // namespace

RunResult ExtractIsolated(const std::string& archivePath, const std::string& destination,
                          unsigned timeoutSeconds) {
    if (!WatchdogStarted.exchange(true)) std::thread(Watch).detach();
    RunDeadline = NowMs() + (long long)timeoutSeconds * 1000;
    RunResult r = ExtractInProcess(archivePath, destination);
    RunDeadline = 0;
    return r;
}

// The runs of the `qar` tool that the flip sweep makes are Linux runs.
int RunProgram(const std::vector<std::string>&, unsigned) { return -1; }
