// Greedy and lazy matching: at each position take the best match by a rough bit estimate,
// and (lazy levels) defer it by a byte when the next position offers a better one.
#include <algorithm>

#include "pack/match_finder.h"
#include "pack/parser.h"

void EmitMatch(ParsedBlock& out, uint32_t length, uint32_t distance, uint8_t symbol,
               uint32_t offsetInBlock, RememberedDistances& remembered) {
    out.Tokens.push_back({length, distance, symbol, 0});
    UpdateRemembered(symbol, distance, remembered);
    if (distance > offsetInBlock) out.Reach = std::max(out.Reach, distance - offsetInBlock);
}

namespace {

struct Candidate {
    uint32_t Length = 0;
    uint32_t Distance = 0;
    uint8_t Symbol = 0;
    int Score = 0;   // estimated bits saved against literals, in eighths of a bit
};

// Estimated bits saved by a match, in eighths: its bytes as literals minus the match codes.
int Score(uint32_t length, uint8_t symbol) {
    int literalCost = (int)length * 8 * 8;
    int lengthCost = length <= 10 ? 6 * 8 : (int)(7 + LengthCode(length).ExtraBits) * 8;
    int distanceCost;
    if (symbol < 2) distanceCost = 3 * 8;
    else if (symbol < 6) distanceCost = 4 * 8;
    else distanceCost = (int)(4 + DistanceExtraBits(symbol)) * 8 + 4;
    return literalCost - lengthCost - distanceCost;
}

struct LazySettings {
    uint32_t Depth;
    uint32_t Nice;
    bool Lazy;
    bool ShortMatches;   // look for length-2 matches
    uint32_t LazyLimit;  // a match this long is taken without looking one byte further
    uint32_t Good;       // behind a match this long, the next position is searched less deeply
};

LazySettings SettingsFor(int level) {
    switch (level) {
        case 1: return {2, 16, false, false, 0, 0};
        case 2: return {4, 24, true, false, 8, 4};
        case 3: return {8, 32, true, true, 16, 8};
        case 4: return {12, 48, true, true, 24, 8};
        case 5: return {20, 96, true, true, 32, 16};
        default: return {32, 128, true, true, 48, 16};
    }
}

class LazyParser : public BlockParser {
public:
    LazyParser(const uint8_t* data, size_t size, int level)
        : data_(data), size_(size), settings_(SettingsFor(level)),
          chains_(data, size, settings_.Depth, settings_.Nice), pairs_(data) {}

    void Parse(size_t start, uint32_t size, size_t lowest, ParsedBlock& out) override {
        out.Tokens.clear();
        out.Reach = 0;
        RememberedDistances remembered;
        size_t end = start + size;
        size_t pos = start;
        pairsDone_ = std::max(pairsDone_, lowest);
        Candidate current = Best(pos, end, lowest, remembered);
        while (pos < end) {
            if (current.Length == 0) {
                out.Tokens.push_back(LiteralToken(data_[pos]));
                pos++;
                if (pos < end) current = Best(pos, end, lowest, remembered);
                continue;
            }
            if (settings_.Lazy && current.Length < settings_.LazyLimit && pos + 1 < end) {
                uint32_t depth = current.Length >= settings_.Good ? settings_.Depth / 4 + 1 : 0;
                Candidate next = Best(pos + 1, end, lowest, remembered, depth);
                if (next.Score > current.Score + 8 * 2) {
                    out.Tokens.push_back(LiteralToken(data_[pos]));
                    pos++;
                    current = next;
                    continue;
                }
            }
            EmitMatch(out, current.Length, current.Distance, current.Symbol,
                      (uint32_t)(pos - start), remembered);
            pos += current.Length;
            if (pos < end) current = Best(pos, end, lowest, remembered);
        }
        chains_.InsertBefore(end);
    }

private:
    void Consider(Candidate& best, uint32_t length, uint32_t distance,
                  const RememberedDistances& remembered) {
        uint8_t symbol = PreferredDistanceSymbol(distance, remembered);
        if (!SymbolFitsLength(length, symbol)) return;
        int score = Score(length, symbol);
        if (score > best.Score) best = {length, distance, symbol, score};
    }

    Candidate Best(size_t pos, size_t end, size_t lowest, const RememberedDistances& remembered,
                   uint32_t depth = 0) {
        Candidate best;
        uint32_t maxLength = (uint32_t)std::min<size_t>(end - pos, kMaxMatch);
        if (maxLength < 2) return best;
        for (uint32_t distance : {remembered.Last, remembered.Previous}) {
            if (distance == 0 || distance > pos - lowest) continue;
            uint32_t length = CommonLength(data_ + pos, data_ + pos - distance, maxLength);
            if (length >= 2) Consider(best, length, distance, remembered);
        }
        Match m = chains_.Longest(pos, lowest, maxLength, depth);
        if (m.Length >= 3) Consider(best, m.Length, m.Distance, remembered);
        if (settings_.ShortMatches && best.Length < 3) {
            uint32_t distance = PairDistance(pos);
            if (distance != 0 && distance <= kShortDistanceLimit && distance <= pos - lowest) {
                Consider(best, 2, distance, remembered);
            }
        }
        return best;
    }

    // Nearest earlier occurrence of the two bytes at pos, keeping the pair table current.
    uint32_t PairDistance(size_t pos) {
        if (pos + 2 > size_) return 0;
        if (pairsDone_ + kShortDistanceLimit < pos) pairsDone_ = pos - kShortDistanceLimit;
        for (; pairsDone_ < pos; pairsDone_++) pairs_.FindAndInsert(pairsDone_);
        uint32_t distance = pairs_.FindAndInsert(pos);
        pairsDone_ = pos + 1;
        return distance;
    }

    const uint8_t* data_;
    size_t size_;
    LazySettings settings_;
    ChainFinder chains_;
    PairFinder pairs_;
    size_t pairsDone_ = 0;
};

}  // namespace

std::unique_ptr<BlockParser> MakeLazyParser(const uint8_t* data, size_t size, int level) {
    return std::unique_ptr<BlockParser>(new LazyParser(data, size, level));
}
