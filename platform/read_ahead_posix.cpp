// The read-ahead cache of the Linux file-system layer (read_ahead_posix.h) and FsRead, the
// one reader that fills it.
#include "platform/read_ahead_posix.h"

#include <errno.h>
#include <string.h>
#include <sys/types.h>
#include <unistd.h>

#include "platform/error_map_posix.h"
#include "platform/fs.h"
#include "profile/state.h"

namespace fsposix {

namespace {

// Read-ahead of the handle read last: a stream of small blocks asks for a header and then
// the rest of each block, and answering those from one larger read saves two system calls a
// block. Small requests only; large ones go to the file directly. The bytes kept are those
// behind the position the caller sees, so the file's own position lies Kept bytes further:
// any other operation on the handle first gives the kept bytes back (Forget).
struct ReadAhead {
    int Handle = -1;
    uint32_t Next = 0;   // first kept byte not yet handed out
    uint32_t End = 0;    // end of the kept bytes
    uint8_t Bytes[16384];
};
ReadAhead Ahead;
const uint32_t kSmallRead = 4096;

// Reads until count bytes or the end of the file, as ReadFile does on a file.
int32_t ReadFully(int handle, uint8_t* p, uint32_t count) {
    uint32_t done = 0;
    while (done < count) {
        ssize_t r = read(handle, p + done, count - done);
        if (r < 0) {
            if (errno == EINTR) continue;
            Record(nullptr);
            return -1;
        }
        if (r == 0) break;
        done += (uint32_t)r;
    }
    return (int32_t)done;
}

}  // namespace

void ForgetReused(int handle) {
    if (Ahead.Handle != handle) return;
    Ahead.Handle = -1;
    Ahead.Next = Ahead.End = 0;
}

bool Forget(int handle) {
    if (handle < 0 || Ahead.Handle != handle) return true;
    off_t unread = (off_t)(Ahead.End - Ahead.Next);
    ForgetReused(handle);
    if (unread != 0 && lseek(handle, -unread, SEEK_CUR) < 0) {
        Record(nullptr);
        return false;
    }
    return true;
}

}  // namespace fsposix

using namespace fsposix;

int32_t FsRead(FileHandle handle, void* buffer, uint32_t count) {
    State.LastSystemError = 0;
    if (count > 0x7FFFFFFFu) count = 0x7FFFFFFFu;
    int fd = (int)handle;
    uint8_t* p = (uint8_t*)buffer;
    if (fd < 0) return ReadFully(fd, p, count);
    if (Ahead.Handle != fd) {
        // The kept bytes belong to another handle, which may have been closed behind the
        // layer's back: they are given back if it can take them, and this read goes on.
        Forget(Ahead.Handle);
        State.LastSystemError = 0;
    }
    uint32_t done = 0;
    if (Ahead.Handle == fd) {
        done = Ahead.End - Ahead.Next < count ? Ahead.End - Ahead.Next : count;
        memcpy(p, Ahead.Bytes + Ahead.Next, done);
        Ahead.Next += done;
        if (done == count) return (int32_t)done;
    }
    if (count - done >= kSmallRead) {
        int32_t r = ReadFully(fd, p + done, count - done);
        return r < 0 ? -1 : (int32_t)done + r;
    }
    int32_t r = ReadFully(fd, Ahead.Bytes, sizeof Ahead.Bytes);
    if (r < 0) return -1;
    uint32_t n = (uint32_t)r < count - done ? (uint32_t)r : count - done;
    memcpy(p + done, Ahead.Bytes, n);
    Ahead.Handle = fd;
    Ahead.Next = n;
    Ahead.End = (uint32_t)r;
    return (int32_t)(done + n);
}
