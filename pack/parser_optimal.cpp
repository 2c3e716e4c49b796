// Near-optimal parsing: every position's matches are collected once from binary trees, then
// the block is parsed as a shortest path over positions, priced with the codes that the
// previous parse of the same block would get. Parse, build codes, re-price, parse again.
#include <string.h>

#include <algorithm>

#include "pack/block_writer.h"
#include "pack/match_finder.h"
#include "pack/parser.h"

namespace {

struct OptimalSettings {
    uint32_t Cycles;
    uint32_t Nice;
    int Passes;
};

OptimalSettings SettingsFor(int level) {
    switch (level) {
        case 7: return {24, 64, 1};
        case 8: return {48, 128, 2};
        default: return {96, 273, 3};
    }
}

const uint32_t kInfinite = UINT32_MAX;
const uint32_t kScale = 16;   // prices are in sixteenths of a bit

struct Prices {
    uint32_t Main[288];
    uint32_t Distance[3][42];
    int Alphabets = 2;

    uint32_t Match(uint32_t length, uint8_t symbol) const {
        SymbolCode code = LengthCode(length);
        return Main[code.Symbol] + Distance[DistanceAlphabetFor(length, Alphabets)][symbol] +
               (code.ExtraBits + DistanceExtraBits(symbol)) * kScale;
    }
};

void PriceAlphabet(const uint8_t* lengths, int n, uint32_t* prices) {
    int longest = 0;
    for (int s = 0; s < n; s++) longest = std::max<int>(longest, lengths[s]);
    for (int s = 0; s < n; s++) {
        prices[s] = (lengths[s] ? lengths[s] : longest + 2) * kScale;
    }
}

// Prices from tokens of an earlier parse: the lengths their codes would have.
// alphabets: 2 or 3 to price for that count of distance alphabets, 0 to take the cheaper.
void PricesFromTokens(const Token* tokens, size_t count, int alphabets, Prices& prices) {
    SymbolCounts two, three;
    CountSymbols(tokens, count, 2, two);
    CountSymbols(tokens, count, 3, three);
    uint8_t setTwo[372], setThree[372];
    BuildTableSet(two, 2, setTwo);
    BuildTableSet(three, 3, setThree);
    uint64_t bitsTwo = 0, bitsThree = 28 * 3;   // alphabet 2 needs its lengths sent
    for (int a = 0; a < 3; a++) {
        for (uint32_t s = 0; s < kAlphabetSize[a]; s++) {
            bitsTwo += (uint64_t)two.Distance[a][s] * setTwo[kAlphabetOffset[a] + s];
            bitsThree += (uint64_t)three.Distance[a][s] * setThree[kAlphabetOffset[a] + s];
        }
    }
    if (alphabets == 0) alphabets = bitsThree < bitsTwo ? 3 : 2;
    const uint8_t* set = alphabets == 3 ? setThree : setTwo;
    prices.Alphabets = alphabets;
    PriceAlphabet(set, 288, prices.Main);
    for (int a = 0; a < 3; a++) {
        PriceAlphabet(set + kAlphabetOffset[a], (int)kAlphabetSize[a], prices.Distance[a]);
    }
}

class OptimalParser : public BlockParser {
public:
    OptimalParser(const uint8_t* data, size_t size, int level, int maxTableSets)
        : data_(data), size_(size), settings_(SettingsFor(level)), maxTableSets_(maxTableSets),
          tree_(data, size, settings_.Cycles, settings_.Nice), pairs_(data) {}

    void Parse(size_t start, uint32_t size, size_t lowest, ParsedBlock& out) override {
        CollectMatches(start, size, lowest);
        // First prices: from a greedy parse of the collected matches.
        Greedy(start, size, out);
        for (int pass = 0; pass < settings_.Passes; pass++) {
            Reprice(out.Tokens);
            ShortestPath(start, size, lowest, out);
        }
    }

