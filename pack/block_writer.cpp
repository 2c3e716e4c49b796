#include "pack/block_writer.h"

#include <math.h>
#include <string.h>

#include <algorithm>

#include "decode/codelengths.h"
#include "pack/bit_output.h"
#include "pack/block_header.h"
#include "pack/code_length_writer.h"
#include "pack/huffman_codes.h"

void CountSymbols(const Token* tokens, size_t count, int alphabets, SymbolCounts& counts) {
    memset(&counts, 0, sizeof counts);
    for (size_t i = 0; i < count; i++) {
        const Token& t = tokens[i];
        if (t.Length == 0) {
            counts.Main[t.Literal]++;
        } else {
            counts.Main[LengthCode(t.Length).Symbol]++;
            counts.Distance[DistanceAlphabetFor(t.Length, alphabets)][t.DistanceSymbol]++;
        }
    }
}

uint64_t ExtraBits(const Token* tokens, size_t count) {
    uint64_t bits = 0;
    for (size_t i = 0; i < count; i++) {
        if (tokens[i].Length == 0) continue;
        bits += LengthCode(tokens[i].Length).ExtraBits + DistanceExtraBits(tokens[i].DistanceSymbol);
    }
    return bits;
}

void BuildTableSet(const SymbolCounts& counts, int alphabets, uint8_t* set) {
    memset(set, 0, 372);
    BuildLimitedLengths(counts.Main, 288, kMaxCodeLength, set);
    for (int a = 0; a < alphabets; a++) {
        BuildLimitedLengths(counts.Distance[a], (int)kAlphabetSize[a], kMaxCodeLength,
                            set + kAlphabetOffset[a]);
    }
}

void DefaultTableSet(uint32_t endOffset, uint8_t* set) {
    // The decoder's own default lengths, so that the two can never disagree; the third
    // distance alphabet, which the default set leaves out, stays zero.
    memset(set, 0, 372);
    SetDefaultCodeLengths(set, endOffset);
}

