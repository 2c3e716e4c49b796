// The path walk of the Linux file-system layer (path_walk_posix.h).
//
// No path is resolved through a symbolic link: each one is walked a folder at a time from an
// open handle (openat2 with RESOLVE_NO_SYMLINKS where the kernel has it, else openat with
// O_NOFOLLOW per component), and the last component is created, opened, changed or deleted
// relative to the handle of its folder. Paths beneath the run's destination start from the
// destination's handle, so a folder swapped for a link while the run goes on is refused
// rather than followed, and none of them may climb out with "..".
#include "platform/path_walk_posix.h"

#include <errno.h>
#include <linux/openat2.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/syscall.h>

#include "platform/error_map_posix.h"
#include "platform/fs.h"
#include "platform/fs_posix.h"
#include "profile/state.h"

namespace fsposix {

bool LocalPath(const char* path, char* out) {
    uint32_t i = 0;
    for (; path[i] != 0; ++i) {
        if (i + 1 >= kPathLimit) {
            State.LastSystemError = kErrorFilenameTooLong;
            return false;
        }
        out[i] = path[i] == '\\' ? '/' : path[i];
    }
    out[i] = 0;
    return true;
}

namespace {

// The run's destination: an open handle and its text ('/' separators, no trailing one but a
// root's); -1 outside a run.
int Destination = -1;
char DestinationText[kPathLimit];
uint32_t DestinationLength;

// Converts the names beneath the destination (archive code page bytes) to the names made on
// disk; null keeps the bytes as they are.
FsNameDecoder NameDecoder;

// Set once openat2 has been refused (an older kernel, or a sandbox that filters it): from
// then on paths are walked one component at a time.
bool WalkByHand;

// True when a component of text is "..".
bool ClimbsUp(const char* text) {
    for (const char* p = text; *p != 0; ++p) {
        if ((p == text || p[-1] == '/') && p[0] == '.' && p[1] == '.' && (p[2] == '/' || p[2] == 0)) {
            return true;
        }
    }
    return false;
}

// Records why folder `name` inside `at` could not be opened on the way: a link is told
// apart from a file, which O_DIRECTORY reports alike.
void RecordOnTheWay(int at, const char* name, int error) {
    struct stat st;
    if (error == ENOTDIR && fstatat(at, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode)) {
        error = ELOOP;
    }
    State.LastSystemError = Win32Error(error, nullptr, true);
}

// Opens the folder that text names, starting at `at`, through no link; beneath keeps the
// walk inside `at`. Returns the handle (the caller closes it) or -1 with the error recorded.
int OpenFolder(int at, char* text, bool beneath) {
    if (!WalkByHand) {
        struct open_how how;
        memset(&how, 0, sizeof how);
        how.flags = O_PATH | O_DIRECTORY | O_CLOEXEC;
        how.resolve = RESOLVE_NO_SYMLINKS | (beneath ? RESOLVE_BENEATH : 0);
        long fd;
        do {
            fd = syscall(SYS_openat2, at, text, &how, sizeof how);
        } while (fd < 0 && errno == EINTR);
        if (fd >= 0) return (int)fd;
        // EAGAIN: a rename elsewhere kept the kernel from vouching for the walk; walking by
        // hand is as safe.
        if (errno == ENOSYS || errno == EPERM) {
            WalkByHand = true;
        } else if (errno != EAGAIN) {
            RecordOnTheWay(at, text, errno);
            return -1;
        }
    }
    int folder = at;
    bool owned = false;
    char* p = text;
    if (*p == '/') {
        folder = open("/", O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (folder < 0) {
            RecordOnTheWay(AT_FDCWD, "/", errno);
            return -1;
        }
        owned = true;
        while (*p == '/') ++p;
    }
    while (*p != 0) {
        char* end = p;
        while (*end != 0 && *end != '/') ++end;
        char separator = *end;
        *end = 0;
        int next = openat(folder, p, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (next < 0) RecordOnTheWay(folder, p, errno);
        *end = separator;
        if (owned) close(folder);
        if (next < 0) return -1;
        folder = next;
        owned = true;
        p = end;
        while (*p == '/') ++p;
    }
    if (!owned) {
        folder = openat(at, ".", O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (folder < 0) RecordOnTheWay(at, ".", errno);
    }
    return folder;
}

}  // namespace

int32_t BeneathOffset(const char* local) {
    if (Destination < 0) return -1;
    uint32_t n = DestinationLength;
    if (n == 0) {
        if (local[0] == '/') return -1;   // the destination is the current folder
    } else {
        if (memcmp(local, DestinationText, n) != 0) return -1;
        if (DestinationText[n - 1] != '/' && local[n] != '/') return -1;   // "/dest" vs "/destx"
    }
    while (local[n] == '/') ++n;
    return local[n] != 0 ? (int32_t)n : -1;
}

bool Find(const char* path, Place* place) {
    if (!LocalPath(path, place->Text)) return false;
    char* text = place->Text;
    int at = AT_FDCWD;
    int32_t offset = BeneathOffset(text);
    if (offset >= 0) {
        text += offset;
        // The raw bytes are decoded, not the local copy: in a double-byte code page a
        // backslash byte can be half of a character.
        if (NameDecoder != nullptr) {
            if (!NameDecoder(path + offset, text, kPathLimit - (uint32_t)offset)) {
                State.LastSystemError = kErrorFilenameTooLong;
                return false;
            }
            for (char* p = text; *p != 0; ++p) {
                if (*p == '\\') *p = '/';
            }
        }
        at = Destination;
        if (ClimbsUp(text)) {
            State.LastSystemError = kErrorBadPathname;
            return false;
        }
    }
    uint32_t n = (uint32_t)strlen(text);
    while (n > 1 && text[n - 1] == '/') text[--n] = 0;   // "sub/" names "sub"
    char* last = strrchr(text, '/');
    if (last == nullptr) {
        place->Folder = at;
        place->Name = n != 0 ? text : ".";
        return true;
    }
    place->Name = last[1] != 0 ? last + 1 : ".";
    char root[] = "/";
    char* folder = text;
    if (last == text) {
        folder = root;
    } else {
        *last = 0;
    }
    place->Folder = OpenFolder(at, folder, offset >= 0);
    if (place->Folder < 0) return false;
    place->Owned = true;
    return true;
}

}  // namespace fsposix

using namespace fsposix;

int FsSetDestination(const char* path) {
    if (Destination >= 0) close(Destination);
    Destination = -1;
    if (path == nullptr) return 1;
    if (!LocalPath(path, DestinationText)) return 0;
    uint32_t n = (uint32_t)strlen(DestinationText);
    while (n > 1 && DestinationText[n - 1] == '/') DestinationText[--n] = 0;
    // Opened like any other path: a link in the text is refused, not followed. The `qar`
    // tool resolves the links of the folder the user names before the run.
    Place place;
    if (!Find(path, &place)) return 0;
    int fd = openat(place.Folder, place.Name, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        RecordOnTheWay(place.Folder, place.Name, errno);
        return 0;
    }
    Destination = fd;
    DestinationLength = n;
    return 1;
}

void FsWalkByHand(bool byHand) { WalkByHand = byHand; }

void FsSetNameDecoder(FsNameDecoder decoder) { NameDecoder = decoder; }
