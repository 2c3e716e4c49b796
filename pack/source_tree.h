// Walks the files and folders given to `qar pack` into the entries of an archive: names
// relative to each given folder (a given file by its own name), backslash-separated, in the
// target code page; each folder entry before its contents; children in byte order of their
// names, so the same tree always gives the same list. Anything Windows could not hold, or
// the archive could not describe, is refused with a PackError naming the path and reason.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "pack/container.h"

struct WalkOptions {
    int CodePage = 1252;          // ANSI code page the names are written in
    int64_t SourceDateEpoch = -1; // >= 0: no time stamp later than this Unix time
};

std::vector<SourceEntry> WalkSources(const std::vector<std::string>& paths,
                                     const WalkOptions& options);

// Checks one name component (UTF-8) against what Windows allows in a file name; returns
// an empty string when it is fine, else the reason.
std::string CheckComponent(const std::string& component);

// Converts a UTF-8 name into the code page; throws PackError (naming path) when it is not
// valid UTF-8 or has a character the code page cannot represent.
std::string ConvertName(const std::string& utf8, int codePage, const std::string& path);
