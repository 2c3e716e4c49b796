// The archive writer. Members are laid out stream by stream: each stream's decoded bytes
// (LocalHeader, name, filtered data, DataCrc of every member) are assembled in memory,
// compressed with EncodeStream and written behind a StreamMarker. Streams are independent,
// so several are compressed at once on worker threads and written in order; an entry's
// StreamOffset is filled in when its stream is written. The directory entries are collected
// on the way and written at the end as directory blocks, each holding whole entries; the
// header is patched last.
#include "pack/container.h"

#include <errno.h>
#include <string.h>

#include <algorithm>
#include <deque>
#include <future>
#include <memory>
#include <thread>

#include "archive/dircheck.h"
#include "archive/records.h"
#include "decode/crc32.h"
#include "pack/call_filter_forward.h"
#include "pack/pe_detect.h"
#include "pack/shared_contents.h"
#include "profile/state.h"

namespace {

// Longest archive name: the extractor builds every path in a 260-byte buffer.
const size_t kMaxNameLength = 259;
// Decoded stream offsets are 32-bit.
const uint64_t kMaxStreamDecoded = 0xFFFFFFFFu;
// Members larger than this are not held in memory: each is read and compressed a piece at a
// time into a stream of its own, the compressor holding a chunk of it and the history in
// front. The memory of a run is then bounded by these sizes and the streams in flight.
const uint64_t kStreamedMemberSize = 32u << 20;
const size_t kStreamedChunk = 16u << 20;
const size_t kReadPiece = 1u << 20;
// The most member bytes a stream of shared contents gathers before the next one starts.
const uint64_t kSharedStreamSize = 1u << 20;

uint64_t SizeOf(const SourceEntry& e) { return e.HasData ? e.Data.size() : e.Size; }

std::string Quote(const std::string& s) { return "'" + s + "'"; }

void EnsureCrcTable() {
    if (State.CrcTable[1] == 0) BuildCrcTable();
}

uint32_t CrcOf(const uint8_t* data, size_t size) {
    uint32_t crc = 0xFFFFFFFFu;
    while (size > 0) {
        const uint32_t n = size > 0x40000000u ? 0x40000000u : (uint32_t)size;
        crc = Crc32(data, n, crc);
        data += n;
        size -= n;
    }
    return ~crc;
}

// Appends the file's bytes to out. The file must still have the size the walk found, so
// that what is packed is what was validated.
void AppendFile(const SourceEntry& entry, std::vector<uint8_t>* out) {
    FILE* f = fopen(entry.Path.c_str(), "rb");
    if (!f) throw PackError(Quote(entry.Path) + ": cannot open: " + strerror(errno));
    const size_t start = out->size();
    out->resize(start + (size_t)entry.Size);
    const size_t n = fread(out->data() + start, 1, (size_t)entry.Size, f);
    const bool longer = n == entry.Size && fgetc(f) != EOF;
    const bool failed = ferror(f) != 0;
    const int error = errno;
    fclose(f);
    if (failed) throw PackError(Quote(entry.Path) + ": cannot read: " + strerror(error));
    if (n != entry.Size || longer)
        throw PackError(Quote(entry.Path) + ": changed size while being packed");
}

// head: the member's first bytes (up to 4096 of them); size: the member's size.
uint8_t ChooseFilter(FilterChoice choice, const uint8_t* head, size_t headSize, uint64_t size) {
    switch (choice) {
    case FilterChoice::None:
        return 0;
    case FilterChoice::X86_16:
        return FlagCallFilter16;
    case FilterChoice::X86_32:
        return size <= kMaxCallFilter32Size ? FlagCallFilter32 : 0;
    case FilterChoice::Auto:
        break;
    }
    if (size > kMaxCallFilter32Size) return 0;
    return IsX86Executable(head, headSize < 4096 ? headSize : 4096) ? FlagCallFilter32 : 0;
}

class Writer {
public:
    Writer(const PackOptions& options, const ArchiveSink& sink) : options_(options), sink_(sink) {}

