// Test-side reading of archives whose blocks are all stored: a parser written from the
// layout alone, so that the writer's tests do not lean on the writer's own code.
#pragma once

#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

#include "archive/records.h"

namespace archive_walk {

inline uint32_t BitwiseCrc(const std::vector<uint8_t>& d) {
    uint32_t c = 0xFFFFFFFFu;
    for (uint8_t b : d) {
        c ^= b;
        for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1)));
    }
    return ~c;
}

// Undoes a call filter by the extractor's rule (w = 2 or 4).
inline std::vector<uint8_t> Unfilter(std::vector<uint8_t> d, int w) {
    const uint32_t bound = (uint32_t)d.size();
    for (size_t k = 0; k + w < d.size(); ++k) {
        if (d[k] != 0xE8) continue;
        const uint32_t pos = (uint32_t)(k + 1);
        if (w == 2) {
            WriteLe16(&d[k + 1], (uint16_t)(ReadLe16(&d[k + 1]) - pos));
        } else {
            const int32_t v = (int32_t)ReadLe32(&d[k + 1]);
            uint32_t u;
            if (v < 0 && (int64_t)v >= -(int64_t)pos) u = bound - 1 - pos - (uint32_t)v;
            else if ((uint32_t)v < bound) u = (uint32_t)v - pos;
            else u = (uint32_t)v;
            WriteLe32(&d[k + 1], u);
        }
        k += w;
    }
    return d;
}

struct Entry {
    DirectoryEntry Fixed;
    std::string Name;
    size_t Block;   // index of the directory block that holds it
};

struct DirectoryBlockInfo {
    uint32_t Offset, DecodedSize, Bytes;   // Bytes: from the first header byte to the end
};

struct Parsed {
    ArchiveHeader Header;
    std::vector<Entry> Entries;
    std::vector<DirectoryBlockInfo> Blocks;
    std::string Error;   // empty when the archive parsed
};

// Decodes the stream at offset (marker included) whose blocks are all stored.
inline bool StoredStream(const std::vector<uint8_t>& a, uint32_t offset, std::vector<uint8_t>* out,
                         std::string* error) {
    out->clear();
    if (offset + 6 > a.size() || memcmp(&a[offset], kStreamMarker, 6) != 0) {
        *error = "no stream marker at " + std::to_string(offset);
        return false;
    }
    size_t p = offset + 6;
    for (;;) {
        if (p + 6 > a.size()) { *error = "stream runs past the archive"; return false; }
        BlockHeader h;
        ReadBlockHeader(&a[p], &h);
        if (h.BlockType != 0) { *error = "not a stored block"; return false; }
        if (p + 6 + h.DecodedSize > a.size() || h.BlockSize < 6 + h.DecodedSize) {
            *error = "bad stored block";
            return false;
        }
        out->insert(out->end(), &a[p + 6], &a[p + 6] + h.DecodedSize);
        if (!h.LastBlock && h.BlockSize < 8) { *error = "inner block shorter than 8 bytes"; return false; }
        p += h.BlockSize;
        if (h.LastBlock) return true;
    }
}

inline Parsed ParseStored(const std::vector<uint8_t>& a) {
    Parsed r;
    if (a.size() < kArchiveHeaderSize) { r.Error = "short"; return r; }
    ReadArchiveHeader(a.data(), &r.Header);
    size_t p = r.Header.DirectoryOffset;
    while (r.Entries.size() < r.Header.EntryCount) {
        if (p + 13 > a.size() || memcmp(&a[p], kDirectorySignature, 6) != 0) {
            r.Error = "no directory signature at " + std::to_string(p);
            return r;
        }
        BlockHeader h;
        ReadBlockHeader(&a[p + 6], &h);
        if (h.BlockType != 0) { r.Error = "directory block not stored"; return r; }
        const size_t start = p + 6 + 7;
        if (start + h.DecodedSize > a.size()) { r.Error = "directory block past the end"; return r; }
        r.Blocks.push_back({(uint32_t)p, h.DecodedSize, 7 + h.DecodedSize});
        size_t q = 0;
        while (q < h.DecodedSize) {
            if (h.DecodedSize - q < kEntryFixedSize) { r.Error = "partial entry"; return r; }
            Entry e;
            ReadDirectoryEntry(&a[start + q], &e.Fixed);
            q += kEntryFixedSize;
            const size_t more = e.Fixed.NameLength + e.Fixed.ExtraLengthByte + e.Fixed.ExtraLengthWord;
            if (h.DecodedSize - q < more) { r.Error = "entry runs past its block"; return r; }
            e.Name.assign((const char*)&a[start + q], e.Fixed.NameLength);
            e.Block = r.Blocks.size() - 1;
            q += more;
            r.Entries.push_back(e);
        }
        p = start + h.DecodedSize;
    }
    if (p != a.size()) r.Error = "bytes behind the directory";
    return r;
}

// The member of a file entry, with its LocalHeader checked against the entry and the call
// filter undone. Empty error when everything agrees. shared: other entries name the same
// member, whose LocalHeader holds the name of one of them.
inline std::vector<uint8_t> Member(const std::vector<uint8_t>& a, const Entry& e, std::string* error,
                                   bool shared = false) {
    std::vector<uint8_t> stream;
    if (!StoredStream(a, e.Fixed.StreamOffset, &stream, error)) return {};
    const size_t m = e.Fixed.MemberOffset;
    if (m + kLocalHeaderSize > stream.size()) { *error = "member offset past the stream"; return {}; }
    LocalHeader lh;
    ReadLocalHeader(&stream[m], &lh);
    if (lh.MemberSize != e.Fixed.MemberSize || lh.Flags != e.Fixed.Flags ||
        (!shared && lh.VariableLength != e.Name.size())) {
        *error = "local header disagrees with the entry";
        return {};
    }
    const size_t data = m + kLocalHeaderSize + lh.VariableLength;
    if (data + lh.MemberSize + 4 > stream.size()) { *error = "member past the stream"; return {}; }
    if (!shared && std::string((const char*)&stream[m + kLocalHeaderSize], lh.VariableLength) != e.Name) {
        *error = "local name differs";
        return {};
    }
    std::vector<uint8_t> bytes(stream.begin() + data, stream.begin() + data + lh.MemberSize);
    if (e.Fixed.Flags & FlagCallFilter16) bytes = Unfilter(bytes, 2);
    else if (e.Fixed.Flags & FlagCallFilter32) bytes = Unfilter(bytes, 4);
    const uint32_t crc = BitwiseCrc(bytes);
    if (ReadLe32(&stream[data + lh.MemberSize]) != crc || e.Fixed.MemberCrc != crc) {
        *error = "CRC differs";
        return {};
    }
    return bytes;
}

}  // namespace archive_walk
