#include "decode/input.h"
#include "fuzz/support/fuzz_archive.h"

#include <stdio.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <unistd.h>

#include "platform/fs.h"
#include "profile/profile.h"
#include "profile/state.h"

void FuzzArchive(const uint8_t* data, size_t size) {
    static int fd = -1;
    if (fd < 0) {
        fd = memfd_create("qar-fuzz", 0);
        if (fd < 0) {
            perror("memfd_create");
            abort();
        }
        State.InputBuffer = (uint8_t*)MemAlloc(kInputBufferSize + kInputBufferSlack);
    }
    if (ftruncate(fd, 0) != 0 || pwrite(fd, data, size, 0) != (ssize_t)size ||
        FsSeek(fd, 0, kFileBegin) != 0) {
        perror("memfd");
        abort();
    }
    State.ArchiveFile = fd;
    State.FilePosition = 0;
    ResetInput();
    State.Stream.StreamStarted = 0;
    State.NextBlockPosition = 0;
    Profile.CancelRequested = 0;
}

void FuzzCheck(bool condition, const char* what) {
    if (condition) return;
    fprintf(stderr, "check failed: %s\n", what);
    abort();
}
