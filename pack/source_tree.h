// Walks the files and folders given to `qar pack` into the entries of an archive: names
// relative to each given folder (a given file by its own name), backslash-separated, in the
// target code page; each folder entry before its contents; children in byte order of their
// names, so the same tree always gives the same list. Anything Windows could not hold, or
// the archive could not describe, is a problem naming the path and reason.
#pragma once

#include <stdint.h>

#include <functional>
#include <string>
#include <vector>

#include "pack/container.h"

enum class LinkChoice {
    Follow,   // a symbolic link is packed as what it leads to
    Skip,     // symbolic links are left out, each with a warning
};

// What a warning of the walk is about.
enum class WalkWarning {
    LinkSkipped,    // a symbolic link left out: by choice, to nothing, or into a folder that holds it
    LinkLeadsOut,   // a followed link to something outside the packed tree: every given file,
                    // and every given folder with all it holds, as the links resolve them. A
                    // link within what such a link brought in is not told again.
    LeftOut,        // a folder that holds itself, a given folder that packs nothing
};

struct WalkOptions {
    int CodePage = 1252;          // ANSI code page the names are written in
    int64_t SourceDateEpoch = -1; // >= 0: no time stamp later than this Unix time, and all
                                  // times in UTC rather than the local time zone
    LinkChoice Links = LinkChoice::Follow;
    // Told one line ("'path': reason") for each item left out (a skipped link, a link to
    // nothing or into a folder that holds it), each given folder that holds nothing, and
    // each followed link that leads out of the packed tree; kind says which, for counting.
    std::function<void(WalkWarning kind, const std::string& line)> Warn;
    // Globs matched against archive names ('/' between folders, letter case ignored as
    // Windows ignores it): a match leaves the file, or the folder with all it holds, out.
    // `*` and `?` stay within one name, `**` as a whole name spans zero or more folders,
    // and a pattern ending in '/' matches folders only.
    std::vector<std::string> Excludes;
};

// One thing to pack. Without a graft name, a folder's contents go to the top of the archive
// and a file goes there by its own name; with one, the file or folder is placed under that
// '/'-separated archive name (a name ending in '/' keeps a file's own name beneath it).
struct SourceRoot {
    std::string Path;
    std::string Name;
    bool Grafted = false;
};

// A line of a --files-from list: `SOURCE` or `NAME=SOURCE`, split at the first '=' not
// written as `\=`; `\\` stands for one backslash, any other backslash for itself.
SourceRoot ParseSourceLine(const std::string& line);

// Whether the glob matches the archive name (both '/'-separated UTF-8), ignoring case.
bool GlobMatches(const std::string& pattern, const std::string& name);

// Every problem the walk found, one line each ("'path': reason"); what() joins them.
struct InputProblems : PackError {
    explicit InputProblems(const std::vector<std::string>& lines);
    std::vector<std::string> Lines;
};

// Walks the whole tree and throws InputProblems when anything of it cannot be packed.
std::vector<SourceEntry> WalkSources(const std::vector<SourceRoot>& roots,
                                     const WalkOptions& options);
std::vector<SourceEntry> WalkSources(const std::vector<std::string>& paths,
                                     const WalkOptions& options);

// Checks one name component (UTF-8), as the archive's code page holds it, against what
// Windows allows in a file name (WindowsNameProblem); returns an empty string when it is
// fine, else the reason.
std::string CheckComponent(const std::string& component, int codePage);

// Converts a UTF-8 name into the code page; throws PackError (naming path) when it is not
// valid UTF-8 or has a character the code page cannot represent.
std::string ConvertName(const std::string& utf8, int codePage, const std::string& path);
