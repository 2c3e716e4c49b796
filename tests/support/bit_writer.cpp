#include "tests/support/bit_writer.h"

#include <algorithm>
#include <queue>
#include <stdexcept>

namespace {

const uint32_t kDistanceOffsets[3] = {288, 330, 344};
const uint32_t kDistanceSizes[3] = {42, 14, 28};

// Bijective base-2 digits of count, least significant first: false = 1, true = 2.
std::vector<bool> BijectiveDigits(uint32_t count) {
    std::vector<bool> digits;
    while (count > 0) {
        bool two = count % 2 == 0;
        digits.push_back(two);
        count = (count - (two ? 2 : 1)) / 2;
    }
    return digits;
}

}  // namespace

void BitWriter::Put(uint64_t value, unsigned count) {
    for (unsigned i = 0; i < count; ++i) {
        if (bits_ % 8 == 0) bytes_.push_back(0);
        if ((value >> i) & 1) bytes_.back() |= (uint8_t)(1u << (bits_ % 8));
        ++bits_;
    }
}

void BitWriter::PutCode(uint32_t code, unsigned length) {
    for (unsigned i = length; i-- > 0;) Put((code >> i) & 1, 1);
}

void BitWriter::AlignToByte() { bits_ = (bits_ + 7) / 8 * 8; }

std::vector<uint32_t> CanonicalCodes(const std::vector<uint8_t>& lengths) {
    uint32_t count[17] = {0};
    for (uint8_t l : lengths) {
        if (l > 16) throw std::invalid_argument("code length above 16");
        if (l) ++count[l];
    }
    uint32_t next[17] = {0};
    uint32_t code = 0;
    for (int l = 1; l <= 16; ++l) {
        code = (code + count[l - 1]) << 1;
        next[l] = code;
    }
    std::vector<uint32_t> codes(lengths.size(), 0);
    for (size_t s = 0; s < lengths.size(); ++s)
        if (lengths[s]) codes[s] = next[lengths[s]]++;
    return codes;
}

std::vector<uint8_t> HuffmanLengths(const std::vector<uint64_t>& frequencies, unsigned maxLength) {
    std::vector<uint64_t> f = frequencies;
    std::vector<uint8_t> lengths(f.size(), 0);
    for (;;) {
        struct Node { uint64_t weight; int left, right; };
        std::vector<Node> nodes;
        typedef std::pair<uint64_t, int> Item;
        std::priority_queue<Item, std::vector<Item>, std::greater<Item>> heap;
        for (size_t s = 0; s < f.size(); ++s) {
            if (f[s] == 0) continue;
            nodes.push_back({f[s], -1 - (int)s, 0});
            heap.push({f[s], (int)nodes.size() - 1});
        }
        std::fill(lengths.begin(), lengths.end(), 0);
        if (nodes.empty()) return lengths;
        if (nodes.size() == 1) {
            lengths[-1 - nodes[0].left] = 1;
            return lengths;
        }
        while (heap.size() > 1) {
            Item a = heap.top(); heap.pop();
            Item b = heap.top(); heap.pop();
            nodes.push_back({a.first + b.first, a.second, b.second});
            heap.push({a.first + b.first, (int)nodes.size() - 1});
        }
        // Depth of every leaf, walking down from the root.
        unsigned deepest = 0;
        std::vector<std::pair<int, unsigned>> stack = {{heap.top().second, 0}};
        while (!stack.empty()) {
            auto [index, depth] = stack.back();
            stack.pop_back();
            const Node& node = nodes[index];
            if (node.left < 0) {
                lengths[-1 - node.left] = (uint8_t)std::max(depth, 1u);
                deepest = std::max(deepest, depth);
            } else {
                stack.push_back({node.left, depth + 1});
                stack.push_back({node.right, depth + 1});
            }
        }
        if (deepest <= maxLength) return lengths;
        for (uint64_t& w : f)   // flatten the distribution and try again
            if (w) w = (w + 1) / 2;
    }
}

