#include "pack/code_length_writer.h"

#include <string.h>

#include <algorithm>

#include "pack/bit_output.h"
#include "pack/huffman_codes.h"

namespace {

// The symbols of the code-length alphabet. A code length is 0..16; a symbol below
// kLengthValues is the difference, modulo kLengthValues, between the length and its
// prediction (the length at the same place in the previous TableSet when that is not 0, else
// the length before it). Runs are written as digits of a bijective base-2 count, one symbol
// per digit: runs of zero lengths and runs of lengths equal to their prediction.
enum : uint32_t {
    kLengthValues = 17,
    kZeroRunDigitOne = 17,
    kZeroRunDigitTwo = 18,
    kRepeatRunDigitOne = 19,
    kRepeatRunDigitTwo = 20,
    kLengthSymbols = 21,
    kLongestLengthCode = 16,   // bits of the longest code of a code-length symbol
};

enum Kind : uint8_t { kSymbol = 0, kZeroRun = 1, kRepeatRun = 2, kStepKinds = 3 };
const uint32_t kInfinite = 0xFFFFFFFFu;

// Digits of count as a bijective base-2 number, least significant first: 1 or 2 each.
void RunDigits(uint32_t count, std::vector<uint8_t>& digits) {
    digits.clear();
    while (count > 0) {
        if (count & 1) { digits.push_back(1); count = (count - 1) / 2; }
        else { digits.push_back(2); count = (count - 2) / 2; }
    }
}

// Counts worth trying for a run of at most `longest`: short ones, the whole run, and counts
// whose digits are all ones or all twos (the cheapest of their digit count).
void RunCandidates(uint32_t longest, std::vector<uint32_t>& out) {
    out.clear();
    for (uint32_t c = 1; c <= longest && c <= 8; c++) out.push_back(c);
    for (uint32_t ones = 15; ones <= longest; ones = ones * 2 + 1) out.push_back(ones);
    for (uint32_t twos = 14; twos <= longest; twos = twos * 2 + 2) out.push_back(twos);
    if (longest > 8) out.push_back(longest);
}

// Costs of runs of every count up to a limit under one pair of digit costs, and for each
// count the cheapest count at least as large (a run may overshoot the end of the lengths).
struct RunCosts {
    std::vector<uint32_t> Cost;
    std::vector<uint32_t> Overshoot;

    RunCosts(uint32_t limit, uint32_t one, uint32_t two) : Cost(2 * limit + 3), Overshoot(2 * limit + 3) {
        Cost[0] = 0;
        for (uint32_t c = 1; c < Cost.size(); c++) {
            Cost[c] = (c & 1) ? one + Cost[(c - 1) / 2] : two + Cost[(c - 2) / 2];
        }
        uint32_t best = (uint32_t)Cost.size() - 1;
        for (uint32_t c = (uint32_t)Cost.size(); c-- > 1;) {
            if (Cost[c] <= Cost[best]) best = c;
            Overshoot[c] = best;
        }
    }
    uint32_t CountFor(uint32_t needed, bool reachesEnd) const {
        return reachesEnd ? Overshoot[needed] : needed;
    }
};

struct Step {
    uint32_t From;     // state index the step came from
    uint32_t Count;    // positions covered
    uint8_t Kind;
};

// What one parse keeps between the rounds of PlanCodeLengths: the run lengths, which depend
// on the lengths alone, and the storage of the search.
struct Workspace {
    std::vector<uint32_t> ZeroRun;     // zero lengths from each position on
    std::vector<uint32_t> RepeatRun;   // [p * kLengthValues + last]: predicted lengths from p on
    std::vector<uint32_t> Best;
    std::vector<Step> Back;
};

// The shortest symbol sequence for the lengths under given per-symbol costs: a shortest path
// over states (position, last length, kind of the previous step). Two runs of one kind may
// not follow one another, since the reader would add their counts together.
class LengthParser {
public:
    LengthParser(const uint8_t* lengths, uint32_t setSize, uint32_t total, Workspace& work)
        : lengths_(lengths), setSize_(setSize), total_(total), work_(work) {
        if (work_.ZeroRun.empty()) MeasureRuns();
    }

    std::vector<uint8_t> Parse(const uint32_t* cost) {
        const RunCosts zeroCosts(total_, cost[kZeroRunDigitOne], cost[kZeroRunDigitTwo]);
        const RunCosts repeatCosts(total_, cost[kRepeatRunDigitOne], cost[kRepeatRunDigitTwo]);
        FindShortestPaths(cost, zeroCosts, repeatCosts);
        return Emit(StepsOfBestPath(), zeroCosts, repeatCosts);
    }

private:
    static const uint32_t kStates = kLengthValues * kStepKinds;   // per position

