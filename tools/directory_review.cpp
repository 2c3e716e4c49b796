#include "tools/directory_review.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "archive/directory.h"
#include "profile/profile.h"
#include "profile/state.h"
#include "text/code_pages.h"
#include "tools/entry_names.h"

namespace {

// Hashes of names with letter case folded, as Windows compares them: two entries whose
// hashes agree name the same file. A collision of two different names could only call an
// archive damaged that is not, never the reverse. One multiplication for each code point:
// each step is a bijection of the hash, so names of one length that differ in a single code
// point never share a hash.
struct NameHash {
    uint64_t Value = 0xCBF29CE484222325ull;
    void Add(uint32_t codePoint) { Value = (Value ^ codePoint) * 0x100000001B3ull; }
};

bool IsPathSeparator(uint32_t c) { return c == '\\' || c == '/'; }

// A set of name hashes with a value for each, kept by the first entry that brought it:
// open addressing in a table of a power of two slots, at most half of them used. The
// review makes a lookup or two for every folder level of every name, so this is where a
// directory of many files spends its time.
template <class Value>
class HashTable {
public:
    // Makes room for count keys at once, so that the table does not grow on the way there.
    void Reserve(size_t count) {
        size_t size = 64;
        while (size < 2 * count) size *= 2;
        if (size > slots_.size()) Resize(size);
    }
    // The value kept under key, or null.
    const Value* Find(uint64_t key) const {
        if (slots_.empty()) return nullptr;
        for (size_t i = Home(key);; i = (i + 1) & mask_) {
            if (!used_[i]) return nullptr;
            if (slots_[i].Key == key) return &slots_[i].Kept;
        }
    }
    // Keeps value under key unless the key has one; returns the value kept and whether it
    // is the new one.
    std::pair<const Value*, bool> Insert(uint64_t key, const Value& value) {
        if (2 * (count_ + 1) > slots_.size()) Resize(slots_.empty() ? 64 : 2 * slots_.size());
        size_t i = Home(key);
        for (; used_[i]; i = (i + 1) & mask_) {
            if (slots_[i].Key == key) return {&slots_[i].Kept, false};
        }
        slots_[i] = Slot{key, value};
        used_[i] = 1;
        ++count_;
        return {&slots_[i].Kept, true};
    }

private:
    struct Slot {
        uint64_t Key;
        Value Kept;
    };
    // The hash's high bits after one more multiplication: every bit of the key counts.
    size_t Home(uint64_t key) const { return (size_t)((key * 0x9E3779B97F4A7C15ull) >> shift_); }
    void Resize(size_t size) {
        std::vector<Slot> slots(size);
        std::vector<uint8_t> used(size);
        slots.swap(slots_);
        used.swap(used_);
        mask_ = size - 1;
        shift_ = 64;
        for (size_t s = size; s > 1; s >>= 1) --shift_;
        count_ = 0;
        for (size_t i = 0; i < slots.size(); ++i) {
            if (used[i]) Insert(slots[i].Key, slots[i].Kept);
        }
    }
    std::vector<Slot> slots_;
    std::vector<uint8_t> used_;   // by slot: 1 when it holds a key
    size_t mask_ = 0, count_ = 0;
    int shift_ = 64;
};

struct SeenName {
    uint32_t Index;
    bool Folder;
};

class NameReview {
public:
    // Room for the names of count entries (a hostile count gets no more than a first part).
    explicit NameReview(uint32_t count) { names_.Reserve(count < (1u << 16) ? count : 1u << 16); }
    // Returns what is wrong with the entry's place among those before it, or "".
    std::string Add(uint32_t index, const std::string& name, bool folder) {
        // Bytes below 0x80 stand for themselves in every code page: most names need no
        // conversion.
        unsigned char high = 0;
        for (unsigned char c : name) high |= c;
        if (high < 0x80) {
            codePoints_.assign(name.begin(), name.end());
        } else {
            CodePageToCodePoints(name, NameCodePage(), &codePoints_);
        }
        std::vector<uint32_t>& codePoints = codePoints_;
        while (!codePoints.empty() && IsPathSeparator(codePoints.back())) codePoints.pop_back();
        NameHash hash;
        std::string problem;
        for (size_t i = 0; i < codePoints.size(); ++i) {
            const uint32_t c = codePoints[i];
            if (!IsPathSeparator(c)) {
                hash.Add(FoldCase(c));
                continue;
            }
            // The folder this entry lies in may not be a file.
            const SeenName* seen = names_.Find(hash.Value);
            if (seen != nullptr && !seen->Folder && problem.empty())
                problem = "lies inside entry " + std::to_string(seen->Index) + ", which is a file";
            parents_.Insert(hash.Value, index);
            hash.Add('\\');
        }
        const uint32_t* inside = parents_.Find(hash.Value);
        if (!folder && inside != nullptr && problem.empty())
            problem = "is a file, yet entry " + std::to_string(*inside) + " lies inside it";
        auto same = names_.Insert(hash.Value, SeenName{index, folder});
        if (!same.second && problem.empty())
            problem = "names the same file as entry " + std::to_string(same.first->Index) +
                      " (names differing in letter case only are one file on Windows)";
        return problem;
    }

private:
    std::vector<uint32_t> codePoints_;
    HashTable<SeenName> names_;
    HashTable<uint32_t> parents_;   // folder -> the first entry inside it
};

// Entries named one by one; past this many a line counts the rest.
const uint64_t kEntriesNamed = 10;

}  // namespace

