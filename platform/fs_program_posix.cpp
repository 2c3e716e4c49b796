// The layer's part in starting the installed program, on Linux: the `qar` tool starts
// nothing, but the extraction loop it shares with the installer asks for the program's file
// to be held and checked all the same. Built on the layer's own calls, so the file is reached
// through no link.
#include <sys/stat.h>

#include "platform/fs.h"
#include "profile/state.h"

namespace {

// True when the file st describes has no other hard link; error 681 otherwise.
bool SingleLink(const struct stat& st) {
    if (st.st_nlink == 1) return true;
    State.LastSystemError = kErrorStoppedOnLink;
    return false;
}

}  // namespace

FileHandle FsReopenToRun(FileHandle written, const char* path) {
    struct stat was, now;
    bool known = fstat((int)written, &was) == 0;
    FsClose(written);
    FileHandle held = FsOpen(path, kGenericRead);
    if (held == kInvalidHandle) return held;
    if (known && fstat((int)held, &now) == 0 && now.st_dev == was.st_dev && now.st_ino == was.st_ino &&
        SingleLink(now)) {
        return held;
    }
    if (State.LastSystemError == 0) State.LastSystemError = kErrorFileNotFound;
    FsClose(held);
    return kInvalidHandle;
}

int FsReadyToRun(FileHandle held, const char*) {
    State.LastSystemError = 0;
    struct stat st;
    return fstat((int)held, &st) == 0 && SingleLink(st);
}
