#include "pack/block_header.h"

#include <string.h>

#include "pack/bit_output.h"

void PutBlockHeader(BitOutput& bits, uint32_t type, bool last, uint32_t decodedSize) {
    bits.Put(type, 4);
    bits.Put(last ? 1 : 0, 1);
    bits.Put(decodedSize, 20);
    bits.Put(0, 20);
}

void PatchBlockSize(std::vector<uint8_t>& out, size_t blockStart, uint32_t blockSize) {
    // BlockSize occupies bits 25-44: bit 1 of byte 3 up to bit 4 of byte 5.
    uint64_t word = 0;
    for (int i = 0; i < 3; i++) word |= (uint64_t)out[blockStart + 3 + i] << (8 * i);
    word &= ~((uint64_t)0xFFFFF << 1);
    word |= (uint64_t)(blockSize & 0xFFFFF) << 1;
    for (int i = 0; i < 3; i++) out[blockStart + 3 + i] = (uint8_t)(word >> (8 * i));
}

void WriteStoredBlock(std::vector<uint8_t>& out, const uint8_t* data, uint32_t size, bool last,
                      uint32_t dataOffset, uint32_t minSize) {
    size_t start = out.size();
    {
        BitOutput bits(out);
        PutBlockHeader(bits, kBlockStored, last, size);
        bits.AlignToByte();
    }
    out.resize(start + dataOffset, 0);
    if (size > 0) {
        out.resize(start + dataOffset + size);
        memcpy(out.data() + start + dataOffset, data, size);
    }
    if (out.size() - start < minSize) out.resize(start + minSize, 0);
    PatchBlockSize(out, start, (uint32_t)(out.size() - start));
}