std::vector<uint8_t> DefaultTableSet(uint32_t endOffset) {
    std::vector<uint8_t> set(344, 0);
    for (int s = 0; s < 288; ++s)
        set[s] = s < 244 ? 8 : s < 256 ? 9 : s == 256 ? 0 : s < 261 ? 9 : s < 266 ? 10 : 11;
    for (int s = 0; s < 42; ++s) {
        if (endOffset > 8192) set[288 + s] = s < 22 ? 5 : 6;
        else set[288 + s] = s < 4 ? 4 : s < 28 ? 5 : 0;
    }
    for (int s = 0; s < 14; ++s) set[330 + s] = s < 2 ? 3 : 4;
    return set;
}

void WriteClCodeLengths(BitWriter& out, const uint8_t* lengths21) {
    for (int i = 0; i < 21;) {
        if (lengths21[i] != 0) {
            out.Put(lengths21[i] + 1u, 5);
            ++i;
            continue;
        }
        uint32_t zeros = 0;
        while (i < 21 && lengths21[i] == 0) ++zeros, ++i;
        for (bool two : BijectiveDigits(zeros)) out.Put(two ? 1 : 0, 5);
    }
}

void WriteTableSets(BitWriter& out, const std::vector<uint8_t>& sets, uint32_t setSize) {
    uint8_t cl[21];
    std::fill(cl, cl + 21, 5);
    WriteClCodeLengths(out, cl);
    std::vector<uint32_t> codes = CanonicalCodes(std::vector<uint8_t>(cl, cl + 21));
    uint32_t last = 0;
    auto predict = [&](size_t p) {
        if (p >= setSize && sets[p - setSize] != 0) last = sets[p - setSize];
        return last;
    };
    for (size_t p = 0; p < sets.size();) {
        uint32_t prediction = predict(p);
        if (sets[p] == 0 && p + 1 < sets.size() && sets[p + 1] == 0) {
            uint32_t zeros = 0;
            while (p + zeros < sets.size() && sets[p + zeros] == 0) ++zeros;
            uint32_t weight = 1;
            bool first = true;
            for (bool two : BijectiveDigits(zeros)) {
                if (!first) predict(p);   // every symbol updates the prediction at its position
                first = false;
                out.PutCode(codes[two ? 18 : 17], 5);
                p += two ? 2 * weight : weight;
                weight *= 2;
            }
            continue;
        }
        uint32_t symbol = (sets[p] + 17 - prediction) % 17;
        out.PutCode(codes[symbol], 5);
        last = sets[p];
        ++p;
    }
}

void DistanceSymbol(uint32_t distance, uint32_t* symbol, uint32_t* extraBits, uint32_t* extra) {
    if (distance >= 1 && distance <= 4) {
        *symbol = distance + 1;
        *extraBits = *extra = 0;
        return;
    }
    for (uint32_t s = 6; s < 42; ++s) {
        uint32_t j = (s - 6) / 2;
        uint32_t base = ((s % 2 ? 3u : 2u) << (j + 1)) + 1;
        if (distance >= base && distance - base < (1u << (j + 1))) {
            *symbol = s;
            *extraBits = j + 1;
            *extra = distance - base;
            return;
        }
    }
    throw std::invalid_argument("distance out of range");
}

void LengthSymbol(uint32_t length, uint32_t* symbol, uint32_t* extraBits, uint32_t* extra) {
    if (length >= 2 && length <= 10) {
        *symbol = 255 + length;
        *extraBits = *extra = 0;
        return;
    }
    uint32_t base = 11;
    for (uint32_t s = 266; s < 286; ++s) {
        uint32_t bits = (s - 266) / 4 + 1;
        if (length >= base && length < base + (1u << bits)) {
            *symbol = s;
            *extraBits = bits;
            *extra = length - base;
            return;
        }
        base += 1u << bits;
    }
    if (length >= 259 && length <= 33026) {
        *symbol = 286;
        *extraBits = 15;
        *extra = length - 259;
        return;
    }
    throw std::invalid_argument("length out of range");
}

