// A test-only archive writer, independent of the packer: stored blocks, and compressed
// blocks coded by hand with the default table set, plus raw control over every field so
// that damaged archives can be made as easily as sound ones.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "archive/records.h"

namespace qartest {

using Bytes = std::vector<uint8_t>;

// The standard CRC-32 (bit by bit, no table), to check the extractor's against.
uint32_t ReferenceCrc32(const uint8_t* data, size_t size);
inline uint32_t ReferenceCrc32(const Bytes& b) { return ReferenceCrc32(b.data(), b.size()); }

// The archiver's side of the call filters: what a member's bytes look like once filtered.
Bytes ApplyCallFilter16(const Bytes& plain);
Bytes ApplyCallFilter32(const Bytes& plain);

// Writes the 45 bits of a block header into the first 6 bytes of block (other bits of
// those bytes are left as they are).
void PutBlockHeader(uint8_t* block, uint32_t type, bool last, uint32_t decodedSize,
                    uint32_t blockSize);

// A stored block of a stream; padded to 8 bytes when shorter, as every block but the
// last must be.
Bytes StoredBlock(const uint8_t* data, size_t size, bool last);
inline Bytes StoredBlock(const Bytes& data, bool last) { return StoredBlock(data.data(), data.size(), last); }

// One step of a compressed block: a literal byte (Length 0) or a match of Length 2..10
// bytes at Distance (0: the block's remembered distance, coded as distance symbol 0).
struct LzOp {
    uint32_t Length;
    uint32_t Distance;
    uint8_t Literal;
};
inline LzOp Literal(uint8_t b) { return {0, 0, b}; }
inline LzOp Match(uint32_t length, uint32_t distance) { return {length, distance, 0}; }

// A compressed block (two distance alphabets, default table set). endOffset is where the
// block ends in the decoder's window (its history plus decodedSize), which selects the
// default distance code; decodedSize is written as given, so it may disagree with ops.
Bytes CompressedBlock(const std::vector<LzOp>& ops, uint32_t decodedSize, bool last,
                      uint32_t windowClass, uint32_t sizeIndex, uint32_t endOffset);
Bytes LiteralBlock(const Bytes& data, bool last, uint32_t windowClass, uint32_t sizeIndex,
                   uint32_t endOffset);

// An 11-byte LocalHeader, the name as variable part, the stored bytes and the CRC.
Bytes MemberRecord(const Bytes& stored, const std::string& name, uint8_t flags, uint32_t crc);

// A directory entry's bytes: the fixed 38 bytes, the name, the extra bytes.
Bytes EntryRecord(const DirectoryEntry& entry, const std::string& name, const Bytes& extra = {});
// A DirectoryBlock holding bytes in a stored block (its bytes begin at byte 7).
Bytes StoredDirectoryBlock(const Bytes& entries, bool last = true);

struct ArchiveBuilder {
    struct Entry {
        DirectoryEntry Fields{};
        std::string Name;
        Bytes Extra;
        Bytes Plain;           // the member's bytes as written to disk
        int Stream = 0;
    };
    struct Stream {
        Bytes Decoded;               // set by Layout
        std::vector<Bytes> Blocks;   // set by Layout; tests may replace them
    };

    uint32_t BlockSize = 65536;                 // decoded bytes per stored block
    size_t EntriesPerDirectoryBlock = 0;        // 0: as many as fit a block
    bool HeaderEntryCountSet = false;
    uint32_t HeaderEntryCount = 0;              // written instead of Entries.size() when set
    std::vector<Entry> Entries;
    std::vector<Stream> Streams;

    // Adds a file (to stream, 0 by default; streams are made as needed) and returns its
    // index in Entries. flags may name a call filter, which is applied to the stored bytes.
    size_t AddFile(const std::string& name, const Bytes& plain, uint8_t flags = 0, int stream = 0);
    size_t AddFolder(const std::string& name);

    // Computes the streams and every entry's offsets, size and CRC. Tests may then change
    // any field or block before Write.
    void Layout();
    // Recomputes the stream offsets (and the entries' StreamOffset) from the current
    // blocks; call it after replacing blocks of a stream that is not the last.
    void PlaceStreams();
    Bytes Write() const;
    Bytes Build() {
        Layout();
        return Write();
    }
    // Offsets of each stream's marker, valid after Layout.
    std::vector<uint32_t> StreamOffsets;
};

Bytes RandomBytes(size_t size, uint32_t seed);
// Bytes that look like x86 code: many 0xE8 followed by plausible operands.
Bytes CodeLikeBytes(size_t size, uint32_t seed);

void WriteWholeFile(const std::string& path, const Bytes& bytes);
Bytes ReadWholeFile(const std::string& path);
// A fresh, empty folder under the system's temporary folder.
std::string MakeTempFolder(const std::string& tag);
void RemoveTree(const std::string& path);
// path with every '/' turned into '\\', the separator the core uses.
std::string CorePath(std::string path);

// Makes bytes the core's archive: written to a file in folder, opened as State.ArchiveFile,
// header read into State.Header, Profile.ArchiveBase 0, CancelRequested clear.
// Returns false when the file cannot be written or opened.
bool LoadArchive(const Bytes& bytes, const std::string& folder);
void UnloadArchive();

}  // namespace qartest
