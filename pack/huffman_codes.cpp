#include "pack/huffman_codes.h"

#include <algorithm>
#include <vector>

// Package-merge: the list of each level merges the leaves with the pairs ("packages") of the
// level below; the first 2(n-1) items of the top level decide the lengths. The leaves taken
// at each level are always a prefix of the sorted leaves, so it is enough to remember, per
// list item, whether it is a leaf, and to walk the levels back counting leaves.
void BuildLimitedLengths(const uint32_t* frequencies, int n, int maxLength, uint8_t* lengths) {
    std::vector<int> used;
    for (int s = 0; s < n; s++) {
        lengths[s] = 0;
        if (frequencies[s] > 0) used.push_back(s);
    }
    int count = (int)used.size();
    if (count == 0) return;
    if (count <= 2) {
        for (int s : used) lengths[s] = 1;
        return;
    }
    std::stable_sort(used.begin(), used.end(),
                     [&](int a, int b) { return frequencies[a] < frequencies[b]; });

    std::vector<std::vector<uint64_t>> weights(maxLength);
    std::vector<std::vector<uint8_t>> isLeaf(maxLength);
    // Deepest level: the leaves alone.
    for (int s : used) {
        weights[maxLength - 1].push_back(frequencies[s]);
        isLeaf[maxLength - 1].push_back(1);
    }
    for (int level = maxLength - 2; level >= 0; level--) {
        const std::vector<uint64_t>& below = weights[level + 1];
        size_t packages = below.size() / 2;
        size_t leaf = 0, package = 0;
        std::vector<uint64_t>& w = weights[level];
        std::vector<uint8_t>& kind = isLeaf[level];
        while (leaf < (size_t)count || package < packages) {
            uint64_t packageWeight =
                package < packages ? below[2 * package] + below[2 * package + 1] : UINT64_MAX;
            if (leaf < (size_t)count && frequencies[used[leaf]] <= packageWeight) {
                w.push_back(frequencies[used[leaf]]);
                kind.push_back(1);
                leaf++;
            } else {
                w.push_back(packageWeight);
                kind.push_back(0);
                package++;
            }
        }
    }
    size_t take = 2 * (size_t)(count - 1);
    for (int level = 0; level < maxLength && take > 0; level++) {
        size_t leaves = 0;
        for (size_t i = 0; i < take && i < isLeaf[level].size(); i++) leaves += isLeaf[level][i];
        for (size_t i = 0; i < leaves; i++) lengths[used[i]]++;
        take = 2 * (take - leaves);
    }
}

void AssignCanonicalCodes(const uint8_t* lengths, int n, uint32_t* codes) {
    uint32_t count[17] = {};
    for (int s = 0; s < n; s++) count[lengths[s]]++;
    count[0] = 0;
    uint32_t next[17] = {};
    uint32_t code = 0;
    for (int length = 1; length <= 16; length++) {
        code = (code + count[length - 1]) << 1;
        next[length] = code;
    }
    for (int s = 0; s < n; s++) {
        int length = lengths[s];
        codes[s] = 0;
        if (length == 0) continue;
        uint32_t c = next[length]++;
        uint32_t reversed = 0;
        for (int i = 0; i < length; i++) reversed |= ((c >> i) & 1) << (length - 1 - i);
        codes[s] = reversed;
    }
}
