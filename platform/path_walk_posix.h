// The path walk of the Linux file-system layer, which refuses links: each path is walked a
// folder at a time from an open handle, never through a symbolic link, and paths beneath
// the run's destination (FsSetDestination) start from the destination's handle and may not
// climb out of it. The layer's operations then act on the last component relative to the
// handle of its folder (Place).
#pragma once

#include <fcntl.h>
#include <stdint.h>
#include <unistd.h>

namespace fsposix {

const uint32_t kPathLimit = 4096;

// Copies path into out (kPathLimit bytes) with '/' separators; false (and error 206) when it
// does not fit.
bool LocalPath(const char* path, char* out);

// Where a path leads: the folder that holds its last component, opened without going through
// a link, and the name of that component. Text is the path's local copy that Name points into.
struct Place {
    int Folder = AT_FDCWD;
    bool Owned = false;
    const char* Name = nullptr;
    char Text[kPathLimit];
    ~Place() {
        if (Owned) close(Folder);
    }
};

// The offset of the part of local (a LocalPath copy) beneath the destination, or -1 when
// local does not lie beneath it (the destination itself and places outside it do not).
int32_t BeneathOffset(const char* local);

// Finds where path leads (see Place); false with the error recorded when a folder on the way
// is missing, is a link, or the path climbs out of the destination.
bool Find(const char* path, Place* place);

}  // namespace fsposix
