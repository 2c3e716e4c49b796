// Finds the files of an archive whose contents are identical, so that the writer stores each
// content once and lets every entry of it name the same member. Candidates are grouped by
// size and CRC-32, then compared byte by byte: a checksum alone never makes two files one.
#pragma once

#include <stddef.h>

#include <vector>

#include "pack/container.h"

// For every entry, the index of the first entry with the same content: its own index for a
// folder, an empty file and a content found once. Throws PackError when a file cannot be read.
std::vector<size_t> FindSharedContents(const std::vector<SourceEntry>& entries);
