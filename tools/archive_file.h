// Opening a file for `qar list | test | extract`: a bare archive, or an installer whose
// stub carries an InstallProfile that names where the archive behind it begins.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#include <functional>
#include <string>
#include <vector>

#include "archive/dircheck.h"
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

// Locates the archive and makes it the core's archive: State.ArchiveFile, State.Header,
// Profile.ArchiveBase. Prints the reason on standard error, after `qar command:`, and returns
// false on failure.
bool OpenArchiveForCore(const char* command, const char* path, ArchiveFileInfo* info);
void CloseArchiveForCore();

// Walks the directory of the open archive the way the extraction loop does, calling visit
// with each entry and its name (false from visit stops the walk). Returns 0, or the error
// code that ended the walk (ErrDamaged for an entry that runs past its block).
int32_t WalkDirectory(const std::function<bool(const DirectoryEntry&, const std::string&)>& visit);

// An archive or installer opened for the core, with the input buffer that walking its
// directory and decoding its members need. Whatever path a command leaves by, the
// destructor gives both back.
class ArchiveSession {
public:
    ArchiveSession() = default;
    ArchiveSession(const ArchiveSession&) = delete;
    ArchiveSession& operator=(const ArchiveSession&) = delete;
    ~ArchiveSession() { Close(); }

    // OpenArchiveForCore, then AllocateInput. False, with the reason told after
    // `qar command:`, when either fails.
    bool Open(const char* command, const char* path, ArchiveFileInfo* info);
    // Gives the input buffer back early: ExtractAll allocates its own.
    void ReleaseInputBuffer();
    void Close();

private:
    bool open_ = false, input_ = false;
};

// Parses a count with an optional K, M or G suffix (powers of 1024).
bool ParseSize(const char* text, uint64_t* value);

// The bound of `qar test | extract` on a run (--max-output SIZE): once the member bytes
// written, or the decoding work (the sizes of the blocks decoded, a restarted stream
// counting again), pass it, the run stops. Without the option: 200 times the size of the
// file, at least 1 GiB; real archives stay far below that, while a small hostile one could
// otherwise make terabytes of output or endless decoding.
uint64_t DefaultMaxOutput(uint64_t fileSize);
// Sets the bound for the run that follows.
void StartMaxOutput(uint64_t limit);
// True when the run stopped at the bound; the message then went to standard error, after
// `qar command:`.
bool ReportMaxOutput(const char* command);

// The room every file entry of the open archive takes: its declared size rounded up to a
// whole number of blockSize blocks, summed (no more than UINT64_MAX); *unrounded, when
// given, gets the sum of the sizes themselves. Entries past a damaged part of the directory
// are not counted (the run itself reports the damage).
uint64_t DeclaredFileBytes(uint64_t blockSize, uint64_t* unrounded = nullptr);
// Bytes that an unprivileged writer may still use on the file system of path, or of the
// nearest folder above it that exists, and the size of the blocks it hands them out in.
// False when it cannot be told.
bool AvailableSpace(const std::string& path, uint64_t* bytes, uint64_t* blockSize);

// Sets State.ProgramName, the default name in messages, to the base name of path.
void SetProgramName(const char* path);

// An entry name as it may be shown on a terminal: control characters (and DEL) as \xNN, so
// that a hostile name can neither send escape sequences nor hide behind a NUL or a return.
std::string PrintableName(const std::string& name);

// The code page that entry names of the open archive are read in (`--codepage N` of list,
// test and extract; 1252 unless set). Setting it also makes the file-system layer create
// names beneath the destination in UTF-8. False for a code page that is not supported.
bool SetNameCodePage(int codePage);
int NameCodePage();
// An entry name (code page bytes, backslashes) as a Linux user reads it: UTF-8, '/' between
// components. ShownName also escapes control characters as PrintableName does.
std::string NameInUtf8(const std::string& name);
std::string ShownName(const std::string& name);
// Why the extraction loop would refuse an entry's name, or "" when it would place it: a NUL
// byte, a name that is empty, longer than a Windows path holds, or that leaves the
// destination or aliases another file (IsContainedName, which holds control characters among
// those). list, test and extract all judge names by this.
std::string EntryNameProblem(const std::string& name);

// The most entries list, test and extract read unless --max-entries says otherwise. Real
// installers hold up to some tens of thousands of files; the review of the names keeps about
// 50 bytes per entry, so a hostile count costs at most some 50 MB and a second or so.
const uint64_t kDefaultMaxEntries = 1000000;

struct DirectoryReview {
    HeaderChecks Checks = {};
    bool Checked = false;      // the check values were present and every one held
    bool TooMany = false;      // the header declares more entries than the bound
    int32_t WalkError = 0;     // the error that ended the walk before the last entry, or 0
    uint64_t Problems = 0;     // damage found, each told on standard error
    std::vector<bool> Damaged; // by entry index: the entry's check or name was found wrong
    bool IsDamaged(uint32_t index) const { return index < Damaged.size() && Damaged[index]; }
};

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
