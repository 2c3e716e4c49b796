// Canonical prefix codes from code lengths, and the two-level decode tables read by the
// code-length reader and the LZ block decoder. Codes are stored bit-reversed because the
// stream is read from the least significant bit up. A table is a primary array indexed by
// the next k stream bits plus a tree of nodes for the codes longer than k bits.
#include "decode/huffman.h"

#include "platform/errors.h"

namespace {
const int kMaxCodeLength = 16;

// The low length bits of c in reverse order: the whole word reversed by swapping ever smaller
// halves, so that the low bits end up on top and are shifted down.
inline uint32_t ReverseBits(uint32_t c, int length) {
    c = (c >> 16) | (c << 16);
    c = ((c >> 8) & 0x00FF00FFu) | ((c & 0x00FF00FFu) << 8);
    c = ((c >> 4) & 0x0F0F0F0Fu) | ((c & 0x0F0F0F0Fu) << 4);
    c = ((c >> 2) & 0x33333333u) | ((c & 0x33333333u) << 2);
    c = ((c >> 1) & 0x55555555u) | ((c & 0x55555555u) << 1);
    return c >> (32 - length);
}
}

void BuildCanonicalCodes(uint32_t* codes, const uint8_t* lengths, int n) {
    uint32_t count[kMaxCodeLength + 1] = {0};
    for (int s = n - 1; s >= 0; --s) {
        if (lengths[s] > kMaxCodeLength) return;
        ++count[lengths[s]];
    }
    count[0] = 0;
    uint32_t next[kMaxCodeLength + 1];
    uint32_t code = 0;
    for (int length = 1; length <= kMaxCodeLength; ++length) {
        code = (code + count[length - 1]) << 1;
        next[length] = code;
    }
    for (int s = 0; s < n; ++s) {
        int length = lengths[s];
        if (length == 0) continue;
        uint32_t c = next[length]++;
        if (sizeof(void*) >= 8) {   // the stub keeps the shorter loop
            codes[s] = ReverseBits(c, length);
            continue;
        }
        uint32_t reversed = 0;
        for (int i = 0; i < length; ++i) {
            reversed = (reversed << 1) | (c & 1);
            c >>= 1;
        }
        codes[s] = reversed;
    }
}

namespace {

// Places the code of symbol s, longer than k bits, in the tree below its primary entry.
// Over-subscribed lengths can give a long code whose first k bits select a primary entry
// that already holds a shorter code's symbol. The table has no place for it, so the build
// stops there with ErrDamaged, as when the tree's nodes run out. Inside the tree such
// codes simply take over the slots they meet; every node is taken only after the capacity
// test, so nothing outside the primary table and the n nodes is ever written. A node is
// cleared when it is taken: only nodes taken by this build are reachable from the table.
inline int32_t PlaceLongCode(int32_t* primary, DecodeNode* tree, uint32_t c, int length, int s, int k, int n,
                             int& nextNode) {
    int32_t* entry = &primary[c & ((1u << k) - 1)];
    uint32_t rest = c >> k;
    int levels = length - k - 1;
    int32_t* slot;
    if (*entry == EmptyEntry) {
        if (nextNode == n) return ErrDamaged;
        *entry = -nextNode;
        tree[nextNode].Slot[0] = tree[nextNode].Slot[1] = EmptyEntry;
        slot = &tree[nextNode].Slot[rest & 1];
        rest >>= 1;
        ++nextNode;
    } else if (*entry < 0) {
        int32_t node = -*entry;
        for (;;) {
            slot = &tree[node].Slot[rest & 1];
            rest >>= 1;
            if (*slot < 0) break;
            node = *slot;
            --levels;
        }
    } else {
        return ErrDamaged;   // the primary entry holds a shorter code
    }
    for (; levels != 0; --levels) {   // negative only for over-subscribed lengths
        if (nextNode == n) return ErrDamaged;
        *slot = nextNode;
        tree[nextNode].Slot[0] = tree[nextNode].Slot[1] = EmptyEntry;
        slot = &tree[nextNode].Slot[rest & 1];
        rest >>= 1;
        ++nextNode;
    }
    *slot = -s;
    return 0;
}

// The largest alphabet the one-step build sorts; larger ones take the two-step build.
const int kMaxOrderedSymbols = 288;

}  // namespace

