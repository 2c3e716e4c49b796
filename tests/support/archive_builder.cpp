#include "tests/support/archive_builder.h"

#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <stdexcept>

#include "platform/fs.h"
#include "profile/profile.h"
#include "profile/state.h"

namespace qartest {

uint32_t ReferenceCrc32(const uint8_t* data, size_t size) {
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
    }
    return ~crc;
}

namespace {

// Scans like the extractor: an 0xE8 whose whole operand lies inside the member is a call,
// and its operand bytes are not looked at again.
template <typename Forward>
Bytes ApplyFilter(const Bytes& plain, size_t width, Forward forward) {
    Bytes out = plain;
    size_t size = plain.size();
    for (size_t k = 0; k + width < size; ++k) {
        if (plain[k] != 0xE8) continue;
        uint32_t pos = (uint32_t)(k + 1);
        uint32_t u = 0;
        for (size_t i = 0; i < width; ++i) u |= (uint32_t)plain[k + 1 + i] << (8 * i);
        uint32_t v = forward(u, pos, (uint32_t)size);
        for (size_t i = 0; i < width; ++i) out[k + 1 + i] = (uint8_t)(v >> (8 * i));
        k += width;
    }
    return out;
}

void PutLe16(Bytes& b, uint16_t v) {
    b.push_back((uint8_t)v);
    b.push_back((uint8_t)(v >> 8));
}
void PutLe32(Bytes& b, uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back((uint8_t)(v >> (8 * i)));
}

// Least-significant-bit-first bit writer.
struct BitWriter {
    Bytes Out;
    uint64_t Acc = 0;
    int Count = 0;
    void Put(uint32_t value, int bits) {
        Acc |= (uint64_t)(value & ((1ull << bits) - 1)) << Count;
        Count += bits;
        while (Count >= 8) {
            Out.push_back((uint8_t)Acc);
            Acc >>= 8;
            Count -= 8;
        }
    }
    void Align() {
        if (Count > 0) Put(0, 8 - Count);
    }
};

// Canonical codes (bit-reversed for LSB-first output) from code lengths.
std::vector<uint32_t> CanonicalCodes(const std::vector<uint8_t>& lengths) {
    uint32_t count[17] = {0}, next[17] = {0};
    for (uint8_t l : lengths) count[l]++;
    count[0] = 0;
    uint32_t code = 0;
    for (int bits = 1; bits <= 16; ++bits) {
        code = (code + count[bits - 1]) << 1;
        next[bits] = code;
    }
    std::vector<uint32_t> codes(lengths.size());
    for (size_t s = 0; s < lengths.size(); ++s) {
        int l = lengths[s];
        if (l == 0) continue;
        uint32_t c = next[l]++, r = 0;
        for (int i = 0; i < l; ++i) r |= ((c >> i) & 1) << (l - 1 - i);
        codes[s] = r;
    }
    return codes;
}

struct DefaultCode {
    std::vector<uint8_t> LitLen, Dist0, Dist1;
    std::vector<uint32_t> LitCodes, Dist0Codes, Dist1Codes;
    explicit DefaultCode(uint32_t endOffset) : LitLen(288), Dist0(42), Dist1(14) {
        for (int s = 0; s < 288; ++s) {
            LitLen[s] = s <= 243 ? 8 : s <= 255 ? 9 : s == 256 ? 0 : s <= 260 ? 9 : s <= 265 ? 10 : 11;
        }
        for (int s = 0; s < 42; ++s) {
            Dist0[s] = endOffset > 8192 ? (s <= 21 ? 5 : 6) : (s <= 3 ? 4 : s <= 27 ? 5 : 0);
        }
        for (int s = 0; s < 14; ++s) Dist1[s] = s <= 1 ? 3 : 4;
        LitCodes = CanonicalCodes(LitLen);
        Dist0Codes = CanonicalCodes(Dist0);
        Dist1Codes = CanonicalCodes(Dist1);
    }
};

}  // namespace

Bytes ApplyCallFilter16(const Bytes& plain) {
    return ApplyFilter(plain, 2, [](uint32_t u, uint32_t pos, uint32_t) { return (u + pos) & 0xFFFF; });
}

Bytes ApplyCallFilter32(const Bytes& plain) {
    return ApplyFilter(plain, 4, [](uint32_t u, uint32_t pos, uint32_t bound) {
        int64_t su = (int32_t)u;
        if (su >= -(int64_t)pos && su < (int64_t)bound - pos) return (uint32_t)(su + pos);
        if (su >= (int64_t)bound - pos && su < (int64_t)bound) return (uint32_t)(bound - 1 - pos - u);
        return u;
    });
}

