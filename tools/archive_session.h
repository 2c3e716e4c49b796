// An archive or installer opened for the core by `qar list | test | extract | sfx`: the
// session that owns the open file and the input buffer, the walk of its directory, and the
// bounds of a run (the output limit, the free space at the destination).
#pragma once

#include <stdint.h>

#include <functional>
#include <string>

#include "archive/records.h"
#include "tools/installer_image.h"

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
// The entries are those the review walked (WalkReviewed).
struct DirectoryReview;
uint64_t DeclaredFileBytes(const DirectoryReview& review, uint64_t blockSize, uint64_t* unrounded = nullptr);
// Bytes that an unprivileged writer may still use on the file system of path, or of the
// nearest folder above it that exists, and the size of the blocks it hands them out in.
// False when it cannot be told.
bool AvailableSpace(const std::string& path, uint64_t* bytes, uint64_t* blockSize);

// Sets State.ProgramName, the default name in messages, to the base name of path.
void SetProgramName(const char* path);
