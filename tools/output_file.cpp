#include "tools/output_file.h"

#include <errno.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The temporary files that exist now, removed by the signal handler: a fixed table of
// fixed buffers, as a handler may neither allocate nor take a lock.
constexpr int kSlots = 4;
constexpr size_t kPathRoom = 4096;
char g_paths[kSlots][kPathRoom];
volatile sig_atomic_t g_used[kSlots];
int g_open = 0;   // files that hold a slot; the handlers are installed while any does

const int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};
constexpr size_t kSignalCount = sizeof kEndingSignals / sizeof kEndingSignals[0];
struct sigaction g_saved[kSignalCount];

void RemoveAndExit(int number) {
    for (int i = 0; i < kSlots; ++i) {
        if (g_used[i]) unlink(g_paths[i]);
    }
    _exit(128 + number);
}

// Blocks the ending signals while the table changes, so that the handler never sees a
// path half written.
class SignalsHeld {
public:
    SignalsHeld() {
        sigset_t set;
        sigemptyset(&set);
        for (int s : kEndingSignals) sigaddset(&set, s);
        pthread_sigmask(SIG_BLOCK, &set, &saved_);
    }
    ~SignalsHeld() { pthread_sigmask(SIG_SETMASK, &saved_, nullptr); }

private:
    sigset_t saved_;
};

int TakeSlot(const std::string& pattern) {
    for (int i = 0; i < kSlots; ++i) {
        if (g_used[i]) continue;
        memcpy(g_paths[i], pattern.c_str(), pattern.size() + 1);
        if (g_open++ == 0) {
            struct sigaction action = {};
            action.sa_handler = RemoveAndExit;
            sigemptyset(&action.sa_mask);
            for (size_t k = 0; k < kSignalCount; ++k) sigaction(kEndingSignals[k], &action, &g_saved[k]);
        }
        return i;
    }
    return -1;
}

void ReleaseSlot(int slot) {
    g_used[slot] = 0;
    g_paths[slot][0] = 0;
    if (--g_open == 0) {
        for (size_t k = 0; k < kSignalCount; ++k) sigaction(kEndingSignals[k], &g_saved[k], nullptr);
    }
}

}  // namespace

OutputFile::~OutputFile() { Discard(); }

bool OutputFile::Create(const std::string& target, std::string* error) {
    const size_t slash = target.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "" : target.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
    const std::string pattern = folder + "." + base + ".XXXXXX";
    if (pattern.size() >= kPathRoom) {
        *error = "the path is too long";
        return false;
    }
    int fd;
    {
        SignalsHeld held;
        slot_ = TakeSlot(pattern);
        if (slot_ < 0) {
            *error = "too many output files at once";
            return false;
        }
        fd = mkstemp(g_paths[slot_]);
        if (fd >= 0) g_used[slot_] = 1;
        const int saved = errno;
        temp_ = g_paths[slot_];
        if (fd < 0) {
            ReleaseSlot(slot_);
            slot_ = -1;
        }
        errno = saved;
    }
    if (fd < 0) {
        *error = std::string("cannot create a file beside it: ") + strerror(errno);
        temp_.clear();
        return false;
    }
    file_ = fdopen(fd, "w+b");
    if (file_ == nullptr) {
        *error = std::string("cannot open a file beside it: ") + strerror(errno);
        close(fd);
        Discard();
        return false;
    }
    target_ = target;
    return true;
}

bool OutputFile::Commit(mode_t mode, std::string* error) {
    const mode_t mask = umask(0);
    umask(mask);
    bool ok = fflush(file_) == 0 && fchmod(fileno(file_), mode & ~mask) == 0 &&
              fsync(fileno(file_)) == 0;
    int why = ok ? 0 : errno;
    if (fclose(file_) != 0 && ok) {
        ok = false;
        why = errno;
    }
    file_ = nullptr;
    if (!ok) {
        *error = std::string("cannot write it: ") + strerror(why);
        Discard();
        return false;
    }
    SignalsHeld held;
    const bool renamed = rename(temp_.c_str(), target_.c_str()) == 0;
    if (!renamed) {
        *error = std::string("cannot give the finished file its name: ") + strerror(errno);
        unlink(temp_.c_str());
    }
    ReleaseSlot(slot_);
    slot_ = -1;
    temp_.clear();
    return renamed;
}

void OutputFile::Discard() {
    if (file_ != nullptr) fclose(file_);
    file_ = nullptr;
    if (slot_ < 0) return;
    SignalsHeld held;
    unlink(temp_.c_str());
    ReleaseSlot(slot_);
    slot_ = -1;
    temp_.clear();
}

bool ReadWholeFile(const std::string& path, size_t limit, std::vector<uint8_t>* bytes) {
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) return false;
    bytes->clear();
    uint8_t chunk[65536];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, f)) > 0) {
        if (n > limit - bytes->size()) {
            fclose(f);
            errno = EFBIG;
            return false;
        }
        bytes->insert(bytes->end(), chunk, chunk + n);
    }
    const bool ok = !ferror(f);
    const int readErrno = errno;
    fclose(f);
    if (!ok) errno = readErrno != 0 ? readErrno : EIO;
    return ok;
}