void PutBlockHeader(uint8_t* block, uint32_t type, bool last, uint32_t decodedSize,
                    uint32_t blockSize) {
    uint64_t bits = (uint64_t)(type & 15) | ((uint64_t)(last ? 1 : 0) << 4) |
                    ((uint64_t)(decodedSize & 0xFFFFF) << 5) | ((uint64_t)(blockSize & 0xFFFFF) << 25);
    uint64_t mask = (1ull << 45) - 1;
    for (int i = 0; i < 6; ++i) {
        uint8_t m = (uint8_t)(mask >> (8 * i));
        block[i] = (uint8_t)((block[i] & ~m) | ((bits >> (8 * i)) & m));
    }
}

Bytes StoredBlock(const uint8_t* data, size_t size, bool last) {
    Bytes b(6, 0);
    b.insert(b.end(), data, data + size);
    if (b.size() < 8) b.resize(8, 0);
    PutBlockHeader(b.data(), 0, last, (uint32_t)size, (uint32_t)b.size());
    return b;
}

Bytes CompressedBlock(const std::vector<LzOp>& ops, uint32_t decodedSize, bool last,
                      uint32_t windowClass, uint32_t sizeIndex, uint32_t endOffset) {
    DefaultCode code(endOffset);
    BitWriter w;
    w.Put(0, 32);
    w.Put(0, 13);                // the 45 header bits, filled in below
    w.Put(windowClass, 2);
    w.Put(sizeIndex, 3);
    w.Put(2, 2);                 // two distance alphabets
    w.Put(0, 6);                 // no table sets: the default one
    for (const LzOp& op : ops) {
        if (op.Length == 0) {
            w.Put(code.LitCodes[op.Literal], code.LitLen[op.Literal]);
            continue;
        }
        if (op.Length < 2 || op.Length > 10) throw std::invalid_argument("match");
        uint32_t sym = 255 + op.Length;
        w.Put(code.LitCodes[sym], code.LitLen[sym]);
        // Explicit distances only: symbols 2..5 for 1..4, then base + extra bits.
        uint32_t d = op.Distance, dsym, extraBits = 0, extra = 0;
        if (d == 0) {
            dsym = 0;   // the remembered distance, which is 0 before any explicit one
        } else if (d <= 4) {
            dsym = d + 1;
        } else {
            dsym = 6;
            for (uint32_t j = 0; j < 18; ++j) {
                uint32_t b0 = (1u << (j + 2)) + 1, b1 = 3u * (1u << (j + 1)) + 1;
                if (d >= b0 && d < b1) { dsym = 6 + 2 * j; extraBits = j + 1; extra = d - b0; break; }
                if (d >= b1 && d < b1 + (1u << (j + 1))) { dsym = 7 + 2 * j; extraBits = j + 1; extra = d - b1; break; }
            }
        }
        if (op.Length == 2) {
            if (dsym >= 14) throw std::invalid_argument("length-2 distance");
            w.Put(code.Dist1Codes[dsym], code.Dist1[dsym]);
        } else {
            if (code.Dist0[dsym] == 0) throw std::invalid_argument("distance");
            w.Put(code.Dist0Codes[dsym], code.Dist0[dsym]);
        }
        if (extraBits) w.Put(extra, (int)extraBits);
    }
    w.Align();
    Bytes b = w.Out;
    if (b.size() < 8) b.resize(8, 0);
    PutBlockHeader(b.data(), 1, last, decodedSize, (uint32_t)b.size());
    return b;
}

Bytes LiteralBlock(const Bytes& data, bool last, uint32_t windowClass, uint32_t sizeIndex,
                   uint32_t endOffset) {
    std::vector<LzOp> ops;
    for (uint8_t b : data) ops.push_back(Literal(b));
    return CompressedBlock(ops, (uint32_t)data.size(), last, windowClass, sizeIndex, endOffset);
}

Bytes MemberRecord(const Bytes& stored, const std::string& name, uint8_t flags, uint32_t crc) {
    Bytes b;
    PutLe32(b, (uint32_t)stored.size());
    PutLe16(b, (uint16_t)name.size());
    PutLe16(b, 0x205A);
    PutLe16(b, 0);
    b.push_back(flags);
    b.insert(b.end(), name.begin(), name.end());
    b.insert(b.end(), stored.begin(), stored.end());
    PutLe32(b, crc);
    return b;
}

