// Test helpers around the file-system layer: a scratch folder per test and the platform's
// own view of a file's last-write time, read without going through the layer under test.
#pragma once

#include <string>

#include "archive/records.h"

// A fresh empty folder, removed with everything in it when the object goes.
struct ScratchFolder {
    ScratchFolder();
    ~ScratchFolder();
    std::string Path;                                     // no trailing separator
    std::string operator/(const std::string& name) const;  // Path + separator + name
};

// The file's last-write time as local civil time; false when it cannot be read.
bool ReadWriteTime(const std::string& path, CivilTime* civil);