    uint32_t Index(uint32_t p, uint32_t last, uint32_t kind) const {
        return (p * kLengthValues + last) * kStepKinds + kind;
    }

    uint32_t Predicted(uint32_t p, uint32_t last) const {
        return (p >= setSize_ && lengths_[p - setSize_] != 0) ? lengths_[p - setSize_] : last;
    }

    uint32_t SymbolFor(uint32_t p, uint32_t last) const {
        return (lengths_[p] + kLengthValues - Predicted(p, last)) % kLengthValues;
    }

    void MeasureRuns() {
        std::vector<uint32_t>& zeroRun = work_.ZeroRun;
        std::vector<uint32_t>& repeatRun = work_.RepeatRun;
        zeroRun.assign(total_ + 1, 0);
        for (uint32_t p = total_; p-- > 0;) zeroRun[p] = lengths_[p] == 0 ? zeroRun[p + 1] + 1 : 0;
        repeatRun.assign((size_t)(total_ + 1) * kLengthValues, 0);
        for (uint32_t p = total_; p-- > 0;) {
            for (uint32_t v = 0; v < kLengthValues; v++) {
                uint32_t pred = Predicted(p, v);
                repeatRun[(size_t)p * kLengthValues + v] =
                    lengths_[p] == pred ? repeatRun[(size_t)(p + 1) * kLengthValues + pred] + 1 : 0;
            }
        }
        work_.Back.resize((size_t)(total_ + 1) * kStates);
    }

    // Every digit of a zero run is a symbol read of its own, and each read takes the previous
    // TableSet's length as the new `last` when it is not 0.
    uint32_t LastAfterZeroRun(uint32_t p, uint32_t last, uint32_t count) const {
        uint32_t at = p, weight = 1;
        while (count > 0 && at < total_) {
            last = Predicted(at, last);
            uint32_t digit = (count & 1) ? 1 : 2;
            count = (count - digit) / 2;
            at += digit * weight;
            weight *= 2;
        }
        return last;
    }

    void Relax(uint32_t to, uint32_t value, uint32_t from, uint32_t count, uint8_t kind) {
        if (value < work_.Best[to]) {
            work_.Best[to] = value;
            work_.Back[to] = {from, count, kind};
        }
    }

    void FindShortestPaths(const uint32_t* cost, const RunCosts& zeroCosts, const RunCosts& repeatCosts) {
        work_.Best.assign((size_t)(total_ + 1) * kStates, kInfinite);
        work_.Best[Index(0, 0, kSymbol)] = 0;
        std::vector<uint32_t> zeroCandidates, repeatCandidates;
        for (uint32_t p = 0; p < total_; p++) {
            const uint32_t zeros = work_.ZeroRun[p];
            if (zeros > 0) RunCandidates(zeros, zeroCandidates);
            for (uint32_t v = 0; v < kLengthValues; v++) {
                for (uint32_t k = 0; k < kStepKinds; k++) {
                    const uint32_t here = Index(p, v, k);
                    const uint32_t c0 = work_.Best[here];
                    if (c0 == kInfinite) continue;
                    Relax(Index(p + 1, lengths_[p], kSymbol), c0 + cost[SymbolFor(p, v)], here, 1, kSymbol);
                    if (k != kZeroRun && zeros > 0) {
                        for (uint32_t c : zeroCandidates) {
                            uint32_t count = zeroCosts.CountFor(c, p + c == total_);
                            Relax(Index(p + c, LastAfterZeroRun(p, v, count), kZeroRun),
                                  c0 + zeroCosts.Cost[count], here, c, kZeroRun);
                        }
                    }
                    const uint32_t repeat = work_.RepeatRun[(size_t)p * kLengthValues + v];
                    if (k != kRepeatRun && repeat > 0) {
                        RunCandidates(repeat, repeatCandidates);
                        for (uint32_t c : repeatCandidates) {
                            uint32_t count = repeatCosts.CountFor(c, p + c == total_);
                            Relax(Index(p + c, lengths_[p + c - 1], kRepeatRun),
                                  c0 + repeatCosts.Cost[count], here, c, kRepeatRun);
                        }
                    }
                }
            }
        }
    }

    // The steps of the cheapest path to the end, in order.
    std::vector<Step> StepsOfBestPath() const {
        uint32_t end = Index(total_, 0, 0);
        for (uint32_t s = Index(total_, 0, 0); s < Index(total_ + 1, 0, 0); s++) {
            if (work_.Best[s] < work_.Best[end]) end = s;
        }
        std::vector<Step> steps;
        for (uint32_t s = end; s != Index(0, 0, kSymbol);) {
            steps.push_back(work_.Back[s]);
            s = work_.Back[s].From;
        }
        std::reverse(steps.begin(), steps.end());
        return steps;
    }