    // Prices for the next parse: the tokens are split where their statistics change, as
    // the block writer will split them into TableSets, and each stretch of the block gets
    // the prices of its own code.
    void Reprice(const std::vector<Token>& tokens) {
        std::vector<size_t> starts =
            EstimateTableSetStarts(tokens.data(), tokens.size(), 2, maxTableSets_);
        prices_.resize(starts.size());
        priceStart_.clear();
        uint32_t position = 0;
        size_t next = 0;
        for (size_t k = 0; k < tokens.size(); k++) {
            if (next < starts.size() && starts[next] == k) {
                priceStart_.push_back(position);
                next++;
            }
            position += tokens[k].Length ? tokens[k].Length : 1;
        }
        priceStart_.push_back(UINT32_MAX);
        // One count of distance alphabets for the whole block, as the block is written.
        Prices whole;
        PricesFromTokens(tokens.data(), tokens.size(), 0, whole);
        for (size_t s = 0; s < starts.size(); s++) {
            size_t end = s + 1 < starts.size() ? starts[s + 1] : tokens.size();
            PricesFromTokens(tokens.data() + starts[s], end - starts[s], whole.Alphabets, prices_[s]);
        }
    }

private:
    // Matches of every position of the block: tree matches (>= 3) and the nearest length-2
    // match within 64 bytes. Positions inside a match of the nice length or more are skipped.
    void CollectMatches(size_t start, uint32_t size, size_t lowest) {
        matches_.clear();
        first_.assign(size + 1, 0);
        pairDistance_.assign(size, 0);
        Match found[300];
        size_t skipUntil = 0;
        for (uint32_t i = 0; i < size; i++) {
            size_t pos = start + i;
            first_[i] = (uint32_t)matches_.size();
            uint32_t maxLength = (uint32_t)std::min<size_t>(size - i, kMaxMatch);
            if (pos + 2 <= size_) {
                uint32_t d = pairs_.FindAndInsert(pos);
                if (d != 0 && d <= kShortDistanceLimit && d <= pos - lowest) pairDistance_[i] = (uint8_t)d;
            }
            if (pos < skipUntil) {
                tree_.Skip(pos, lowest, maxLength);
                continue;
            }
            size_t n = tree_.Find(pos, lowest, maxLength, found);
            for (size_t k = 0; k < n; k++) {
                // 3-byte matches further than alphabet 2 reaches are not worth their codes.
                if (found[k].Length == 3 && found[k].Distance > kMediumDistanceLimit) continue;
                matches_.push_back(found[k]);
            }
            if (n > 0 && found[n - 1].Length >= settings_.Nice) skipUntil = pos + found[n - 1].Length;
        }
        first_[size] = (uint32_t)matches_.size();
    }

    void Greedy(size_t start, uint32_t size, ParsedBlock& out) {
        out.Tokens.clear();
        out.Reach = 0;
        RememberedDistances remembered;
        for (uint32_t i = 0; i < size;) {
            uint32_t lo = first_[i], hi = first_[i + 1];
            if (hi > lo) {
                const Match& m = matches_[hi - 1];
                uint8_t symbol = PreferredDistanceSymbol(m.Distance, remembered);
                if (SymbolFitsLength(m.Length, symbol)) {
                    EmitMatch(out, m.Length, m.Distance, symbol, i, remembered);
                    i += m.Length;
                    continue;
                }
            }
            out.Tokens.push_back(LiteralToken(data_[start + i]));
            i++;
        }
    }

    struct Node {
        uint32_t Cost;
        uint32_t From;
        uint32_t Length;     // 0: literal
        uint32_t Distance;
        uint8_t Symbol;
        uint32_t Repeat;     // > 0: the match is followed by a literal and a match of this
                             // length at the same distance (three tokens in one step)
        RememberedDistances Remembered;   // after this step
    };

    // After a match that leaves its distance as LastDistance: one literal, then the same
    // distance again (symbol 0). The shortest path keeps one set of remembered distances
    // per position, so this sequence is priced here as a whole.
    void RelaxMatchLiteralRepeat(uint32_t i, uint32_t size, const Prices& prices, uint32_t base,
                                 uint32_t length, uint32_t distance, uint8_t symbol,
                                 const RememberedDistances& after, const uint8_t* p) {
        uint32_t literalAt = i + length;
        if (literalAt + 3 > size || after.Last != distance || !SymbolFitsLength(length, symbol)) return;
        uint32_t room = std::min<uint32_t>(size - literalAt - 1, kMaxMatch);
        uint32_t repeat = CommonLength(p + length + 1, p + length + 1 - distance, room);
        if (repeat < 2) return;
        uint32_t cost = base + prices.Match(length, symbol) + prices.Main[p[length]] +
                        prices.Match(repeat, 0);
        Node& n = nodes_[literalAt + 1 + repeat];
        if (cost < n.Cost) {
            n = Node{cost, i, length, distance, symbol, repeat, after};
        }
    }

