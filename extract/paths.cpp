// Path handling for the extraction loop: 8.3 shortening for volumes without long names,
// making every missing folder of a path, and the byte-string helpers used around them.
#include "extract/paths.h"

#include <string.h>

#include "platform/fs.h"
#include "platform/text.h"
#include "profile/profile.h"
#include "profile/state.h"

namespace {

enum : uint32_t { kPathBytes = 260 };

// Characters left out of the base and of the extension of an 8.3 name: the extension keeps
// its full stop and drops the rest, so its set is the base's without the first character.
const char kBaseDropSet[] = ". :*?\"<>|/";
const char* const kExtensionDropSet = kBaseDropSet + 1;

bool Dropped(const char* set, char c) { return c != 0 && FindChar(set, c) != nullptr; }

char Upper(char c) { return c >= 'a' && c <= 'z' ? (char)(c - 'a' + 'A') : c; }

}  // namespace

// Such a name opens the device in every folder instead of a file.
bool IsDeviceName(const char* first, const char* end) {
    const char* stop = first;
    while (stop < end && *stop != '.') ++stop;
    while (stop > first && stop[-1] == ' ') --stop;
    char base[9];   // a name and its zero take 8 at most; GCC -O3 cannot prove that n <= 7
    uint32_t n = (uint32_t)(stop - first);
    if (n < 3 || n > 7) return false;
    for (uint32_t i = 0; i < n; ++i) base[i] = Upper(first[i]);
    base[n] = 0;
    // COM and LPT take a digit 1 to 9, or a superscript one, two or three of the ANSI code
    // page; any of them is compared as a 1.
    uint8_t digit = (uint8_t)base[3];
    if (n == 4 && ((digit >= '1' && digit <= '9') || digit == 0xB9 || digit == 0xB2 || digit == 0xB3))
        base[3] = '1';
    // One string rather than a table of pointers: the names, each ended by a zero, and an
    // empty name behind the last.
    static const char kDevices[] = "CON\0PRN\0AUX\0NUL\0COM1\0LPT1\0CONIN$\0CONOUT$\0";
    for (const char* device = kDevices; *device != 0; device += TextLength(device) + 1) {
        if (memcmp(base, device, n + 1) == 0) return true;
    }
    return false;
}

char* FindChar(const char* text, char c) {
    for (;; ++text) {
        if (*text == c) return (char*)text;
        if (*text == 0) return nullptr;
    }
}

char* FindLastChar(const char* text, char c) {
    const char* found = nullptr;
    for (;; ++text) {
        if (*text == c) found = text;
        if (*text == 0) return (char*)found;
    }
}

const uint8_t* FindByte(const uint8_t* start, uint8_t byte, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i) {
        if (start[i] == byte) return start + i;
    }
    return nullptr;
}

char* ShortenComponent(char* output, const char* first, const char* end) {
    const char* split = end;
    for (const char* p = end; p > first;) {
        if (*--p == '.') {
            split = p;
            break;
        }
    }
    // The output may overlap the component but never runs ahead of the byte being read.
    int written = 0;
    for (const char* p = first; p < split && written < 8; ++p) {
        if (!Dropped(kBaseDropSet, *p)) {
            *output++ = *p;
            ++written;
        }
    }
    if (split == end) return output;
    written = 0;
    for (const char* p = split; p < end && written < 4; ++p) {
        if (!Dropped(kExtensionDropSet, *p)) {
            *output++ = *p;
            ++written;
        }
    }
    return output;
}

void MakeShortPath(char* path) {
    if (!Profile.UseShortNames) return;
    const uint8_t* terminator = FindByte((const uint8_t*)path, 0, kPathBytes);
    if (terminator == nullptr) return;   // not a path this system built; leave it alone
    char* end = (char*)terminator;

    char* read = path;
    char* colon = FindChar(path, ':');
    if (colon != nullptr) read = colon + 1;
    while (*read == '\\') ++read;
    char* write = read;

    char* lastSlash = FindLastChar(read, '\\');
    char* last = lastSlash != nullptr ? lastSlash + 1 : read;
    while (read < last) {
        char* slash = FindChar(read, '\\');
        write = ShortenComponent(write, read, slash);
        *write++ = '\\';
        read = slash + 1;
    }
    write = ShortenComponent(write, read, end);
    *write = 0;
}

int CreateFolderTree(const char* path) {
    char copy[kPathBytes];
    uint32_t length = CopyText(copy, kPathBytes, path);
    if (path[length] != 0) {
        State.LastSystemError = kErrorBadPathname;   // longer than any path of this system
        return 0;
    }
    if (length > 0 && copy[length - 1] == '\\') copy[--length] = 0;
    if (length == 0) return 1;
    if (FsGetAttributes(path) != -1) return 1;

    // Upward: cut levels until a folder can be made (or already exists).
    int removed = 0;
    for (;;) {
        if (FsMakeFolder(copy)) break;
        int32_t error = State.LastSystemError;
        if (error == kErrorFileExists || error == kErrorAlreadyExists) break;
        char* slash = FindLastChar(copy, '\\');
        if (slash == nullptr || slash == copy || slash[-1] == ':') return 0;
        *slash = 0;
        ++removed;
    }
    // Downward: put the cut backslashes back one at a time and make each level.
    for (; removed > 0; --removed) {
        char* cut = (char*)FindByte((const uint8_t*)copy, 0, kPathBytes);
        *cut = '\\';
        if (!FsMakeFolder(copy)) return 0;
    }
    return 1;
}

bool IsContainedName(const char* name) {
    const char* component = name;
    for (const char* p = name;; ++p) {
        char c = *p;
        if (c == ':' || (c > 0 && c < 32)) return false;   // streams, drives, control characters
        if (c != 0 && c != '\\' && c != '/') continue;
        if (p == component) {
            // An empty component may only end the name (one closing separator, or an empty
            // name); a leading or doubled separator is refused.
            return c == 0;
        }
        // Windows drops a final full stop or space, so such a name would alias another one.
        // This also refuses every component made of dots and spaces alone ("." and "..").
        if (p[-1] == '.' || p[-1] == ' ') return false;
        if (IsDeviceName(component, p)) return false;
        if (c == 0) return true;
        component = p + 1;
    }
}