namespace {

const uint64_t kNoFit = UINT64_MAX;

// Bits of the symbols counted, with the end-of-TableSet symbol when `closing`; kNoFit when
// a used symbol has no code.
uint64_t SymbolBits(const SymbolCounts& counts, const uint8_t* set, int alphabets, bool closing) {
    uint64_t bits = 0;
    for (int s = 0; s < 288; s++) {
        uint32_t f = counts.Main[s] + (closing && s == 256 ? 1 : 0);
        if (f == 0) continue;
        if (set[s] == 0) return kNoFit;
        bits += (uint64_t)f * set[s];
    }
    for (int a = 0; a < alphabets; a++) {
        for (uint32_t s = 0; s < kAlphabetSize[a]; s++) {
            uint32_t f = counts.Distance[a][s];
            if (f == 0) continue;
            uint8_t length = set[kAlphabetOffset[a] + s];
            if (length == 0) return kNoFit;
            bits += (uint64_t)f * length;
        }
    }
    return bits;
}

double Entropy(const uint32_t* f, int n) {
    double total = 0, sum = 0;
    for (int i = 0; i < n; i++) total += f[i];
    if (total == 0) return 0;
    for (int i = 0; i < n; i++) {
        if (f[i]) sum += f[i] * log2(total / f[i]);
    }
    return sum;
}

double EstimatedBits(const SymbolCounts& c, int alphabets) {
    double bits = Entropy(c.Main, 288);
    for (int a = 0; a < alphabets; a++) bits += Entropy(c.Distance[a], (int)kAlphabetSize[a]);
    return bits;
}

void AddCounts(SymbolCounts& into, const SymbolCounts& from) {
    for (int s = 0; s < 288; s++) into.Main[s] += from.Main[s];
    for (int a = 0; a < 3; a++) {
        for (int s = 0; s < 42; s++) into.Distance[a][s] += from.Distance[a][s];
    }
}

void SubtractCounts(SymbolCounts& from, const SymbolCounts& counts) {
    for (int s = 0; s < 288; s++) from.Main[s] -= counts.Main[s];
    for (int a = 0; a < 3; a++) {
        for (int s = 0; s < 42; s++) from.Distance[a][s] -= counts.Distance[a][s];
    }
}

// Decoding time of one more TableSet (reading its lengths and building its tables), counted
// in bytes of output the decoder writes in the same time: bench/table_cost.cpp measures 2,800
// to 7,500 on the corpus classes, 4,500 in the middle.
const double kTableBuildOutputBytes = 4500;
// How much a share of the decoding time counts against the same share of the size. At 1 a
// TableSet must shrink its block by the share of the block's decoding time that its building
// adds; that makes -9 archives 1 to 2.6 % larger on the corpus classes. A tenth keeps them
// within 0.3 % of the sizes they had when a TableSet only paid for its lengths.
const double kDecodeTimeWeight = 0.1;

// Bits that a TableSet's table building is worth in a block of `blockBits` bits that decodes
// to `decodedSize` bytes: the weighted cost in the block of the output bytes decoded in the
// same time.
double TableBuildBits(double blockBits, uint64_t decodedSize) {
    if (decodedSize == 0) return 0;
    return kDecodeTimeWeight * kTableBuildOutputBytes * blockBits / (double)decodedSize;
}

// Moves each boundary between runs of pieces to the piece where the two runs beside it cost
// least together; merging neighbours puts boundaries where the pieces first met, which need
// not be where the statistics change once the runs have grown.
void RefineBoundaries(const std::vector<SymbolCounts>& pieces, int alphabets,
                      std::vector<size_t>& first) {
    const size_t n = pieces.size();
    for (size_t j = 1; j < first.size(); j++) {
        size_t lo = first[j - 1], hi = j + 1 < first.size() ? first[j + 1] : n;
        SymbolCounts left, right;
        memset(&left, 0, sizeof left);
        memset(&right, 0, sizeof right);
        for (size_t i = lo; i < hi; i++) AddCounts(right, pieces[i]);
        double best = -1;
        for (size_t p = lo + 1; p < hi; p++) {
            AddCounts(left, pieces[p - 1]);
            SubtractCounts(right, pieces[p - 1]);
            double bits = EstimatedBits(left, alphabets) + EstimatedBits(right, alphabets);
            if (best < 0 || bits < best) {
                best = bits;
                first[j] = p;
            }
        }
    }
}

// Splits the tokens into at most maxSets runs where separate codes pay for their tables:
// starts from small pieces and merges the neighbours whose union costs least extra, as long
// as a merge saves more than a table costs (tableBits: its lengths and its building) or there
// are too many pieces; then places each boundary where the runs beside it cost least.
std::vector<size_t> ChooseSetStarts(const Token* tokens, size_t count, int alphabets,
                                    int maxSets, double tableBits) {
    std::vector<size_t> starts = {0};
    if (maxSets <= 1 || count < 2048) return starts;
    size_t piece = std::max<size_t>(128, count / 1024);
    struct Segment {
        size_t Start;
        SymbolCounts Counts;
        double Bits;
    };
    std::vector<Segment> segments;
    for (size_t at = 0; at < count; at += piece) {
        Segment s;
        s.Start = at;
        CountSymbols(tokens + at, std::min(piece, count - at), alphabets, s.Counts);
        s.Bits = EstimatedBits(s.Counts, alphabets);
        segments.push_back(s);
    }
    std::vector<SymbolCounts> pieces;
    for (const Segment& s : segments) pieces.push_back(s.Counts);
    // The pieces form a list; merging keeps the left piece and unlinks the right one.
    size_t n = segments.size();
    std::vector<size_t> next(n), previous(n);
    std::vector<double> gain(n, 0);   // extra bits of merging a piece with its right neighbour
    for (size_t i = 0; i < n; i++) {
        next[i] = i + 1;
        previous[i] = i - 1;   // wraps for the first piece, which has none
    }
    auto mergedBits = [&](size_t i) {
        SymbolCounts both = segments[i].Counts;
        AddCounts(both, segments[next[i]].Counts);
        return EstimatedBits(both, alphabets);
    };
    auto updateGain = [&](size_t i) {
        if (next[i] < n) gain[i] = mergedBits(i) - segments[i].Bits - segments[next[i]].Bits;
    };
    for (size_t i = 0; i + 1 < n; i++) updateGain(i);
    size_t alive = n;
    while (alive > 1) {
        size_t best = n;
        for (size_t i = 0; i < n; i = next[i]) {
            if (next[i] < n && (best == n || gain[i] < gain[best])) best = i;
        }
        if (gain[best] > tableBits && alive <= (size_t)maxSets) break;
        size_t right = next[best];
        AddCounts(segments[best].Counts, segments[right].Counts);
        segments[best].Bits = EstimatedBits(segments[best].Counts, alphabets);
        next[best] = next[right];
        if (next[right] < n) previous[next[right]] = best;
        alive--;
        updateGain(best);
        if (best > 0) updateGain(previous[best]);
    }
    std::vector<size_t> first;   // the first piece of each run
    for (size_t i = 0; i < n; i = next[i]) first.push_back(i);
    RefineBoundaries(pieces, alphabets, first);
    starts.clear();
    for (size_t i : first) starts.push_back(segments[i].Start);
    return starts;
}

struct Layout {
    int Alphabets = 2;
    std::vector<size_t> SetStarts;       // empty: the default TableSet
    std::vector<uint8_t> Sets;           // u TableSets back to back
    CodeLengthPlan Plan;
    uint64_t Bits = kNoFit;              // body bits behind the 50 header bits
};

// Small blocks gain little from refining their code-length code.
int CodeLengthRounds(const CompressedBlockInput& in) {
    if (in.DecodedSize < 4096) return 1;
    return in.Level <= 3 ? 1 : in.Level <= 6 ? 2 : 3;
}

Layout PlanSets(const CompressedBlockInput& in, int alphabets, std::vector<size_t> starts,
                uint64_t extra) {
    Layout layout;
    layout.Alphabets = alphabets;
    layout.SetStarts = starts;
    uint32_t size = TableSetSize(alphabets);
    size_t sets = starts.size();
    layout.Sets.assign(sets * size, 0);
    uint64_t bits = 8 + extra;
    for (size_t k = 0; k < sets; k++) {
        size_t begin = starts[k];
        size_t end = k + 1 < sets ? starts[k + 1] : in.TokenCount;
        SymbolCounts counts;
        CountSymbols(in.Tokens + begin, end - begin, alphabets, counts);
        bool closing = k + 1 < sets;
        if (closing) counts.Main[kEndOfTableSet]++;
        uint8_t set[372];
        BuildTableSet(counts, alphabets, set);
        if (closing) counts.Main[kEndOfTableSet]--;
        memcpy(&layout.Sets[k * size], set, size);
        bits += SymbolBits(counts, set, alphabets, closing);
    }
    layout.Plan = PlanCodeLengths(layout.Sets.data(), size, (uint32_t)sets, CodeLengthRounds(in));
    layout.Bits = bits + layout.Plan.Bits;
    return layout;
}

Layout ChooseLayout(const CompressedBlockInput& in) {
    uint64_t extra = ExtraBits(in.Tokens, in.TokenCount);
    bool threeFit = true;
    for (size_t i = 0; i < in.TokenCount; i++) {
        if (in.Tokens[i].Length == 3 && in.Tokens[i].DistanceSymbol >= 28) threeFit = false;
    }
    std::vector<int> alphabetChoices;
    if (in.ForceAlphabets == 2 || in.ForceAlphabets == 0) alphabetChoices.push_back(2);
    if ((in.ForceAlphabets == 3 || in.ForceAlphabets == 0) && threeFit) alphabetChoices.push_back(3);
    if (alphabetChoices.empty()) alphabetChoices.push_back(2);
    if (alphabetChoices.size() == 2 && (in.Level <= 6 || in.TokenCount < 4096)) {
        // Fast levels: decide by the symbol bits of one code, the third alphabet's lengths
        // costing about three bits each.
        uint64_t bits[2];
        for (int k = 0; k < 2; k++) {
            SymbolCounts counts;
            CountSymbols(in.Tokens, in.TokenCount, 2 + k, counts);
            uint8_t set[372];
            BuildTableSet(counts, 2 + k, set);
            bits[k] = SymbolBits(counts, set, 2 + k, false) + (k ? 28 * 3 : 0);
        }
        alphabetChoices = {bits[1] < bits[0] ? 3 : 2};
    }

    Layout best;
    if (in.AllowDefaultTables && in.ForceAlphabets != 3) {
        uint8_t set[372];
        DefaultTableSet(in.EndOffset, set);
        SymbolCounts counts;
        CountSymbols(in.Tokens, in.TokenCount, 2, counts);
        uint64_t bits = SymbolBits(counts, set, 2, false);
        if (bits != kNoFit) {
            best.Alphabets = 2;
            best.Bits = 8 + extra + bits;
        }
    }
    int maxSets = std::min(std::max(in.MaxTableSets, 1), 63);
    // Layouts are compared by their bits plus the table building of every TableSet after
    // the first, priced once for the block so that all of them pay the same.
    double buildBits = -1;
    auto cost = [&](const Layout& layout) {
        size_t sets = layout.SetStarts.size();
        return (double)layout.Bits + (sets > 1 ? buildBits * (double)(sets - 1) : 0.0);
    };
    for (int alphabets : alphabetChoices) {
        Layout single = PlanSets(in, alphabets, {0}, extra);
        if (buildBits < 0) buildBits = TableBuildBits((double)single.Bits, in.DecodedSize);
        if (cost(single) < cost(best)) best = single;
        if (maxSets > 1) {
            double tableBits = std::max(200.0, (double)single.Plan.Bits) + buildBits;
            std::vector<size_t> starts =
                ChooseSetStarts(in.Tokens, in.TokenCount, alphabets, maxSets, tableBits);
            if (starts.size() > 1) {
                Layout split = PlanSets(in, alphabets, starts, extra);
                if (cost(split) < cost(best)) best = split;
            }
        }
    }
    return best;
}

void WriteSymbols(BitOutput& bits, const Token* tokens, size_t count, const uint8_t* set,
                  int alphabets, bool closing) {
    uint32_t mainCodes[288];
    uint32_t distanceCodes[3][42];
    AssignCanonicalCodes(set, 288, mainCodes);
    for (int a = 0; a < alphabets; a++) {
        AssignCanonicalCodes(set + kAlphabetOffset[a], (int)kAlphabetSize[a], distanceCodes[a]);
    }
    for (size_t i = 0; i < count; i++) {
        const Token& t = tokens[i];
        if (t.Length == 0) {
            bits.Put(mainCodes[t.Literal], set[t.Literal]);
            continue;
        }
        SymbolCode length = LengthCode(t.Length);
        bits.Put(mainCodes[length.Symbol], set[length.Symbol]);
        bits.Put(length.Extra, length.ExtraBits);
        int a = DistanceAlphabetFor(t.Length, alphabets);
        uint8_t symbol = t.DistanceSymbol;
        bits.Put(distanceCodes[a][symbol], set[kAlphabetOffset[a] + symbol]);
        if (symbol >= 6) bits.Put(t.Distance - DistanceBase(symbol), (int)DistanceExtraBits(symbol));
    }
    if (closing) bits.Put(mainCodes[kEndOfTableSet], set[kEndOfTableSet]);
}

}  // namespace