    void ShortestPath(size_t start, uint32_t size, size_t lowest, ParsedBlock& out) {
        nodes_.assign(size + 1, Node{kInfinite, 0, 0, 0, 0, 0, {}});
        nodes_[0].Cost = 0;
        const uint32_t nice = settings_.Nice;
        size_t priceIndex = 0;
        for (uint32_t i = 0; i < size; i++) {
            while (i >= priceStart_[priceIndex + 1]) priceIndex++;
            const Prices& prices = prices_[priceIndex];
            const Node here = nodes_[i];
            if (here.Cost == kInfinite) continue;
            size_t pos = start + i;
            const uint8_t* p = data_ + pos;
            uint32_t maxLength = (uint32_t)std::min<size_t>(size - i, kMaxMatch);
            Relax(i + 1, here.Cost + prices.Main[*p], i, 0, 0, 0, here.Remembered);
            if (maxLength < 2) continue;
            uint32_t reach = (uint32_t)std::min<size_t>(pos - lowest, kMaxDistance);
            uint32_t longest = 0;

            // Remembered distances, then the short distances 1-4.
            for (uint8_t symbol = 0; symbol < 6; symbol++) {
                uint32_t distance = symbol == 0 ? here.Remembered.Last
                                  : symbol == 1 ? here.Remembered.Previous
                                  : symbol - 1u;
                if (distance == 0 || distance > reach) continue;
                if (symbol >= 2 && (distance == here.Remembered.Last ||
                                    distance == here.Remembered.Previous)) continue;
                uint32_t length = CommonLength(p, p - distance, maxLength);
                if (length < 2) continue;
                RememberedDistances after = here.Remembered;
                UpdateRemembered(symbol, distance, after);
                if (length > nice) {
                    Relax(i + length, here.Cost + prices.Match(length, symbol), i, length, distance,
                          symbol, after);
                } else {
                    for (uint32_t l = 2; l <= length; l++) {
                        Relax(i + l, here.Cost + prices.Match(l, symbol), i, l, distance, symbol, after);
                    }
                }
                RelaxMatchLiteralRepeat(i, size, prices, here.Cost, length, distance, symbol, after, p);
                if (length > longest) longest = length;
            }
            // Length 2 with an explicit distance up to 64.
            uint32_t pair = pairDistance_[i];
            if (pair > 4) {
                uint8_t symbol = (uint8_t)DistanceCode(pair).Symbol;
                RememberedDistances after = here.Remembered;
                UpdateRemembered(symbol, pair, after);
                Relax(i + 2, here.Cost + prices.Match(2, symbol), i, 2, pair, symbol, after);
            }
            // Tree matches with explicit distances.
            uint32_t previousLength = 2;
            for (uint32_t k = first_[i]; k < first_[i + 1]; k++) {
                const Match& m = matches_[k];
                if (m.Distance <= 4) { previousLength = std::max(previousLength, m.Length); continue; }
                uint8_t symbol = (uint8_t)DistanceCode(m.Distance).Symbol;
                RememberedDistances after = here.Remembered;
                UpdateRemembered(symbol, m.Distance, after);
                uint32_t top = std::min(m.Length, nice);
                for (uint32_t l = previousLength + 1; l <= top; l++) {
                    if (l == 3 && symbol >= 28) continue;
                    Relax(i + l, here.Cost + prices.Match(l, symbol), i, l, m.Distance, symbol, after);
                }
                if (m.Length > nice) {
                    Relax(i + m.Length, here.Cost + prices.Match(m.Length, symbol), i, m.Length,
                          m.Distance, symbol, after);
                }
                previousLength = std::max(previousLength, m.Length);
                RelaxMatchLiteralRepeat(i, size, prices, here.Cost, m.Length, m.Distance, symbol, after, p);
                if (m.Length > longest) longest = m.Length;
            }
            // A match of the nice length or more is taken as it stands: the positions it
            // covers are not parsed on their own.
            if (longest >= nice) {
                uint32_t target = i + longest;
                for (uint32_t j = i + 1; j < target; j++) nodes_[j].Cost = kInfinite;
                i = target - 1;
            }
        }
        // Walk back from the end and emit the chosen steps.
        std::vector<uint32_t> path;
        for (uint32_t at = size; at > 0; at = nodes_[at].From) path.push_back(at);
        out.Tokens.clear();
        out.Reach = 0;
        RememberedDistances remembered;
        for (size_t k = path.size(); k-- > 0;) {
            const Node& n = nodes_[path[k]];
            uint32_t from = n.From;
            if (n.Length == 0) {
                out.Tokens.push_back(LiteralToken(data_[start + from]));
            } else {
                EmitMatch(out, n.Length, n.Distance, n.Symbol, from, remembered);
                if (n.Repeat > 0) {
                    uint32_t literalAt = from + n.Length;
                    out.Tokens.push_back(LiteralToken(data_[start + literalAt]));
                    EmitMatch(out, n.Repeat, n.Distance, 0, literalAt + 1, remembered);
                }
            }
        }
    }

    void Relax(uint32_t to, uint32_t cost, uint32_t from, uint32_t length, uint32_t distance,
               uint8_t symbol, const RememberedDistances& after) {
        Node& n = nodes_[to];
        if (cost < n.Cost) {
            n.Cost = cost;
            n.From = from;
            n.Length = length;
            n.Distance = distance;
            n.Symbol = symbol;
            n.Repeat = 0;
            n.Remembered = after;
        }
    }

    const uint8_t* data_;
    size_t size_;
    OptimalSettings settings_;
    int maxTableSets_;
    TreeFinder tree_;
    PairFinder pairs_;
    std::vector<Match> matches_;
    std::vector<uint32_t> first_;
    std::vector<uint8_t> pairDistance_;
    std::vector<Node> nodes_;
    std::vector<Prices> prices_;
    std::vector<uint32_t> priceStart_;   // first position priced by each entry of prices_
};

}  // namespace

std::unique_ptr<BlockParser> MakeOptimalParser(const uint8_t* data, size_t size, int level,
                                               int maxTableSets) {
    return std::unique_ptr<BlockParser>(new OptimalParser(data, size, level, maxTableSets));
}
