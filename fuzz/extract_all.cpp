// The whole extraction loop over arbitrary archive bytes, into a folder several levels down
// a private sandbox. After every run the sandbox is walked: anything written outside the
// destination folder (a name that escaped it) is a finding. Bit 0 of the last input byte
// chooses replacing or asking; bit 1 makes the destination a volume without long names, so
// that every name goes through 8.3 shortening, and then every name made must be 8.3.
#include <dirent.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "decode/crc32.h"
#include "extract/extract.h"
#include "fuzz/support/fuzz_archive.h"
#include "platform/text.h"
#include "profile/profile.h"
#include "profile/state.h"
#include "ui/console.h"

namespace {

std::string Sandbox;        // /tmp/qfXXXXXX: already 8.3, so shortening leaves the path as it is
std::string Destination;    // Sandbox/a/b/c/dest
bool ShortNameVolume = false;

// Removes everything below path (not path itself).
void Empty(const std::string& path) {
    DIR* d = opendir(path.c_str());
    if (d == nullptr) return;
    while (dirent* e = readdir(d)) {
        if (!strcmp(e->d_name, ".") || !strcmp(e->d_name, "..")) continue;
        std::string child = path + "/" + e->d_name;
        struct stat st;
        if (lstat(child.c_str(), &st) != 0) continue;
        if (S_ISDIR(st.st_mode)) {
            chmod(child.c_str(), 0700);
            Empty(child);
            rmdir(child.c_str());
        } else {
            unlink(child.c_str());
        }
    }
    closedir(d);
}

// True when every entry below path lies on the way to the destination or inside it.
bool OnlyDestination(const std::string& path) {
    if (path == Destination) return true;
    if (Destination.compare(0, path.size() + 1, path + "/") != 0) return false;
    DIR* d = opendir(path.c_str());
    if (d == nullptr) return false;
    bool fine = true;
    while (dirent* e = readdir(d)) {
        if (!strcmp(e->d_name, ".") || !strcmp(e->d_name, "..")) continue;
        if (!OnlyDestination(path + "/" + e->d_name)) {
            fprintf(stderr, "written outside the destination: %s/%s\n", path.c_str(), e->d_name);
            fine = false;
        }
    }
    closedir(d);
    return fine;
}

// True when every entry below path has an 8.3 name: at most 8 characters, then at most one
// full stop and 3 more.
bool OnlyShortNames(const std::string& path) {
    DIR* d = opendir(path.c_str());
    if (d == nullptr) return true;
    bool fine = true;
    while (dirent* e = readdir(d)) {
        if (!strcmp(e->d_name, ".") || !strcmp(e->d_name, "..")) continue;
        const char* dot = strchr(e->d_name, '.');
        size_t base = dot != nullptr ? (size_t)(dot - e->d_name) : strlen(e->d_name);
        size_t extension = dot != nullptr ? strlen(dot + 1) : 0;
        bool shortName = base <= 8 && extension <= 3 && (dot == nullptr || strchr(dot + 1, '.') == nullptr);
        if (!shortName) {
            fprintf(stderr, "not an 8.3 name: %s/%s\n", path.c_str(), e->d_name);
            fine = false;
        }
        if (!OnlyShortNames(path + "/" + e->d_name)) fine = false;
    }
    closedir(d);
    return fine;
}

}  // namespace

// The link wraps FsMaxComponentLength (cmake/fuzz.cmake): the answer of a volume that takes
// 8.3 names only, when the input asks for one.
extern "C" uint32_t __real__Z20FsMaxComponentLengthPKc(const char* destination);
extern "C" uint32_t __wrap__Z20FsMaxComponentLengthPKc(const char* destination) {
    return ShortNameVolume ? 12 : __real__Z20FsMaxComponentLengthPKc(destination);
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    BuildCrcTable();
    char pattern[] = "/tmp/qfXXXXXX";
    if (mkdtemp(pattern) == nullptr) abort();
    Sandbox = pattern;
    Destination = Sandbox + "/a/b/c/dest";
    // The sandbox goes when the run ends normally; after a finding it stays to be looked at.
    atexit([] {
        Empty(Sandbox);
        rmdir(Sandbox.c_str());
    });
    TheConsoleSettings.Quiet = true;
    TheConsoleSettings.Silent = true;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzArchive(data, size);
    uint8_t* fuzzInput = State.InputBuffer;   // ExtractAll brings its own
    State.Header = ArchiveHeader{};
    if (size >= 12) {
        State.Header.DirectoryOffset = (uint32_t)data[4] | (uint32_t)data[5] << 8 |
                                       (uint32_t)data[6] << 16 | (uint32_t)data[7] << 24;
        State.Header.EntryCount = (uint32_t)data[8] | (uint32_t)data[9] << 8 |
                                  (uint32_t)data[10] << 16 | (uint32_t)data[11] << 24;
    }
    Profile.ArchiveBase = 0;
    // Even answers replace existing files, odd ones ask (and the console answers No).
    Profile.OverwriteWithoutPrompt = size > 0 && (data[size - 1] & 1) == 0;
    ShortNameVolume = size > 0 && (data[size - 1] & 2) != 0;
    std::string core = Destination;
    for (char& c : core) {
        if (c == '/') c = '\\';
    }
    CopyText(Profile.DestinationFolder, sizeof Profile.DestinationFolder, core.c_str());

    ExtractAll(nullptr);

    FuzzCheck(OnlyDestination(Sandbox), "nothing is written outside the destination");
    FuzzCheck(State.Stream.Window == nullptr, "the run releases its window");
    FuzzCheck(!ShortNameVolume || OnlyShortNames(Destination), "a volume without long names gets 8.3 names");
    State.InputBuffer = fuzzInput;
    Empty(Destination);
    return 0;
}