bool ReviewDirectory(const char* command, const char* path, const ArchiveFileInfo& info,
                     int codePage, uint64_t maxEntries, DirectoryReview* review) {
    *review = DirectoryReview();
    uint8_t header[kArchiveHeaderSize];
    FILE* f = fopen(path, "rb");
    const bool read = f != nullptr && ReadAt(f, info.Base, header, sizeof header);
    const std::string why = f == nullptr ? strerror(errno) : read ? "" : ReadFailure(f);
    if (f != nullptr) fclose(f);
    if (!read) {
        fprintf(stderr, "qar %s: cannot read the archive header of %s: %s\n", command, path, why.c_str());
        ++review->Problems;
        return false;
    }
    ReadHeaderCheck(header, &review->Checks);
    const HeaderChecks& checks = review->Checks;
    int chosen = codePage;
    if (chosen == 0) {
        chosen = 1252;
        if (checks.Status == kHeaderChecked) {
            if (IsSupportedCodePage(checks.NameCodePage)) {
                chosen = checks.NameCodePage;
            } else {
                fprintf(stderr, "qar %s: %s records code page %u for its names, which this qar does "
                        "not support; they are read in 1252 (--codepage N for another)\n", command,
                        path, checks.NameCodePage);
            }
        }
    }
    SetNameCodePage(chosen);
    if (checks.Status == kHeaderDamaged) {
        fprintf(stderr, "qar %s: %s: damaged archive: the header's check value does not match; its "
                "entry count and directory offset cannot be trusted\n", command, path);
        ++review->Problems;
        return false;
    }
    const uint32_t count = State.Header.EntryCount;
    if (count > maxEntries) {
        fprintf(stderr, "qar %s: %s declares %u entries, more than the %llu of --max-entries; "
                "if you trust this archive, run again with a larger --max-entries N\n", command,
                path, count, (unsigned long long)maxEntries);
        review->TooMany = true;
        ++review->Problems;
        return false;
    }

    static uint8_t entryBuffer[kEntryBufferSize];
    StartDirectoryWalk(entryBuffer, (int32_t)(Profile.ArchiveBase + State.Header.DirectoryOffset));
    DirectoryCheck check;
    StartDirectoryCheck(&check);
    const bool checked = checks.Status == kHeaderChecked;
    NameReview names(count);
    uint64_t named = 0, changed = 0;
    review->Damaged.assign(count, false);
    bool keeping = true;
    // Most directories take about this much; a larger one grows the string as it goes.
    review->Entries.reserve(std::min<size_t>((size_t)count * (kEntryFixedSize + 64), kKeptEntryBytes));
    auto tell = [&](uint32_t index, const std::string& name, const std::string& what) {
        ++review->Problems;
        review->Damaged[index] = true;
        if (named++ < kEntriesNamed) {
            fprintf(stderr, "qar %s: %s: damaged archive: entry %u (%s) %s\n", command, path,
                    index,
                    ShownName(name).c_str(), what.c_str());
        }
    };
    for (uint32_t i = 0; i < count; ++i) {
        DirectoryEntry entry;
        const uint8_t* name;
        int32_t r = NextDirectoryEntry(entryBuffer, &entry, &name);
        if (r != 0) {
            review->WalkError = r;
            break;
        }
        const std::string text((const char*)name, entry.NameLength);
        const uint32_t size = kEntryFixedSize + entry.NameLength + entry.ExtraLengthByte +
                              entry.ExtraLengthWord;
        if (keeping && review->Entries.size() + size <= kKeptEntryBytes) {
            review->Entries.append((const char*)name - kEntryFixedSize, size);
        } else if (keeping) {
            keeping = false;
            std::string().swap(review->Entries);
        }
        if (checked && !CheckDirectoryEntry(&check, name - kEntryFixedSize, size)) {
            ++changed;
            tell(i, text, "was changed: its check value does not match");
            continue;
        }
        std::string problem = EntryNameProblem(text);
        if (problem.empty()) problem = names.Add(i, text, (entry.Flags & FlagFolder) != 0);
        if (!problem.empty()) tell(i, text, problem);
    }
    if (named > kEntriesNamed) {
        fprintf(stderr, "qar %s: %s: and %llu more damaged entries\n", command, path,
                (unsigned long long)(named - kEntriesNamed));
    }
    if (checked && review->WalkError == 0 && changed == 0 && !FinishDirectoryCheck(check, checks)) {
        fprintf(stderr, "qar %s: %s: damaged archive: the directory's check value does not match\n",
                command, path);
        ++review->Problems;
    }
    review->Kept = keeping;
    review->Checked = checked && review->Problems == 0 && review->WalkError == 0;
    return review->Problems == 0 && review->WalkError == 0;
}

int32_t WalkReviewed(const DirectoryReview& review,
                     const std::function<bool(const DirectoryEntry&, const std::string&)>& visit) {
    if (!review.Kept) return WalkDirectory(visit);
    const uint8_t* at = (const uint8_t*)review.Entries.data();
    const uint8_t* end = at + review.Entries.size();
    while (at != end) {
        // The review took each entry whole from the walk: its sizes hold.
        DirectoryEntry entry;
        ReadDirectoryEntry(at, &entry);
        const uint8_t* name = at + kEntryFixedSize;
        at = name + entry.NameLength + entry.ExtraLengthByte + entry.ExtraLengthWord;
        if (!visit(entry, std::string((const char*)name, entry.NameLength))) return 0;
    }
    return review.WalkError;
}
