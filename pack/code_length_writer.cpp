#include "pack/code_length_writer.h"

#include <string.h>

#include <algorithm>

#include "pack/bit_output.h"
#include "pack/huffman_codes.h"

namespace {

enum Kind : uint8_t { kSymbol = 0, kZeroRun = 1, kRepeatRun = 2 };
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

// Shortest symbol sequence for the lengths under the given per-symbol costs. States are
// (position, last value, kind of the previous step); two runs of one kind may not follow one
// another, since the reader would add their counts together.
struct Workspace {
    std::vector<uint32_t> ZeroRun;
    std::vector<uint32_t> RepeatRun;
    std::vector<uint32_t> Best;
    std::vector<Step> Back;
};

std::vector<uint8_t> ParseLengths(const uint8_t* lengths, uint32_t setSize, uint32_t total,
                                  const uint32_t* cost, Workspace& work) {
    const uint32_t kStates = 17 * 3;
    auto index = [&](uint32_t p, uint32_t last, uint32_t kind) { return (p * 17 + last) * 3 + kind; };
    auto predicted = [&](uint32_t p, uint32_t last) {
        return (p >= setSize && lengths[p - setSize] != 0) ? lengths[p - setSize] : last;
    };

    std::vector<uint32_t>& zeroRun = work.ZeroRun;
    std::vector<uint32_t>& repeatRun = work.RepeatRun;
    if (zeroRun.empty()) {
        zeroRun.assign(total + 1, 0);
        for (uint32_t p = total; p-- > 0;) zeroRun[p] = lengths[p] == 0 ? zeroRun[p + 1] + 1 : 0;
        // repeatRun[p][v]: positions a repeat run starting at p covers when `last` is v.
        repeatRun.assign((size_t)(total + 1) * 17, 0);
        for (uint32_t p = total; p-- > 0;) {
            for (uint32_t v = 0; v < 17; v++) {
                uint32_t pred = predicted(p, v);
                repeatRun[(size_t)p * 17 + v] =
                    lengths[p] == pred ? repeatRun[(size_t)(p + 1) * 17 + pred] + 1 : 0;
            }
        }
        work.Back.resize((size_t)(total + 1) * kStates);
    }

    RunCosts zeroCosts(total, cost[17], cost[18]);
    RunCosts repeatCosts(total, cost[19], cost[20]);
    // Every digit of a zero run is a symbol read of its own, and each read takes the
    // previous TableSet's length as the new `last` when it is not 0.
    std::vector<uint8_t> digits;
    auto lastAfterZeroRun = [&](uint32_t p, uint32_t last, uint32_t count) {
        uint32_t at = p, weight = 1;
        while (count > 0 && at < total) {
            last = predicted(at, last);
            uint32_t digit = (count & 1) ? 1 : 2;
            count = (count - digit) / 2;
            at += digit * weight;
            weight *= 2;
        }
        return last;
    };
    std::vector<uint32_t>& best = work.Best;
    best.assign((size_t)(total + 1) * kStates, kInfinite);
    std::vector<Step>& back = work.Back;
    best[index(0, 0, kSymbol)] = 0;
    std::vector<uint32_t> candidates;
    auto relax = [&](uint32_t to, uint32_t value, uint32_t from, uint32_t count, uint8_t kind) {
        if (value < best[to]) { best[to] = value; back[to] = {from, count, kind}; }
    };

    std::vector<uint32_t> zeroCandidates;
    for (uint32_t p = 0; p < total; p++) {
        if (zeroRun[p] > 0) RunCandidates(zeroRun[p], zeroCandidates);
        for (uint32_t v = 0; v < 17; v++) {
            for (uint32_t k = 0; k < 3; k++) {
                uint32_t here = index(p, v, k);
                uint32_t c0 = best[here];
                if (c0 == kInfinite) continue;
                uint32_t pred = predicted(p, v);
                uint32_t symbol = (lengths[p] + 17 - pred) % 17;
                relax(index(p + 1, lengths[p], kSymbol), c0 + cost[symbol], here, 1, kSymbol);
                if (k != kZeroRun && zeroRun[p] > 0) {
                    for (uint32_t c : zeroCandidates) {
                        uint32_t count = zeroCosts.CountFor(c, p + c == total);
                        relax(index(p + c, lastAfterZeroRun(p, v, count), kZeroRun),
                              c0 + zeroCosts.Cost[count], here, c, kZeroRun);
                    }
                }
                uint32_t repeat = repeatRun[(size_t)p * 17 + v];
                if (k != kRepeatRun && repeat > 0) {
                    RunCandidates(repeat, candidates);
                    for (uint32_t c : candidates) {
                        uint32_t count = repeatCosts.CountFor(c, p + c == total);
                        relax(index(p + c, lengths[p + c - 1], kRepeatRun),
                              c0 + repeatCosts.Cost[count], here, c, kRepeatRun);
                    }
                }
            }
        }
    }

    uint32_t end = index(total, 0, 0);
    for (uint32_t s = index(total, 0, 0); s < index(total + 1, 0, 0); s++) {
        if (best[s] < best[end]) end = s;
    }
    // Walk back, then emit the steps in order.
    std::vector<Step> steps;
    for (uint32_t s = end; s != index(0, 0, kSymbol);) {
        steps.push_back(back[s]);
        s = back[s].From;
    }
    std::reverse(steps.begin(), steps.end());
    std::vector<uint8_t> symbols;
    uint32_t p = 0, last = 0;
    for (const Step& step : steps) {
        uint32_t pred = predicted(p, last);
        if (step.Kind == kSymbol) {
            symbols.push_back((uint8_t)((lengths[p] + 17 - pred) % 17));
            last = lengths[p];
        } else {
            bool zero = step.Kind == kZeroRun;
            const RunCosts& costs = zero ? zeroCosts : repeatCosts;
            uint32_t count = costs.CountFor(step.Count, p + step.Count == total);
            RunDigits(count, digits);
            // Digits behind the end of the lengths would not be read: leave them out.
            uint32_t at = p, weight = 1;
            for (uint8_t d : digits) {
                if (at >= total) break;
                symbols.push_back((uint8_t)((zero ? 16 : 18) + d));
                at += d * weight;
                weight *= 2;
            }
            last = zero ? lastAfterZeroRun(p, last, count) : lengths[p + step.Count - 1];
        }
        p += step.Count;
    }
    return symbols;
}

// Bits of the 21 five-bit fields, whose zero lengths go as runs of the values 0 and 1.
uint32_t FieldBits(const uint8_t* codeLengths, std::vector<uint32_t>* fields) {
    uint32_t bits = 0;
    std::vector<uint8_t> digits;
    for (uint32_t i = 0; i < 21;) {
        if (codeLengths[i] != 0) {
            if (fields) fields->push_back(codeLengths[i] + 1u);
            bits += 5;
            i++;
            continue;
        }
        uint32_t run = 0;
        while (i + run < 21 && codeLengths[i + run] == 0) run++;
        // A run that reaches the end may overshoot it; reading stops at the 21st field.
        uint32_t count = run;
        if (i + run == 21) {
            RunCosts costs(run, 1, 1);
            count = costs.Overshoot[run];
        }
        RunDigits(count, digits);
        uint32_t at = i, weight = 1;
        for (uint8_t d : digits) {
            if (at >= 21) break;
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
    uint32_t cost[21];
    for (uint32_t s = 0; s < 21; s++) cost[s] = 5;
    cost[0] = 2; cost[17] = 4; cost[18] = 4; cost[19] = 4; cost[20] = 4;

    CodeLengthPlan best;
    best.Bits = UINT64_MAX;
    Workspace work;
    for (int round = 0; round < rounds; round++) {
        CodeLengthPlan plan;
        plan.Symbols = ParseLengths(lengths, setSize, total, cost, work);
        uint32_t frequencies[21] = {};
        for (uint8_t s : plan.Symbols) frequencies[s]++;
        BuildLimitedLengths(frequencies, 21, 16, plan.CodeLengths);
        uint64_t bits = FieldBits(plan.CodeLengths, nullptr);
        for (uint32_t s = 0; s < 21; s++) bits += (uint64_t)frequencies[s] * plan.CodeLengths[s];
        plan.Bits = bits;
        bool better = bits < best.Bits;
        if (better) best = plan;
        // Next round prices unused symbols as if they had a long code.
        for (uint32_t s = 0; s < 21; s++) cost[s] = plan.CodeLengths[s] ? plan.CodeLengths[s] : 8;
        if (!better && round > 0) break;
    }
    return best;
}

void WriteCodeLengths(BitOutput& bits, const CodeLengthPlan& plan) {
    std::vector<uint32_t> fields;
    FieldBits(plan.CodeLengths, &fields);
    for (uint32_t f : fields) bits.Put(f, 5);
    uint32_t codes[21];
    AssignCanonicalCodes(plan.CodeLengths, 21, codes);
    for (uint8_t s : plan.Symbols) bits.Put(codes[s], plan.CodeLengths[s]);
}
