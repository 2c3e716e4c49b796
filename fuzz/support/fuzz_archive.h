// Helpers shared by the fuzz targets: the archive file is an in-memory file (memfd) holding
// the bytes under test, read through the ordinary file-system layer.
#pragma once

#include <stddef.h>
#include <stdint.h>

// Makes State.ArchiveFile a file holding data, positioned at 0 with FilePosition 0, and
// State.InputBuffer a padded InputBuffer; resets the other input fields.
void FuzzArchive(const uint8_t* data, size_t size);

// A fuzz target's check: aborts (a finding) when the condition does not hold.
void FuzzCheck(bool condition, const char* what);
