// The archive writer: lays out a QAR archive (header, solid streams of member records, the
// directory in blocks) from a list of folders and files, using the compressor of
// pack/encoder.h for every stream and directory block. `qar pack` and `qar sfx` both build
// their archives through here.
#pragma once

#include <stdint.h>
#include <stdio.h>

#include <atomic>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "pack/encoder.h"

// One folder or file of the archive, with everything its directory entry needs.
struct SourceEntry {
    std::string Name;            // archive name: backslash-separated, in the target code page
    std::string Path;            // file the data is read from (files without HasData)
    bool IsFolder = false;
    bool HasData = false;        // Data holds the member's bytes; Path is not read
    std::vector<uint8_t> Data;
    uint64_t Size = 0;           // size seen when the tree was walked (informative)
    uint16_t Attributes = 0x20;  // Windows attribute bits
    uint16_t CreateDate = 0, CreateTime = 0;   // DOS date/time, local; date 0: none
    uint16_t WriteDate = 0, WriteTime = 0;
};

// Which call filter the members get.
enum class FilterChoice {
    Auto,    // the 32-bit filter for x86 and x86-64 Windows images and x86 / x86-64 ELF files
             // (by their headers: their relative calls have the same form), none for the rest
    None,
    X86_32,  // every file
    X86_16,  // every file
};

struct PackProgress {
    uint64_t FilesDone, FilesTotal;   // file entries whose data have been compressed
    uint64_t BytesIn, BytesInTotal;   // member bytes compressed so far / in all
    uint64_t BytesOut;                // archive bytes written so far
};

// Kept up to date while the writer runs, for a progress display on another thread.
struct PackMeter {
    std::atomic<uint64_t> Total{0};   // decoded bytes of all streams, set before the first
    std::atomic<uint64_t> Done{0};    // of those, compressed so far (block by block)
    // Contents stored once for several file entries, and those entries; set before the first
    // stream as well.
    std::atomic<uint64_t> SharedContents{0}, SharedFiles{0};
};

// The 16-bit word the archiver leaves at header offset 40: the layout version of the
// archives this writer produces.
const uint16_t kArchiverWord = 0x0001;

struct PackOptions {
    EncodeOptions Encode;
    // A new stream starts before a member once the current stream holds at least this many
    // member bytes. 0: everything in one solid stream (shared contents aside).
    uint64_t StreamSize = 16u << 20;
    FilterChoice Filter = FilterChoice::Auto;
    // Streams compressed at the same time on worker threads (each holds one stream in
    // memory). 0: one per processor, at most 8; 1: no worker threads.
    int Threads = 0;
    uint16_t ArchiverWord = kArchiverWord;
    // The code page the entry names are in, recorded in the header beside the directory's
    // check values (archive/dircheck.h) for readers to use by default.
    uint16_t NameCodePage = 1252;
    std::function<void(const PackProgress&)> Progress;   // called after each stream, may be empty
    PackMeter* Meter = nullptr;   // may be null
};

// Every refusal of the writer: the message names the path (or entry) and the reason.
struct PackError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The largest member: its record (LocalHeader, a name of up to 259 bytes, the data and
// DataCrc) must fit the 32-bit offsets of a decoded stream.
const uint64_t kMaxMemberSize = 0xFFFFFFFFu - 11 - 259 - 4;

// Archive offsets are read into signed 32-bit file positions by the extractor, behind an
// executable stub; archives are kept below this size.
const uint64_t kMaxArchiveSize = 0x7FFFFFFFu - (16u << 20);

// Where the archive bytes go. Write appends; PatchHeader overwrites the first 42 bytes of the
// archive once the directory is known (the writer first writes them as zeros).
struct ArchiveSink {
    std::function<void(const uint8_t* data, size_t size)> Write;
    std::function<void(const uint8_t header[42])> PatchHeader;
};

// Builds the archive of entries into sink, in their order (stream order = directory order),
// except that files of identical content are stored once and come last, all entries of a
// content side by side naming the same member. Returns the archive size. Throws PackError.
uint64_t WriteArchive(const std::vector<SourceEntry>& entries, const PackOptions& options,
                      const ArchiveSink& sink);

// The same, into memory.
std::vector<uint8_t> BuildArchive(const std::vector<SourceEntry>& entries,
                                  const PackOptions& options);

// The same, into an open, seekable file from its current position (for instance behind a
// stub). Throws PackError on write errors as well.
uint64_t WriteArchiveFile(const std::vector<SourceEntry>& entries, const PackOptions& options,
                          FILE* out);