Bytes EntryRecord(const DirectoryEntry& e, const std::string& name, const Bytes& extra) {
    Bytes b;
    PutLe32(b, e.Reserved0);
    PutLe32(b, e.StreamOffset);
    PutLe16(b, e.Attributes);
    b.push_back(e.ExtraLengthByte);
    b.push_back(e.Flags);
    PutLe32(b, e.MemberOffset);
    PutLe32(b, e.MemberSize);
    PutLe32(b, e.MemberCrc);
    PutLe16(b, e.ExtraLengthWord);
    PutLe16(b, e.NameLength);
    PutLe16(b, e.CreateTime);
    PutLe16(b, e.CreateDate);
    PutLe16(b, e.WriteTime);
    PutLe16(b, e.WriteDate);
    PutLe16(b, e.Reserved36);
    b.insert(b.end(), name.begin(), name.end());
    b.insert(b.end(), extra.begin(), extra.end());
    return b;
}

Bytes StoredDirectoryBlock(const Bytes& entries, bool last) {
    // Sized once and filled in place: GCC 12 at -O2 takes an insert behind the 13 bytes of a
    // braced list for a write outside them (-Warray-bounds) and stops Release builds.
    const char kMarker[] = "QARDE";
    Bytes b(13 + entries.size(), 0);
    std::copy(kMarker, kMarker + 5, b.begin());
    std::copy(entries.begin(), entries.end(), b.begin() + 13);
    PutBlockHeader(b.data() + 6, 0, last, (uint32_t)entries.size(), (uint32_t)(b.size() - 6));
    return b;
}

size_t ArchiveBuilder::AddFile(const std::string& name, const Bytes& plain, uint8_t flags, int stream) {
    Entry e;
    e.Name = name;
    e.Plain = plain;
    e.Stream = stream;
    e.Fields.Reserved0 = 0x205A;
    e.Fields.Attributes = 0x20;
    e.Fields.Flags = flags;
    e.Fields.NameLength = (uint16_t)name.size();
    e.Fields.WriteDate = (uint16_t)((20 << 9) | (3 << 5) | 14);     // 2000-03-14
    e.Fields.WriteTime = (uint16_t)((15 << 11) | (9 << 5) | 13);    // 15:09:26
    e.Fields.CreateDate = (uint16_t)((19 << 9) | (12 << 5) | 31);   // 1999-12-31
    e.Fields.CreateTime = (uint16_t)((23 << 11) | (59 << 5) | 29);  // 23:59:58
    Entries.push_back(e);
    return Entries.size() - 1;
}

size_t ArchiveBuilder::AddFolder(const std::string& name) {
    Entry e;
    e.Name = name;
    e.Stream = -1;
    e.Fields.Attributes = 0x10;
    e.Fields.Flags = FlagFolder;
    e.Fields.NameLength = (uint16_t)name.size();
    Entries.push_back(e);
    return Entries.size() - 1;
}

void ArchiveBuilder::Layout() {
    int streams = 0;
    for (const Entry& e : Entries) streams = std::max(streams, e.Stream + 1);
    Streams.assign((size_t)streams, Stream());
    for (Entry& e : Entries) {
        if (e.Stream < 0) continue;
        uint8_t f = e.Fields.Flags;
        Bytes stored = (f & FlagCallFilter16)   ? ApplyCallFilter16(e.Plain)
                       : (f & FlagCallFilter32) ? ApplyCallFilter32(e.Plain)
                                                : e.Plain;
        Bytes& decoded = Streams[(size_t)e.Stream].Decoded;
        e.Fields.MemberOffset = (uint32_t)decoded.size();
        e.Fields.MemberSize = (uint32_t)e.Plain.size();
        e.Fields.MemberCrc = ReferenceCrc32(e.Plain);
        Bytes record = MemberRecord(stored, e.Name, f, e.Fields.MemberCrc);
        decoded.insert(decoded.end(), record.begin(), record.end());
    }
    for (Stream& s : Streams) {
        size_t size = s.Decoded.size();
        for (size_t at = 0; at < size || (size == 0 && s.Blocks.empty()); at += BlockSize) {
            size_t n = std::min<size_t>(BlockSize, size - at);
            s.Blocks.push_back(StoredBlock(s.Decoded.data() + at, n, at + n >= size));
        }
    }
    PlaceStreams();
}

void ArchiveBuilder::PlaceStreams() {
    uint32_t offset = kArchiveHeaderSize;
    StreamOffsets.clear();
    for (const Stream& s : Streams) {
        StreamOffsets.push_back(offset);
        offset += kStreamMarkerSize;
        for (const Bytes& b : s.Blocks) offset += (uint32_t)b.size();
    }
    for (Entry& e : Entries) {
        if (e.Stream >= 0) e.Fields.StreamOffset = StreamOffsets[(size_t)e.Stream];
    }
}

