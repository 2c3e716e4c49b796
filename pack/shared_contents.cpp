#include "pack/shared_contents.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <map>
#include <numeric>

#include "decode/crc32.h"

namespace {

const size_t kChunk = 1u << 20;

uint64_t SizeOf(const SourceEntry& e) { return e.HasData ? e.Data.size() : e.Size; }

// An entry's content, read a chunk at a time.
class ContentReader {
public:
    explicit ContentReader(const SourceEntry& entry) : entry_(entry) {
        if (entry.HasData) return;
        file_ = fopen(entry.Path.c_str(), "rb");
        if (!file_) throw PackError("'" + entry.Path + "': cannot open: " + strerror(errno));
        buffer_.resize(kChunk);
    }
    ~ContentReader() {
        if (file_) fclose(file_);
    }
    ContentReader(const ContentReader&) = delete;
    ContentReader& operator=(const ContentReader&) = delete;

    // The next chunk: kChunk bytes but at the end of the content; 0 once it is all read.
    size_t Next(const uint8_t** data) {
        if (entry_.HasData) {
            const size_t n = std::min(kChunk, entry_.Data.size() - position_);
            *data = entry_.Data.data() + position_;
            position_ += n;
            return n;
        }
        const size_t n = fread(buffer_.data(), 1, kChunk, file_);
        if (ferror(file_)) throw PackError("'" + entry_.Path + "': cannot read: " + strerror(errno));
        *data = buffer_.data();
        return n;
    }

private:
    const SourceEntry& entry_;
    FILE* file_ = nullptr;
    std::vector<uint8_t> buffer_;
    size_t position_ = 0;
};

uint32_t CrcOfContent(const SourceEntry& e) {
    ContentReader reader(e);
    uint32_t crc = 0xFFFFFFFFu;
    const uint8_t* data;
    while (size_t n = reader.Next(&data)) crc = Crc32(data, (uint32_t)n, crc);
    return ~crc;
}

bool SameContent(const SourceEntry& a, const SourceEntry& b) {
    ContentReader ra(a), rb(b);
    for (;;) {
        const uint8_t *da, *db;
        const size_t na = ra.Next(&da), nb = rb.Next(&db);
        if (na != nb || memcmp(da, db, na) != 0) return false;
        if (na == 0) return true;
    }
}

}  // namespace

std::vector<size_t> FindSharedContents(const std::vector<SourceEntry>& entries) {
    std::vector<size_t> first(entries.size());
    std::iota(first.begin(), first.end(), (size_t)0);
    std::map<uint64_t, std::vector<size_t>> bySize;   // each list in entry order
    for (size_t i = 0; i < entries.size(); ++i) {
        if (!entries[i].IsFolder && SizeOf(entries[i]) > 0) bySize[SizeOf(entries[i])].push_back(i);
    }
    for (const auto& sized : bySize) {
        if (sized.second.size() < 2) continue;
        std::map<uint32_t, std::vector<size_t>> byCrc;
        for (size_t i : sized.second) byCrc[CrcOfContent(entries[i])].push_back(i);
        for (const auto& candidates : byCrc) {
            // Each entry is compared with the distinct contents met before it, so that the
            // first entry of a content stands for it.
            std::vector<size_t> distinct;
            for (size_t i : candidates.second) {
                size_t found = i;
                for (size_t r : distinct) {
                    if (SameContent(entries[r], entries[i])) {
                        found = r;
                        break;
                    }
                }
                if (found == i) distinct.push_back(i);
                first[i] = found;
            }
        }
    }
    return first;
}