    uint64_t Run(const std::vector<SourceEntry>& entries) {
        EnsureCrcTable();
        CheckEntries(entries);
        progress_ = PackProgress{0, 0, 0, 0, 0};
        // namers[i]: for the first entry of each file content, every entry of that content.
        const std::vector<size_t> first = FindSharedContents(entries);
        std::vector<std::vector<size_t>> namers(entries.size());
        for (size_t i = 0; i < entries.size(); ++i) {
            if (!entries[i].IsFolder) namers[first[i]].push_back(i);
        }
        uint64_t streamTotal = 0;
        for (size_t i = 0; i < entries.size(); ++i) {
            const SourceEntry& e = entries[i];
            if (e.IsFolder) continue;
            ++progress_.FilesTotal;
            progress_.BytesInTotal += SizeOf(e);
            if (first[i] == i) streamTotal += kLocalHeaderSize + e.Name.size() + SizeOf(e) + 4;
        }
        if (options_.Meter) {
            uint64_t contents = 0, files = 0;
            for (const std::vector<size_t>& n : namers) {
                if (n.size() < 2) continue;
                ++contents;
                files += n.size();
            }
            options_.Meter->SharedContents = contents;
            options_.Meter->SharedFiles = files;
            options_.Meter->Total = streamTotal;
        }

        const uint8_t zeros[kArchiveHeaderSize] = {};
        Emit(zeros, sizeof zeros);
        directory_.reserve(entries.size() * (kEntryFixedSize + 16));
        streamLimit_ = options_.StreamSize;
        for (size_t i = 0; i < entries.size(); ++i) {
            const SourceEntry& e = entries[i];
            if (e.IsFolder) {
                AddEntry(e, 0, 0, 0, 0, 0);
            } else if (namers[first[i]].size() == 1) {
                AddNamer(e, AddMember(e));
            }
        }
        // Contents of several entries come last, each stored once with all its entries
        // behind it in the directory, so that extracting them in directory order only moves
        // forward. They go into small streams of their own: an entry that finds its member
        // begun in an earlier block restarts the member's stream, and that costs little.
        FlushStream();
        streamLimit_ = options_.StreamSize == 0 ? kSharedStreamSize
                                                : std::min(options_.StreamSize, kSharedStreamSize);
        for (size_t i = 0; i < entries.size(); ++i) {
            if (first[i] != i || namers[i].size() < 2) continue;
            const MemberRef member = AddMember(entries[i]);
            for (size_t j : namers[i]) AddNamer(entries[j], member);
        }
        FlushStream();
        while (!pending_.empty()) WriteOldestStream();

        const uint64_t directoryOffset = written_;
        const uint32_t directoryCrc = SealDirectory();
        WriteDirectory();
        if (written_ > kMaxArchiveSize) throw PackError("the archive would be too large");

        ArchiveHeader header = {};
        memcpy(header.Magic, kArchiveMagic, 4);
        header.DirectoryOffset = (uint32_t)directoryOffset;
        header.EntryCount = (uint32_t)entries.size();
        header.ArchiveSize = (uint32_t)written_;
        header.StreamsSize = (uint32_t)(directoryOffset - kArchiveHeaderSize);
        header.ArchiverWord = options_.ArchiverWord;
        uint8_t bytes[kArchiveHeaderSize];
        WriteArchiveHeader(header, bytes);
        SealHeader(bytes, options_.NameCodePage, directoryCrc);
        sink_.PatchHeader(bytes);
        return written_;
    }

private:
    void CheckEntries(const std::vector<SourceEntry>& entries) {
        if (entries.size() > 0xFFFFFFFFu) throw PackError("too many entries for one archive");
        for (const SourceEntry& e : entries) {
            if (e.Name.empty()) throw PackError("an entry has an empty name");
            if (e.Name.size() > kMaxNameLength)
                throw PackError(Quote(e.Name) + ": name longer than 259 characters");
        }
    }

    void Emit(const uint8_t* data, size_t size) {
        written_ += size;
        if (written_ > kMaxArchiveSize) throw PackError("the archive would be too large");
        sink_.Write(data, size);
    }

    struct MemberRef {
        uint32_t Offset, Size, Crc;
        uint8_t Flags;
        uint64_t WrittenAt;   // the stream's offset once it is written, else 0
    };