std::vector<size_t> EstimateTableSetStarts(const Token* tokens, size_t count, int alphabets,
                                           int maxSets) {
    // A TableSet's lengths cost a few hundred bits when sent with the prediction; its table
    // building is priced as the block writer prices it.
    SymbolCounts counts;
    CountSymbols(tokens, count, alphabets, counts);
    double bits = EstimatedBits(counts, alphabets) + (double)ExtraBits(tokens, count);
    uint64_t decoded = 0;
    for (size_t i = 0; i < count; i++) decoded += tokens[i].Length ? tokens[i].Length : 1;
    return ChooseSetStarts(tokens, count, alphabets, std::min(std::max(maxSets, 1), 63),
                           400.0 + TableBuildBits(bits, decoded));
}

size_t WriteCompressedBlock(std::vector<uint8_t>& out, const CompressedBlockInput& in) {
    Layout layout = ChooseLayout(in);
    size_t start = out.size();
    BitOutput bits(out);
    PutBlockHeader(bits, kBlockCompressed, in.Last, in.DecodedSize);
    bits.Put(in.WindowBits, 5);
    size_t sets = layout.SetStarts.size();
    bits.Put((uint32_t)layout.Alphabets, 2);
    bits.Put((uint32_t)sets, 6);
    if (sets == 0) {
        uint8_t set[372];
        DefaultTableSet(in.EndOffset, set);
        WriteSymbols(bits, in.Tokens, in.TokenCount, set, 2, false);
    } else {
        WriteCodeLengths(bits, layout.Plan);
        uint32_t size = TableSetSize(layout.Alphabets);
        for (size_t k = 0; k < sets; k++) {
            size_t begin = layout.SetStarts[k];
            size_t end = k + 1 < sets ? layout.SetStarts[k + 1] : in.TokenCount;
            WriteSymbols(bits, in.Tokens + begin, end - begin, &layout.Sets[k * size],
                         layout.Alphabets, k + 1 < sets);
        }
    }
    bits.AlignToByte();
    size_t written = out.size() - start;
    PatchBlockSize(out, start, (uint32_t)std::min<size_t>(written, 0xFFFFF));
    return written;
}
