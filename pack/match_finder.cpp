#include "pack/match_finder.h"

#include "pack/lz_symbols.h"

namespace {

const uint32_t kHashBits = 16;
const uint32_t kNone = UINT32_MAX;

// Cyclic tables as large as the stream needs, at most 2 MB of positions.
uint32_t WindowMaskFor(size_t size) {
    uint32_t bits = 8;
    while (bits < kFinderWindowBits && ((size_t)1 << bits) < size) bits++;
    return (1u << bits) - 1;
}

uint32_t HashBitsFor(size_t size) {
    uint32_t bits = 10;
    while (bits < kHashBits && ((size_t)1 << bits) < size) bits++;
    return bits;
}

inline uint32_t Hash3(const uint8_t* p, uint32_t bits) {
    uint32_t v = p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16;
    return (v * 2654435761u) >> (32 - bits);
}

inline uint32_t Hash4(const uint8_t* p, uint32_t bits) {
    uint32_t v;
    __builtin_memcpy(&v, p, 4);
    return (v * 2654435761u) >> (32 - bits);
}

}  // namespace

ChainFinder::ChainFinder(const uint8_t* data, size_t size, uint32_t depth, uint32_t niceLength)
    : data_(data), size_(size), depth_(depth), nice_(niceLength), mask_(WindowMaskFor(size)),
      hashBits_(HashBitsFor(size)), head_((size_t)2 << hashBits_, kNone),
      head3_((size_t)1 << hashBits_, kNone), previous_((size_t)mask_ + 1, kNone) {}

void ChainFinder::InsertBefore(size_t end) {
    if (end + 4 > size_) end = size_ >= 4 ? size_ - 4 : 0;
    for (; inserted_ < end; inserted_++) {
        uint32_t h = Hash4(data_ + inserted_, hashBits_ + 1);
        previous_[inserted_ & mask_] = head_[h];
        head_[h] = (uint32_t)inserted_;
        head3_[Hash3(data_ + inserted_, hashBits_)] = (uint32_t)inserted_;
    }
}

// Chains link positions with the same 4-byte hash; 3-byte matches come from a table of the
// latest position of each 3-byte hash, and only count within 8192 bytes.
Match ChainFinder::Longest(size_t pos, size_t lowest, uint32_t maxLength, uint32_t depth) {
    InsertBefore(pos);
    Match best = {0, 0};
    if (pos + 4 > size_ || maxLength < 3) return best;
    const uint8_t* here = data_ + pos;
    size_t floor = pos > kMaxDistance ? pos - kMaxDistance : 0;
    if (lowest > floor) floor = lowest;
    uint32_t bestLength = 2;
    uint32_t near = head3_[Hash3(here, hashBits_)];
    if (near != kNone && near >= floor && near < pos && pos - near <= kMediumDistanceLimit) {
        uint32_t length = CommonLength(here, data_ + near, maxLength);
        if (length >= 3) {
            bestLength = length;
            best = {length, (uint32_t)(pos - near)};
            if (length >= nice_ || length == maxLength) return best;
        }
    }
    if (maxLength < 4) return best;
    uint32_t candidate = head_[Hash4(here, hashBits_ + 1)];
    for (uint32_t tries = depth ? depth : depth_; tries > 0 && candidate != kNone; tries--) {
        if (candidate < floor || candidate >= pos) break;
        const uint8_t* there = data_ + candidate;
        if (there[bestLength] == here[bestLength]) {
            uint32_t length = CommonLength(here, there, maxLength);
            if (length > bestLength && length >= 4) {
                bestLength = length;
                best = {length, (uint32_t)(pos - candidate)};
                if (length >= nice_ || length == maxLength) break;
            }
        }
        candidate = previous_[candidate & mask_];
    }
    return best;
}

TreeFinder::TreeFinder(const uint8_t* data, size_t size, uint32_t cycles, uint32_t niceLength)
    : data_(data), size_(size), cycles_(cycles), nice_(niceLength), mask_(WindowMaskFor(size)),
      hashBits_(HashBitsFor(size)), head_((size_t)1 << hashBits_, kNone),
      tree_(2 * ((size_t)mask_ + 1), kNone) {}

size_t TreeFinder::Find(size_t pos, size_t lowest, uint32_t maxLength, Match* out) {
    return Walk(pos, lowest, maxLength, out);
}

void TreeFinder::Skip(size_t pos, size_t lowest, uint32_t maxLength) {
    Walk(pos, lowest, maxLength, nullptr);
}

// Inserts pos at the root of its bucket's tree, splitting the old tree into the parts that
// sort below and above it, and records the longer matches met on the way.
//
// The trees order positions by their next `limit` bytes, and a walk skips the bytes it
// already knows to be common with both neighbours. That shortcut holds only if every
// insertion compares as deep as later walks will: so `limit` depends on the stream alone
// (the nice length, less near the stream's end, where it only shrinks), never on the
// caller's maxLength, which the end of a block cuts short and the next block lengthens again.
// Found lengths are cut to maxLength on the way out.
size_t TreeFinder::Walk(size_t pos, size_t lowest, uint32_t maxLength, Match* out) {
    if (pos + 3 > size_) return 0;
    size_t inStream = size_ - pos;
    uint32_t limit = inStream < nice_ ? (uint32_t)inStream : nice_;
    if (maxLength > inStream) maxLength = (uint32_t)inStream;
    uint32_t h = Hash3(data_ + pos, hashBits_);
    uint32_t candidate = head_[h];
    head_[h] = (uint32_t)pos;
    uint32_t* left = &tree_[2 * (pos & mask_)];
    uint32_t* right = left + 1;
    size_t floor = pos > kMaxDistance ? pos - kMaxDistance : 0;
    if (lowest > floor) floor = lowest;
    const uint8_t* here = data_ + pos;
    uint32_t leftLength = 0, rightLength = 0, bestLength = 2;
    uint32_t reported = 2;   // longest length handed out so far
    size_t count = 0;
    for (uint32_t cycles = cycles_;; cycles--) {
        if (candidate == kNone || candidate < floor || candidate >= pos || cycles == 0) {
            *left = *right = kNone;
            break;
        }
        uint32_t* pair = &tree_[2 * (candidate & mask_)];
        const uint8_t* there = data_ + candidate;
        uint32_t length = leftLength < rightLength ? leftLength : rightLength;
        length += CommonLength(here + length, there + length, limit - length);
        if (length > bestLength) {
            bestLength = length;
            uint32_t distance = (uint32_t)(pos - candidate);
            if (out) {
                uint32_t full = length < maxLength ? length : maxLength;
                if (full == limit && limit < maxLength) {
                    full += CommonLength(here + full, there + full, maxLength - full);
                }
                if (full > reported) {
                    reported = full;
                    out[count++] = {full, distance};
                }
            }
            if (length == limit) {
                *left = pair[0];
                *right = pair[1];
                break;
            }
        }
        if (there[length] < here[length]) {
            *left = candidate;
            left = pair + 1;
            candidate = *left;
            leftLength = length;
        } else {
            *right = candidate;
            right = pair;
            candidate = *right;
            rightLength = length;
        }
    }
    return count;
}