    // A member too large to hold in memory: read, checksummed, filtered and compressed a
    // piece at a time into a stream of its own, written straight away behind the streams
    // before it.
    MemberRef AddStreamedMember(const SourceEntry& e) {
        FlushStream();
        while (!pending_.empty()) WriteOldestStream();
        const uint64_t size = e.Size;
        std::unique_ptr<FILE, int (*)(FILE*)> file(fopen(e.Path.c_str(), "rb"), fclose);
        if (!file) throw PackError(Quote(e.Path) + ": cannot open: " + strerror(errno));
        auto readFailed = [&e] { return PackError(Quote(e.Path) + ": cannot read: " + strerror(errno)); };
        auto changed = [&e] { return PackError(Quote(e.Path) + ": changed size while being packed"); };

        EncodeOptions encode = options_.Encode;
        if (options_.Meter) encode.BytesDone = &options_.Meter->Done;
        StreamEncoder encoder(encode, kStreamedChunk);
        std::vector<uint8_t> piece(kReadPiece + 8), out;
        size_t held = fread(piece.data(), 1, (size_t)std::min<uint64_t>(size, kReadPiece), file.get());
        if (ferror(file.get())) throw readFailed();
        const uint8_t flags = ChooseFilter(options_.Filter, piece.data(), held, size);
        const int width = (flags & FlagCallFilter16) ? 2 : (flags & FlagCallFilter32) ? 4 : 0;

        const uint64_t streamOffset = written_;
        Emit(kStreamMarker, kStreamMarkerSize);
        std::vector<uint8_t> header(kLocalHeaderSize);
        LocalHeader local = {};
        local.MemberSize = (uint32_t)size;
        local.VariableLength = (uint16_t)e.Name.size();
        local.Flags = flags;
        WriteLocalHeader(local, header.data());
        header.insert(header.end(), e.Name.begin(), e.Name.end());
        encoder.Add(header.data(), header.size(), &out);

        // piece[0, held): member bytes from offset `at`, of which the first `carried` were
        // read before (a call whose operand had not all come yet).
        uint64_t at = 0, read = held;
        uint32_t crc = Crc32(piece.data(), (uint32_t)held, 0xFFFFFFFFu);
        for (;;) {
            const size_t ready = width ? ApplyCallFilterPiece(piece.data(), held, at, size, width, 0) : held;
            const bool end = read == size;
            const size_t final = end ? held : ready;
            encoder.Add(piece.data(), final, &out);
            Emit(out.data(), out.size());
            out.clear();
            if (end) break;
            const size_t carried = held - final;
            memmove(piece.data(), piece.data() + final, carried);
            at += final;
            const size_t want = (size_t)std::min<uint64_t>(size - read, kReadPiece);
            const size_t n = fread(piece.data() + carried, 1, want, file.get());
            if (ferror(file.get())) throw readFailed();
            if (n != want) throw changed();
            crc = Crc32(piece.data() + carried, (uint32_t)n, crc);
            read += n;
            held = carried + n;
        }
        if (fgetc(file.get()) != EOF) throw changed();
        crc = ~crc;
        uint8_t tail[4];
        WriteLe32(tail, crc);
        encoder.Add(tail, 4, &out);
        encoder.Finish(&out);
        Emit(out.data(), out.size());
        return MemberRef{0, (uint32_t)size, crc, flags, streamOffset};
    }

    // Appends the member's record to the stream: its bytes are read straight into place,
    // checksummed, then filtered there.
    MemberRef AddMember(const SourceEntry& e) {
        const uint64_t size = SizeOf(e);
        if (size > kMaxMemberSize)
            throw PackError(Quote(e.HasData ? e.Name : e.Path) + ": larger than " +
                            std::to_string(kMaxMemberSize) + " bytes, the most a member can hold");
        if (!e.HasData && size > kStreamedMemberSize) return AddStreamedMember(e);
        const uint64_t record = kLocalHeaderSize + e.Name.size() + size + 4;
        const bool full = streamLimit_ != 0 && streamInput_ >= streamLimit_;
        if (!stream_.empty() && (full || stream_.size() + record > kMaxStreamDecoded)) FlushStream();

        const size_t memberOffset = stream_.size();
        stream_.resize(memberOffset + kLocalHeaderSize);
        stream_.insert(stream_.end(), e.Name.begin(), e.Name.end());
        const size_t dataOffset = stream_.size();
        if (e.HasData) {
            stream_.insert(stream_.end(), e.Data.begin(), e.Data.end());
        } else {
            AppendFile(e, &stream_);
        }
        uint8_t* data = stream_.data() + dataOffset;
        const uint32_t crc = CrcOf(data, (size_t)size);
        const uint8_t flags = ChooseFilter(options_.Filter, data, (size_t)size, size);
        if (flags & FlagCallFilter16) {
            ApplyCallFilter16(data, (size_t)size);
        } else if (flags & FlagCallFilter32) {
            ApplyCallFilter32(data, (size_t)size);
        }
        LocalHeader local = {};
        local.MemberSize = (uint32_t)size;
        local.VariableLength = (uint16_t)e.Name.size();
        local.Flags = flags;
        WriteLocalHeader(local, stream_.data() + memberOffset);
        uint8_t tail[4];
        WriteLe32(tail, crc);
        stream_.insert(stream_.end(), tail, tail + 4);
        streamInput_ += size;
        return MemberRef{(uint32_t)memberOffset, (uint32_t)size, crc, flags, 0};
    }