Bytes ArchiveBuilder::Write() const {
    Bytes out(kArchiveHeaderSize, 0);
    memcpy(out.data(), "QAR\n", 4);
    for (const Stream& s : Streams) {
        out.insert(out.end(), {'Q', 'A', 'R', 'L', 'H', 0});
        for (const Bytes& b : s.Blocks) out.insert(out.end(), b.begin(), b.end());
    }
    uint32_t directory = (uint32_t)out.size();
    Bytes pending;
    size_t inBlock = 0;
    auto flush = [&](bool last) {
        Bytes block = StoredDirectoryBlock(pending, last);
        out.insert(out.end(), block.begin(), block.end());
        pending.clear();
        inBlock = 0;
    };
    for (const Entry& e : Entries) {
        Bytes record = EntryRecord(e.Fields, e.Name, e.Extra);
        bool full = EntriesPerDirectoryBlock != 0 ? inBlock == EntriesPerDirectoryBlock
                                                  : pending.size() + record.size() > 8177;
        if (inBlock > 0 && full) flush(false);
        pending.insert(pending.end(), record.begin(), record.end());
        ++inBlock;
    }
    flush(true);
    uint8_t* h = out.data();
    WriteLe32(h + 4, directory);
    WriteLe32(h + 8, HeaderEntryCountSet ? HeaderEntryCount : (uint32_t)Entries.size());
    WriteLe32(h + 20, (uint32_t)out.size());
    WriteLe32(h + 24, directory - kArchiveHeaderSize);
    return out;
}

Bytes RandomBytes(size_t size, uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes b(size);
    for (auto& x : b) x = (uint8_t)rng();
    return b;
}

Bytes CodeLikeBytes(size_t size, uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes b(size);
    for (size_t i = 0; i < size; ++i) {
        uint32_t r = rng();
        if (r % 7 == 0 && i + 5 <= size) {
            b[i] = 0xE8;
            int32_t target = (int32_t)(rng() % (2 * size + 64)) - (int32_t)(size / 2) - (int32_t)i;
            for (int k = 0; k < 4; ++k) b[i + 1 + k] = (uint8_t)((uint32_t)target >> (8 * k));
            i += 4;
        } else {
            b[i] = (uint8_t)(r >> 8);
        }
    }
    return b;
}

void WriteWholeFile(const std::string& path, const Bytes& bytes) {
    FILE* f = fopen(path.c_str(), "wb");
    if (f == nullptr) throw std::runtime_error("cannot write " + path);
    if (!bytes.empty()) fwrite(bytes.data(), 1, bytes.size(), f);
    fclose(f);
}

Bytes ReadWholeFile(const std::string& path) {
    FILE* f = fopen(path.c_str(), "rb");
    if (f == nullptr) throw std::runtime_error("cannot read " + path);
    Bytes b;
    uint8_t chunk[65536];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, f)) > 0) b.insert(b.end(), chunk, chunk + n);
    fclose(f);
    return b;
}

std::string MakeTempFolder(const std::string& tag) {
    static unsigned counter = 0;
    std::random_device rd;
    std::filesystem::path p = std::filesystem::temp_directory_path() /
                              ("qar-" + tag + "-" + std::to_string(rd()) + "-" + std::to_string(++counter));
    std::filesystem::create_directories(p);
    return p.string();
}

void RemoveTree(const std::string& path) {
    std::error_code ec;
    // Read-only files and folders must become writable before they can go.
    for (auto it = std::filesystem::recursive_directory_iterator(path, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ec);
    }
    std::filesystem::remove_all(path, ec);
}

std::string CorePath(std::string path) {
    for (char& c : path) {
        if (c == '/') c = '\\';
    }
    return path;
}

bool LoadArchive(const Bytes& bytes, const std::string& folder) {
    std::string file = folder + "/archive.qar";
    WriteWholeFile(file, bytes);
    State.ArchiveFile = FsOpen(CorePath(file).c_str(), kGenericRead);
    if (State.ArchiveFile == kInvalidHandle) return false;
    if (bytes.size() >= kArchiveHeaderSize) {
        State.Header.DirectoryOffset = ReadLe32(bytes.data() + 4);
        State.Header.EntryCount = ReadLe32(bytes.data() + 8);
    } else {
        State.Header = ArchiveHeader{};
    }
    Profile.ArchiveBase = 0;
    Profile.CancelRequested = 0;
    return true;
}

void UnloadArchive() {
    if (State.ArchiveFile != kInvalidHandle) FsClose(State.ArchiveFile);
    State.ArchiveFile = kInvalidHandle;
}

}  // namespace qartest
