// The review of a whole directory that `qar list | test | extract` make before their work.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "archive/dircheck.h"
#include "tools/archive_session.h"
#include "tools/installer_image.h"

// The most entries list, test and extract read unless --max-entries says otherwise. Real
// installers hold up to some tens of thousands of files; the review of the names keeps about
// 50 bytes per entry besides the entries it keeps (kKeptEntryBytes), so a hostile count costs
// at most some 70 MB and a second or so.
const uint64_t kDefaultMaxEntries = 1000000;

struct DirectoryReview {
    HeaderChecks Checks = {};
    bool Checked = false;      // the check values were present and every one held
    bool TooMany = false;      // the header declares more entries than the bound
    int32_t WalkError = 0;     // the error that ended the walk before the last entry, or 0
    uint64_t Problems = 0;     // damage found, each told on standard error
    std::vector<bool> Damaged; // by entry index: the entry's check or name was found wrong
    bool IsDamaged(uint32_t index) const { return index < Damaged.size() && Damaged[index]; }
    // Every entry the walk reached, each as it lies in the directory, kept while they take
    // no more than kKeptEntryBytes, so that the command's own walk (WalkReviewed) need not
    // decode the directory a second time.
    std::string Entries;
    bool Kept = false;
};

// Room for the entries a review keeps: a directory that decodes to more is walked again.
const size_t kKeptEntryBytes = 16u << 20;

// Reads the whole directory of the open archive once, before the command's own work, and
// tells on standard error (after `qar command:`), naming the entries concerned, every
// problem it finds: a header or entry whose check value does not hold, a name that extract
// refuses, two entries that name the same file as Windows compares names (letter case folded
// in the names' code page), an entry that lies inside a file. The names' code page is codePage, or when 0 the one the
// archive records, else 1252; it is set for the run (SetNameCodePage). The walk's own error
// is left in WalkError for the command to report. Needs the InputBuffer (AllocateInput).
// True when nothing was found and the walk reached every entry.
bool ReviewDirectory(const char* command, const char* path, const ArchiveFileInfo& info,
                     int codePage, uint64_t maxEntries, DirectoryReview* review);

// WalkDirectory over the entries of the review when it kept them all (the same entries and
// the same ending error), else over the directory once more.
int32_t WalkReviewed(const DirectoryReview& review,
                     const std::function<bool(const DirectoryEntry&, const std::string&)>& visit);
