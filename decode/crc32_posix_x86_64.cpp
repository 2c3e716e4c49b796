// The Linux tools' CRC-32 on x86-64: on processors with carry-less multiplication, 64-byte
// blocks are folded in four 128-bit lanes and the last 16 folded bytes go through the tables;
// without it, or for short data, the table-driven step alone. Both give the same register
// values. Other processors build crc32_posix_generic.cpp instead.
//
// Folding: the register is XORed into the first four data bytes, which makes the checksum
// the remainder of (data * x^32) modulo the polynomial P. A 128-bit lane whose bytes 0-7
// hold A and bytes 8-15 hold B (bit 0 of byte 0 is the highest power, as in the stream)
// stands for A * x^64 + B; moving it D bits further into the data multiplies it by x^D,
// which modulo P is A * (x^(D+64) mod P) + B * (x^D mod P): two 64 x 32-bit products of at
// most 96 bits, which again fit a lane. A carry-less multiply of two bit-reflected operands
// comes out one power short, so the constants are x^(D+63) and x^(D-1) mod P.
#include "decode/crc32.h"

#include <immintrin.h>

#include "decode/crc32_slices.h"

namespace {

// x^n mod P, bit-reflected (bit 31 is x^0), computed at compile time.
constexpr uint32_t PowerModP(uint32_t n) {
    uint32_t v = 0x80000000u;   // x^0
    for (uint32_t i = 0; i < n; ++i) v = (v & 1) ? (v >> 1) ^ 0xEDB88320u : v >> 1;
    return v;
}

// The multiplier of a 64-bit lane: the reflected 32-bit value in the lane's high half, so
// that lane bit 63 - d holds the coefficient of x^d.
constexpr uint64_t Multiplier(uint32_t n) { return (uint64_t)PowerModP(n) << 32; }

// Multipliers for moving a lane 512 bits (across four lanes) and 128 bits (to the next one).
constexpr uint64_t kFold512Low = Multiplier(512 + 63), kFold512High = Multiplier(512 - 1);
constexpr uint64_t kFold128Low = Multiplier(128 + 63), kFold128High = Multiplier(128 - 1);

__attribute__((target("pclmul,sse2"))) inline __m128i Fold(__m128i x, __m128i k) {
    return _mm_xor_si128(_mm_clmulepi64_si128(x, k, 0x00), _mm_clmulepi64_si128(x, k, 0x11));
}

__attribute__((target("pclmul,sse2"))) inline __m128i Load(const uint8_t* p) {
    return _mm_loadu_si128((const __m128i*)p);
}

// length >= 64. Returns the register after all whole 16-byte pieces; *done is set to the
// bytes taken.
__attribute__((target("pclmul,sse2"))) uint32_t FoldBlocks(const uint8_t* data, uint32_t length,
                                                          uint32_t crc, uint32_t* done) {
    const uint8_t* p = data;
    const uint8_t* end = data + (length & ~15u);
    __m128i x0 = _mm_xor_si128(Load(p), _mm_cvtsi32_si128((int)crc));
    __m128i x1 = Load(p + 16), x2 = Load(p + 32), x3 = Load(p + 48);
    p += 64;
    const __m128i k512 = _mm_set_epi64x((long long)kFold512High, (long long)kFold512Low);
    while (end - p >= 64) {
        x0 = _mm_xor_si128(Fold(x0, k512), Load(p));
        x1 = _mm_xor_si128(Fold(x1, k512), Load(p + 16));
        x2 = _mm_xor_si128(Fold(x2, k512), Load(p + 32));
        x3 = _mm_xor_si128(Fold(x3, k512), Load(p + 48));
        p += 64;
    }
    const __m128i k128 = _mm_set_epi64x((long long)kFold128High, (long long)kFold128Low);
    x1 = _mm_xor_si128(Fold(x0, k128), x1);
    x2 = _mm_xor_si128(Fold(x1, k128), x2);
    x3 = _mm_xor_si128(Fold(x2, k128), x3);
    for (; p < end; p += 16) x3 = _mm_xor_si128(Fold(x3, k128), Load(p));
    // The folded lane has the same remainder as everything before it: its CRC from a zero
    // register is the CRC so far.
    alignas(16) uint8_t lane[16];
    _mm_store_si128((__m128i*)lane, x3);
    *done = (uint32_t)(p - data);
    return Crc32Sliced(lane, 16, 0);
}

// Asked once; the packer's threads may call Crc32 at the same time, which the guarded
// initialisation of a local static allows.
bool HaveCarrylessMultiply() {
    static const bool have = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse2");
    return have;
}

}  // namespace

uint32_t Crc32(const uint8_t* data, uint32_t length, uint32_t crc) {
    if (length >= 128 && HaveCarrylessMultiply()) {
        uint32_t done;
        crc = FoldBlocks(data, length, crc, &done);
        data += done;
        length -= done;
    }
    return Crc32Sliced(data, length, crc);
}
