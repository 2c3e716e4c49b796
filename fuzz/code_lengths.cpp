// Arbitrary bytes as the code lengths of a block's TableSets, and the tables built from the
// lengths that were read. The first byte gives the number of TableSets and their size; the
// rest is the input, read from the start of a block that the file holds whole.
#include <stdlib.h>

#include <vector>

#include "decode/codelengths.h"
#include "decode/huffman.h"
#include "decode/input.h"
#include "fuzz/support/fuzz_archive.h"
#include "platform/errors.h"
#include "profile/state.h"

namespace {

// Builds the tables of one alphabet into exactly sized storage, and again in one step by code
// length, which must give the same result, entries and nodes.
void BuildAlphabet(const uint8_t* lengths, int k, int n) {
    std::vector<uint32_t> codes(n);
    std::vector<int32_t> primary(1 << k), oneStep(1 << k);
    std::vector<DecodeNode> tree(n, DecodeNode{{0, 0}}), oneStepTree(n, DecodeNode{{0, 0}});
    BuildCanonicalCodes(codes.data(), lengths, n);
    int32_t r = BuildDecodeTable(primary.data(), tree.data(), codes.data(), lengths, k, n);
    FuzzCheck(r == 0 || r == ErrDamaged, "table build result");
    for (int32_t e : primary)
        FuzzCheck(e == EmptyEntry || (e < 0 && -e < n) || (e >= 0 && e < n), "primary entry");
    std::vector<uint32_t> scratch(n);
    int32_t oneStepResult =
        BuildDecodeTableFromLengths(oneStep.data(), oneStepTree.data(), scratch.data(), lengths, k, n);
    FuzzCheck(r == oneStepResult && primary == oneStep, "both builds give the same table");
    for (int i = 0; i < n; ++i)
        FuzzCheck(tree[i].Slot[0] == oneStepTree[i].Slot[0] && tree[i].Slot[1] == oneStepTree[i].Slot[1],
                  "both builds give the same nodes");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    uint32_t count = data[0] & 63;
    uint32_t setSize = (data[0] & 64) ? kTableSetSizeLong : kTableSetSizeShort;
    uint32_t body = (uint32_t)(size - 1);
    if (6 + body > 0xFFFFF) return 0;
    // A stored block header whose BlockSize covers the body, so RefillInput reads it all.
    std::vector<uint8_t> file(6 + body);
    uint64_t head = (uint64_t)(6 + body) << 25;
    for (int i = 0; i < 6; ++i) file[i] = (uint8_t)(head >> (8 * i));
    for (uint32_t i = 0; i < body; ++i) file[6 + i] = data[1 + i];
    FuzzArchive(file.data(), file.size());
    if (RefillInput(true) != 0) return 0;
    State.InputPointer = State.InputBuffer + 6;

    uint32_t bytes = count != 0 ? count * setSize : kTableSetSizeShort;
    uint8_t* sets = (uint8_t*)malloc(bytes);
    int32_t r = ReadCodeLengths(sets, setSize, count, (data[0] & 128) ? 100000 : 8192);
    FuzzCheck(r == 0 || r == ErrDamaged || r == ErrInputExhausted, "code-length result");
    if (r == 0) {
        for (uint32_t p = 0; p < bytes; ++p) FuzzCheck(sets[p] <= 16, "lengths stay in 0..16");
        const uint8_t* last = sets + (count != 0 ? (count - 1) * setSize : 0);
        BuildAlphabet(last, 9, 288);
        BuildAlphabet(last + 288, 7, 42);
        BuildAlphabet(last + 330, 7, 14);
        if (count != 0 && setSize == kTableSetSizeLong) BuildAlphabet(last + 344, 7, 28);
    }
    free(sets);
    return 0;
}