int32_t BuildDecodeTable(int32_t* primary, DecodeNode* tree, const uint32_t* codes, const uint8_t* lengths,
                         int k, int n) {
    int size = 1 << k;
    for (int i = 0; i < size; ++i) primary[i] = EmptyEntry;
    int nextNode = 1;
    for (int s = 0; s < n; ++s) {
        int length = lengths[s];
        if (length == 0) continue;
        uint32_t c = codes[s];
        if (length <= k) {
            for (uint32_t i = c & ((1u << length) - 1); i < (uint32_t)size; i += 1u << length)
                primary[i] = s;
            continue;
        }
        int32_t r = PlaceLongCode(primary, tree, c, length, s, k, n, nextNode);
        if (r < 0) return r;
    }
    return 0;
}

// The same table as BuildCanonicalCodes and BuildDecodeTable, filled one code length at a
// time: the part filled for codes of up to l - 1 bits is doubled (a code of fewer bits takes
// every index that ends in its bits), then the l-bit codes are written once each, their
// bit-reversed codes counted up in place. That gives the symbol-order table only when no code
// is a prefix of another, which canonical codes guarantee while the lengths do not
// over-subscribe the code space; other length sets, and trees that run out of nodes (the
// symbol-order build stops there, before later short codes), take the two-step build. Long
// codes go into the tree in symbol order, as there, so the nodes are numbered alike. codes is
// scratch: only the long codes' entries are written here.
int32_t BuildDecodeTableFromLengths(int32_t* primary, DecodeNode* tree, uint32_t* codes,
                                    const uint8_t* lengths, int k, int n) {
    uint32_t count[kMaxCodeLength + 1] = {0};
    bool ordered = n <= kMaxOrderedSymbols;
    for (int s = 0; s < n && ordered; ++s) {
        if (lengths[s] > kMaxCodeLength) ordered = false;
        else ++count[lengths[s]];
    }
    uint32_t space = 0;   // code space taken, in units of 2^-kMaxCodeLength
    for (int l = 1; l <= kMaxCodeLength; ++l) space += count[l] << (kMaxCodeLength - l);
    if (!ordered || space > 1u << kMaxCodeLength) {
        BuildCanonicalCodes(codes, lengths, n);
        return BuildDecodeTable(primary, tree, codes, lengths, k, n);
    }

    // The symbols of codes up to k bits, by length and within a length by symbol.
    uint16_t order[kMaxOrderedSymbols];
    uint32_t start[kMaxCodeLength + 2];
    uint32_t next[kMaxCodeLength + 2];
    start[1] = next[1] = 0;
    for (int l = 1; l <= k; ++l) start[l + 1] = next[l + 1] = start[l] + count[l];
    // Then the symbols of longer codes, in symbol order, from the end of order down.
    uint32_t longStart = kMaxOrderedSymbols;
    for (int s = 0; s < n; ++s) {
        int length = lengths[s];
        if (length > k) order[--longStart] = (uint16_t)s;
        else if (length != 0) order[next[length]++] = (uint16_t)s;
    }

    // The first canonical code of each length, most significant bit first.
    uint32_t first[kMaxCodeLength + 1];
    uint32_t code = 0;
    count[0] = 0;
    for (int l = 1; l <= kMaxCodeLength; ++l) {
        code = (code + count[l - 1]) << 1;
        first[l] = code;
    }

    primary[0] = EmptyEntry;
    uint32_t filled = 1;
    for (int l = 1; l <= k; ++l) {
        __builtin_memcpy(primary + filled, primary, filled * sizeof *primary);
        filled <<= 1;
        if (start[l] == start[l + 1]) continue;
        uint32_t reversed = ReverseBits(first[l], l);
        for (uint32_t i = start[l]; i < start[l + 1]; ++i) {
            primary[reversed] = order[i];
            // The next code, counted up from its most significant bit, which is bit 0 here.
            uint32_t bit = 1u << (l - 1);
            while (reversed & bit) {
                reversed ^= bit;
                bit >>= 1;
            }
            reversed |= bit;
        }
    }
    int nextNode = 1;
    for (uint32_t i = kMaxOrderedSymbols; i != longStart;) {
        int s = order[--i];
        int length = lengths[s];
        uint32_t reversed = ReverseBits(first[length]++, length);
        codes[s] = reversed;
        if (PlaceLongCode(primary, tree, reversed, length, s, k, n, nextNode) < 0) {
            BuildCanonicalCodes(codes, lengths, n);
            return BuildDecodeTable(primary, tree, codes, lengths, k, n);
        }
    }
    return 0;
}
