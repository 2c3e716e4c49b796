// Where the archive of a file lies: a bare archive, or an installer whose stub carries an
// InstallProfile that names where the archive behind it begins; the profile found in a stub
// image as the stub itself finds it.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#include <string>

#include "archive/records.h"

// The anchor bytes every profile carries at kProfileAnchorOffset (alphabet sizes, length
// offsets, signature).
void ProfileAnchor(uint8_t anchor[30]);

// The offset of the first occurrence of the anchor in data[from, size), or -1.
long FindAnchor(const uint8_t* data, size_t size, size_t from = 0);

// Where the stub of a PE image finds its InstallProfile, told from the image alone (its
// address is known only to the linker): the anchor's one occurrence gives the profile's
// offset; each section whose file bytes hold that offset gives an address the profile may
// have been linked at, and the stub's own rule (ImageProfileOffset) must lead one of them
// back to the offset. Returns the offset, with that address in rva, or one of these:
enum : long {
    kNoProfile = -1,          // the anchor does not occur
    kProfileTwice = -2,       // it occurs more than once
    kProfileMisplaced = -3,   // no address leads the stub to it
};
long FindStubProfile(const uint8_t* image, uint32_t size, uint32_t* rva);

// Where the archive behind the installer in f (fileSize bytes, named path in messages)
// begins, found as its stub finds it: true with the offset in base; false with the reason
// in error (the installer's own "modified" message for an image its stub would refuse).
bool InstallerArchiveBase(FILE* f, const char* path, uint64_t fileSize, uint32_t* base,
                          std::string* error);

struct ArchiveFileInfo {
    uint32_t Base = 0;           // file offset of the archive
    bool Installer = false;      // the archive lies behind an installer stub
    uint64_t FileSize = 0;
    ArchiveHeader Header = {};
};

// Finds the archive in path: a file that starts with the archive magic is a bare archive;
// any other file is read as an installer is read by its own stub (InstallerArchiveBase: the
// image of StubSize bytes that the profile names, checked by the stub's own function, then
// the archive header at StubSize whatever its magic). Returns true and fills info; otherwise
// false with a message in error (a file of neither kind: "... holds neither a qar archive nor
// a qar installer"; a changed stub: the installer's own "This self-extractor has been
// modified").
bool LocateArchive(const char* path, ArchiveFileInfo* info, std::string* error);

// Reads count bytes of f at offset; false (errno set by the failed call, or 0 at the file's
// end) when it cannot.
bool ReadAt(FILE* f, uint64_t offset, uint8_t* buffer, size_t count);

// Why a read of f (ReadAt, fread) just failed: the system's reason, or the file's end. Call it
// before anything else can change errno.
std::string ReadFailure(FILE* f);