void PutBlockHeader(BitWriter& out, uint32_t type, bool last, uint32_t decodedSize,
                    uint32_t blockSize, uint32_t windowBits) {
    out.Put(type, 4);
    out.Put(last ? 1 : 0, 1);
    out.Put(decodedSize, 20);
    out.Put(blockSize, 20);
    out.Put(windowBits, 5);
}

void SetBlockSize(std::vector<uint8_t>& block, uint32_t blockSize) {
    uint32_t word = block[3] | block[4] << 8 | block[5] << 16;
    word = (word & ~(0xFFFFFu << 1)) | (blockSize & 0xFFFFF) << 1;
    block[3] = (uint8_t)word;
    block[4] = (uint8_t)(word >> 8);
    block[5] = (uint8_t)(word >> 16);
}

LzBlockWriter::LzBlockWriter(BitWriter& out, uint32_t alphabets, const std::vector<uint8_t>& sets,
                             uint32_t endOffset)
    : out_(out), alphabets_(alphabets), setSize_(alphabets == 3 ? 372 : 344), sets_(sets) {
    if (sets_.size() % setSize_ != 0) throw std::invalid_argument("partial TableSet");
    uint32_t count = (uint32_t)(sets_.size() / setSize_);
    out_.Put(alphabets | count << 2, 8);
    if (count == 0) {
        sets_ = DefaultTableSet(endOffset);
        setSize_ = 344;
    } else {
        WriteTableSets(out_, sets_, setSize_);
    }
    SelectSet(0);
}

void LzBlockWriter::SelectSet(size_t index) {
    set_ = index;
    const uint8_t* base = sets_.data() + index * setSize_;
    literalLengths_.assign(base, base + 288);
    literalCodes_ = CanonicalCodes(literalLengths_);
    for (uint32_t a = 0; a < 3; ++a) {
        if (a >= alphabets_ || kDistanceOffsets[a] + kDistanceSizes[a] > setSize_) {
            distanceLengths_[a].clear();
            distanceCodes_[a].clear();
            continue;
        }
        distanceLengths_[a].assign(base + kDistanceOffsets[a],
                                   base + kDistanceOffsets[a] + kDistanceSizes[a]);
        distanceCodes_[a] = CanonicalCodes(distanceLengths_[a]);
    }
}

void LzBlockWriter::PutSymbol(const std::vector<uint8_t>& lengths,
                              const std::vector<uint32_t>& codes, uint32_t symbol) {
    if (symbol >= lengths.size() || lengths[symbol] == 0)
        throw std::invalid_argument("symbol has no code");
    out_.PutCode(codes[symbol], lengths[symbol]);
}

void LzBlockWriter::Literal(uint8_t byte) { PutSymbol(literalLengths_, literalCodes_, byte); }

uint32_t LzBlockWriter::AlphabetFor(uint32_t length) const {
    if (length == 2) return 1;
    if (length == 3 && alphabets_ == 3) return 2;
    return 0;
}

void LzBlockWriter::MatchSymbol(uint32_t length, uint32_t distanceSymbol, uint32_t distanceExtra) {
    uint32_t symbol, extraBits, extra;
    LengthSymbol(length, &symbol, &extraBits, &extra);
    PutSymbol(literalLengths_, literalCodes_, symbol);
    out_.Put(extra, extraBits);
    uint32_t a = AlphabetFor(length);
    PutSymbol(distanceLengths_[a], distanceCodes_[a], distanceSymbol);
    if (distanceSymbol >= 6) out_.Put(distanceExtra, (distanceSymbol - 6) / 2 + 1);
}

void LzBlockWriter::Match(uint32_t length, uint32_t distance) {
    uint32_t symbol, extraBits, extra;
    DistanceSymbol(distance, &symbol, &extraBits, &extra);
    MatchSymbol(length, symbol, extra);
}

void LzBlockWriter::EndSet() {
    PutSymbol(literalLengths_, literalCodes_, 256);
    if ((set_ + 1) * setSize_ < sets_.size()) SelectSet(set_ + 1);
}