    std::vector<uint8_t> Emit(const std::vector<Step>& steps, const RunCosts& zeroCosts,
                              const RunCosts& repeatCosts) const {
        std::vector<uint8_t> symbols, digits;
        uint32_t p = 0, last = 0;
        for (const Step& step : steps) {
            if (step.Kind == kSymbol) {
                symbols.push_back((uint8_t)SymbolFor(p, last));
                last = lengths_[p];
            } else {
                const bool zero = step.Kind == kZeroRun;
                const RunCosts& costs = zero ? zeroCosts : repeatCosts;
                const uint32_t count = costs.CountFor(step.Count, p + step.Count == total_);
                const uint32_t digitOne = zero ? kZeroRunDigitOne : kRepeatRunDigitOne;
                RunDigits(count, digits);
                // Digits behind the end of the lengths would not be read: leave them out.
                uint32_t at = p, weight = 1;
                for (uint8_t d : digits) {
                    if (at >= total_) break;
                    symbols.push_back((uint8_t)(digitOne + d - 1));
                    at += d * weight;
                    weight *= 2;
                }
                last = zero ? LastAfterZeroRun(p, last, count) : lengths_[p + step.Count - 1];
            }
            p += step.Count;
        }
        return symbols;
    }

    const uint8_t* lengths_;
    const uint32_t setSize_, total_;
    Workspace& work_;
};

// Bits of the kLengthSymbols five-bit fields, whose zero lengths go as runs of the values 0 and 1.
uint32_t FieldBits(const uint8_t* codeLengths, std::vector<uint32_t>* fields) {
    uint32_t bits = 0;
    std::vector<uint8_t> digits;
    for (uint32_t i = 0; i < kLengthSymbols;) {
        if (codeLengths[i] != 0) {
            if (fields) fields->push_back(codeLengths[i] + 1u);
            bits += 5;
            i++;
            continue;
        }
        uint32_t run = 0;
        while (i + run < kLengthSymbols && codeLengths[i + run] == 0) run++;
        // A run that reaches the end may overshoot it; reading stops at the last field.
        uint32_t count = run;
        if (i + run == kLengthSymbols) {
            RunCosts costs(run, 1, 1);
            count = costs.Overshoot[run];
        }
        RunDigits(count, digits);
        uint32_t at = i, weight = 1;
        for (uint8_t d : digits) {
            if (at >= kLengthSymbols) break;
            if (fields) fields->push_back(d - 1u);
            bits += 5;
            at += d * weight;
            weight *= 2;
        }
        i += run;
    }
    return bits;
}

}  // namespace

CodeLengthPlan PlanCodeLengths(const uint8_t* lengths, uint32_t setSize, uint32_t count,
                               int rounds) {
    uint32_t total = setSize * count;
    // First guess: repeating the prediction and runs are cheap, other symbols dear.
    uint32_t cost[kLengthSymbols];
    for (uint32_t s = 0; s < kLengthSymbols; s++) cost[s] = 5;
    cost[0] = 2;
    for (uint32_t s = kZeroRunDigitOne; s <= kRepeatRunDigitTwo; s++) cost[s] = 4;

    CodeLengthPlan best;
    best.Bits = UINT64_MAX;
    Workspace work;
    for (int round = 0; round < rounds; round++) {
        CodeLengthPlan plan;
        plan.Symbols = LengthParser(lengths, setSize, total, work).Parse(cost);
        uint32_t frequencies[kLengthSymbols] = {};
        for (uint8_t s : plan.Symbols) frequencies[s]++;
        BuildLimitedLengths(frequencies, kLengthSymbols, kLongestLengthCode, plan.CodeLengths);
        uint64_t bits = FieldBits(plan.CodeLengths, nullptr);
        for (uint32_t s = 0; s < kLengthSymbols; s++) bits += (uint64_t)frequencies[s] * plan.CodeLengths[s];
        plan.Bits = bits;
        bool better = bits < best.Bits;
        if (better) best = plan;
        // Next round prices unused symbols as if they had a long code.
        for (uint32_t s = 0; s < kLengthSymbols; s++) cost[s] = plan.CodeLengths[s] ? plan.CodeLengths[s] : 8;
        if (!better && round > 0) break;
    }
    return best;
}

void WriteCodeLengths(BitOutput& bits, const CodeLengthPlan& plan) {
    std::vector<uint32_t> fields;
    FieldBits(plan.CodeLengths, &fields);
    for (uint32_t f : fields) bits.Put(f, 5);
    uint32_t codes[kLengthSymbols];
    AssignCanonicalCodes(plan.CodeLengths, kLengthSymbols, codes);
    for (uint8_t s : plan.Symbols) bits.Put(codes[s], plan.CodeLengths[s]);
}