    // The directory entry of a file whose member lies in the stream being assembled; its
    // StreamOffset is known once the streams before this one are written.
    void AddNamer(const SourceEntry& e, const MemberRef& member) {
        if (member.WrittenAt != 0) {
            AddEntry(e, (uint32_t)member.WrittenAt, member.Offset, member.Size, member.Crc, member.Flags);
            ++progress_.FilesDone;
            progress_.BytesIn += member.Size;
            progress_.BytesOut = written_;
            if (options_.Progress) options_.Progress(progress_);
            return;
        }
        ++streamFiles_;
        streamEntryBytes_ += member.Size;
        streamEntries_.push_back(directory_.size());
        AddEntry(e, 0, member.Offset, member.Size, member.Crc, member.Flags);
    }

    // Hands the assembled stream to a worker; waits for the oldest ones while more than
    // the allowed number are in flight.
    void FlushStream() {
        if (stream_.empty()) return;
        auto data = std::make_shared<std::vector<uint8_t>>(std::move(stream_));
        stream_ = std::vector<uint8_t>();
        EncodeOptions encode = options_.Encode;
        if (options_.Meter) encode.BytesDone = &options_.Meter->Done;
        const unsigned threads = Threads();
        PendingStream p;
        p.Encoded = std::async(threads > 1 ? std::launch::async : std::launch::deferred,
                               [data, encode] { return EncodeStream(data->data(), data->size(), encode); });
        p.EntryPositions = std::move(streamEntries_);
        streamEntries_.clear();
        p.Files = streamFiles_;
        p.Input = streamEntryBytes_;
        pending_.push_back(std::move(p));
        streamInput_ = 0;
        streamEntryBytes_ = 0;
        streamFiles_ = 0;
        // With workers, as many streams compress as there are threads while this thread
        // assembles the next one; without, each stream is compressed right here.
        const size_t limit = threads > 1 ? threads : 0;
        while (pending_.size() > limit) WriteOldestStream();
    }

    void WriteOldestStream() {
        PendingStream p = std::move(pending_.front());
        pending_.pop_front();
        const std::vector<uint8_t> encoded = p.Encoded.get();
        if (encoded.empty()) throw PackError("the compressor produced no stream");
        for (size_t position : p.EntryPositions) WriteLe32(&directory_[position + 4], (uint32_t)written_);
        Emit(kStreamMarker, kStreamMarkerSize);
        Emit(encoded.data(), encoded.size());
        progress_.FilesDone += p.Files;
        progress_.BytesIn += p.Input;
        progress_.BytesOut = written_;
        if (options_.Progress) options_.Progress(progress_);
    }

    unsigned Threads() const {
        if (options_.Threads > 0) return (unsigned)options_.Threads;
        const unsigned n = std::thread::hardware_concurrency();
        return n == 0 ? 1 : (n > 8 ? 8 : n);
    }

    void AddEntry(const SourceEntry& e, uint32_t streamOffset, uint32_t memberOffset,
                  uint32_t size, uint32_t crc, uint8_t flags) {
        DirectoryEntry d = {};
        d.StreamOffset = streamOffset;
        d.Attributes = e.Attributes;
        d.Flags = (uint8_t)(flags | (e.IsFolder ? FlagFolder : 0));
        d.MemberOffset = memberOffset;
        d.MemberSize = size;
        d.MemberCrc = crc;
        d.NameLength = (uint16_t)e.Name.size();
        d.CreateTime = e.CreateTime;
        d.CreateDate = e.CreateDate;
        d.WriteTime = e.WriteTime;
        d.WriteDate = e.WriteDate;
        uint8_t fixed[kEntryFixedSize];
        WriteDirectoryEntry(d, fixed);
        entryStarts_.push_back(directory_.size());
        directory_.insert(directory_.end(), fixed, fixed + sizeof fixed);
        directory_.insert(directory_.end(), e.Name.begin(), e.Name.end());
    }

    // Writes each entry's check value, now that every StreamOffset is in place; returns the
    // check value of the whole directory.
    uint32_t SealDirectory() {
        for (size_t i = 0; i < entryStarts_.size(); ++i) {
            const size_t end = i + 1 < entryStarts_.size() ? entryStarts_[i + 1] : directory_.size();
            SealEntry((uint32_t)i, &directory_[entryStarts_[i]], (uint32_t)(end - entryStarts_[i]));
        }
        return DirectoryCheckValue(directory_.data(), (uint32_t)directory_.size());
    }

    // Fills each block with as many whole entries as its 8192 decoded bytes take, and
    // gives entries back one at a time while the encoded block exceeds 8184 bytes.
    void WriteDirectory() {
        entryStarts_.push_back(directory_.size());
        size_t first = 0;
        const size_t count = entryStarts_.size() - 1;
        while (first < count) {
            size_t last = first + 1;   // one past the last entry of the block
            while (last < count &&
                   entryStarts_[last + 1] - entryStarts_[first] <= kDirectoryBlockMaxDecoded)
                ++last;
            std::vector<uint8_t> body;
            for (;;) {
                const size_t begin = entryStarts_[first];
                body = EncodeDirectoryBlock(directory_.data() + begin, entryStarts_[last] - begin,
                                            options_.Encode);
                if (!body.empty() || last == first + 1) break;
                --last;
            }
            if (body.empty() || body.size() > kDirectoryBlockMaxBytes)
                throw PackError("the compressor cannot fit a directory block");
            Emit(kDirectorySignature, kDirectorySignatureSize);
            Emit(body.data(), body.size());
            first = last;
        }
    }

    struct PendingStream {
        std::future<std::vector<uint8_t>> Encoded;
        std::vector<size_t> EntryPositions;   // where its entries start in directory_
        uint64_t Files = 0, Input = 0;
    };

    const PackOptions& options_;
    const ArchiveSink& sink_;
    std::deque<PendingStream> pending_;
    std::vector<size_t> streamEntries_;
    uint64_t written_ = 0;
    std::vector<uint8_t> stream_;
    uint64_t streamInput_ = 0;        // member bytes in the stream being assembled
    uint64_t streamEntryBytes_ = 0;   // the sizes of the entries naming them
    uint64_t streamLimit_ = 0;        // start a new stream once streamInput_ reaches it
    uint64_t streamFiles_ = 0;
    std::vector<uint8_t> directory_;
    std::vector<size_t> entryStarts_;
    PackProgress progress_;
};

}  // namespace

uint64_t WriteArchive(const std::vector<SourceEntry>& entries, const PackOptions& options,
                      const ArchiveSink& sink) {
    Writer writer(options, sink);
    return writer.Run(entries);
}

std::vector<uint8_t> BuildArchive(const std::vector<SourceEntry>& entries,
                                  const PackOptions& options) {
    std::vector<uint8_t> archive;
    ArchiveSink sink;
    sink.Write = [&archive](const uint8_t* data, size_t size) {
        archive.insert(archive.end(), data, data + size);
    };
    sink.PatchHeader = [&archive](const uint8_t header[42]) {
        memcpy(archive.data(), header, kArchiveHeaderSize);
    };
    WriteArchive(entries, options, sink);
    return archive;
}

uint64_t WriteArchiveFile(const std::vector<SourceEntry>& entries, const PackOptions& options,
                          FILE* out) {
    const long start = ftell(out);
    if (start < 0) throw PackError(std::string("cannot tell the output position: ") + strerror(errno));
    ArchiveSink sink;
    sink.Write = [out](const uint8_t* data, size_t size) {
        if (size > 0 && fwrite(data, 1, size, out) != size)
            throw PackError(std::string("cannot write the output: ") + strerror(errno));
    };
    sink.PatchHeader = [out, start](const uint8_t header[42]) {
        if (fseek(out, start, SEEK_SET) != 0 || fwrite(header, 1, kArchiveHeaderSize, out) != kArchiveHeaderSize ||
            fseek(out, 0, SEEK_END) != 0 || fflush(out) != 0)
            throw PackError(std::string("cannot write the output: ") + strerror(errno));
    };
    return WriteArchive(entries, options, sink);
}
