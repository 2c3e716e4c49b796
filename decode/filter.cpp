// Undoing the x86 call filters. The archiver replaced the operand behind every byte 0xE8 by
// operand + its own position in the member (with a mirrored form for some 32-bit values);
// these functions restore the operands, add every output byte to RunningCrc and write the
// result. FilterAndWrite lets member extraction hand over a member in arbitrary stretches:
// an 0xE8 whose operand has not fully arrived is held back in FilterCarry.
#include "decode/filter.h"

#include <bit_word.h>
#include <string.h>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "decode/crc32.h"
#include "platform/errors.h"
#include "profile/profile.h"
#include "profile/state.h"

namespace {

enum : uint32_t {
    kFilterBufferSize = 16384,
    kChunk16 = 16381,   // a chunk plus the 2 operand bytes of an 0xE8 at its end fits the buffer
    kChunk32 = 16379,   // the same with 4 operand bytes
};

// Copies the bytes from p up to the first 0xE8 in [p, end) to o and returns the position of
// that 0xE8, or end; o moves past the bytes copied. Reads and writes a machine word at a time
// (8 bytes on 64-bit targets, 4 in the i686 stub) while a whole word remains, so the bytes of
// a word behind its 0xE8 are written too: o must have room for as many bytes as lie from p to
// end. The word holds an 0xE8 where
// x = word ^ 0xE8E8... has a zero byte, and the lowest flag of (x - 0x0101...) & ~x & 0x8080...
// marks the first such byte exactly (both targets are little-endian). The trailing zeros
// are counted at the word's own width: `long` has 32 bits on 64-bit Windows, where the word
// has 64. Where the target has 16-byte vectors, 16 bytes are taken at a time first, the
// same way: copied whole, and the first 0xE8 found by a compare of every byte. The stubs
// copy and search byte by byte (kWordCallScan, bit_word.h): the smaller code.
inline const uint8_t* CopyToCall(const uint8_t* p, const uint8_t* end, uint8_t*& o) {
    const uintptr_t ones = (uintptr_t)-1 / 0xFF;
    uint8_t* to = o;
#if defined(__SSE2__)
    if (kWordCallScan) {
        const __m128i call = _mm_set1_epi8((char)0xE8);
        while ((uintptr_t)(end - p) >= 16) {
            const __m128i bytes = _mm_loadu_si128((const __m128i*)p);
            _mm_storeu_si128((__m128i*)to, bytes);
            const uint32_t found = (uint32_t)_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, call));
            if (found != 0) {
                const unsigned zeros = (unsigned)__builtin_ctz(found);
                o = to + zeros;
                return p + zeros;
            }
            p += 16;
            to += 16;
        }
    }
#endif
    while (kWordCallScan && (uintptr_t)(end - p) >= sizeof(uintptr_t)) {
        uintptr_t word;
        memcpy(&word, p, sizeof word);
        memcpy(to, &word, sizeof word);
        uintptr_t x = word ^ ones * 0xE8;
        uintptr_t found = (x - ones) & ~x & (ones * 0x80);
        if (found != 0) {
            unsigned zeros = sizeof found == 8 ? __builtin_ctzll(found) : __builtin_ctz((uint32_t)found);
            o = to + (zeros >> 3);
            return p + (zeros >> 3);
        }
        p += sizeof word;
        to += sizeof word;
    }
    while (p < end && *p != 0xE8) *to++ = *p++;
    o = to;
    return p;
}

// Restores one operand. pos is the member offset of the operand's first byte.
inline uint32_t Restore16(uint32_t v, uint32_t pos) { return (v - pos) & 0xFFFF; }

inline uint32_t Restore32(uint32_t v, uint32_t pos, uint32_t bound) {
    int64_t sv = (int32_t)v;
    if (sv < 0 && sv >= -(int64_t)pos) return bound - 1 - pos - v;
    if (v < bound) return v - pos;
    return v;
}

// The common body of both filters. Returns the bytes read beyond length (the operand bytes
// of an 0xE8 among the last bytes, at most width), or a negative error code.
int32_t CallFilter(FileHandle output, const uint8_t* data, uint32_t length, uint32_t base,
                   uint32_t bound, uint32_t width) {
    uint8_t* buffer = (uint8_t*)MemAlloc(kFilterBufferSize);
    if (buffer == nullptr) return ErrNoMemory;
    const uint32_t limit = width == kCallOperand16 ? kChunk16 : kChunk32;
    const uint8_t* p = data;
    const uint8_t* end = data + length;
    uint32_t crc = State.RunningCrc;
    int32_t result = 0;
    while (p < end) {
        const uint8_t* chunkEnd = (uint32_t)(end - p) > limit ? p + limit : end;
        // o stays as far into the buffer as p into the chunk, which fits the buffer.
        uint8_t* o = buffer;
        while (p < chunkEnd) {
            p = CopyToCall(p, chunkEnd, o);
            if (p == chunkEnd) break;
            // The opcode itself, then its operand, which may lie up to width bytes behind
            // chunkEnd (and behind end); callers guarantee those bytes exist.
            *o++ = *p++;
            uint32_t pos = base + (uint32_t)(p - data);
            if (width == kCallOperand16) {
                uint32_t u = Restore16((uint32_t)p[0] | ((uint32_t)p[1] << 8), pos);
                o[0] = (uint8_t)u;
                o[1] = (uint8_t)(u >> 8);
            } else {
                uint32_t v = (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) |
                             ((uint32_t)p[3] << 24);
                uint32_t u = Restore32(v, pos, bound);
                o[0] = (uint8_t)u;
                o[1] = (uint8_t)(u >> 8);
                o[2] = (uint8_t)(u >> 16);
                o[3] = (uint8_t)(u >> 24);
            }
            p += width;
            o += width;
        }
        uint32_t produced = (uint32_t)(o - buffer);
        crc = Crc32(buffer, produced, crc);
        if (Profile.CancelRequested) {
            result = ErrCancelled;
            break;
        }
        if (FsWrite(output, buffer, produced) < 0) {
            result = ErrWrite;
            break;
        }
    }
    State.RunningCrc = crc;
    MemFree(buffer);
    // p stops at end or, after an 0xE8 among the last bytes, up to width bytes behind it.
    return result < 0 ? result : (int32_t)(p - end);
}

int32_t RunFilter(FileHandle output, const uint8_t* data, uint32_t length, uint32_t base,
                  uint32_t bound) {
    return State.FilterMode == kCallOperand16 ? CallFilter16(output, data, length, base)
                                              : CallFilter32(output, data, length, base, bound);
}

}  // namespace

int32_t CallFilter16(FileHandle output, const uint8_t* data, uint32_t length, uint32_t base) {
    return CallFilter(output, data, length, base, 0, kCallOperand16);
}

int32_t CallFilter32(FileHandle output, const uint8_t* data, uint32_t length, uint32_t base,
                     uint32_t bound) {
    return CallFilter(output, data, length, base, bound, kCallOperand32);
}

int32_t FilterAndWrite(FileHandle output, const uint8_t* data, uint32_t length, uint32_t offset,
                       uint32_t memberSize, bool final) {
    const uint32_t width = State.FilterMode;
    uint8_t* carry = State.FilterCarry;
    uint32_t c = State.FilterCarryCount;
    if (c > 0) {
        // The carry holds an 0xE8 and fewer than width of its operand bytes; the buffer has
        // room for the rest of the operand.
        uint32_t room = sizeof State.FilterCarry - c;
        if (room > length) {
            // All of data fits behind the carry: go on with both as one stretch.
            memcpy(carry + c, data, length);
            data = carry;
            length += c;
            offset -= c;
        } else {
            // Complete the pending call from the front of data.
            memcpy(carry + c, data, room);
            int32_t r = RunFilter(output, carry, c, offset - c, memberSize);
            if (r < 0) return r;
            data += r;
            length -= (uint32_t)r;
            offset += (uint32_t)r;
        }
    }

    // All but the last width bytes go through the filter, which may read into those.
    const uint8_t* s = data;
    if (length > width) {
        int32_t r = RunFilter(output, data, length - width, offset, memberSize);
        if (r < 0) return r;
        s = data + (length - width) + r;
    }
    const uint8_t* end = data + length;

    // The last bytes may start a call whose operand is still to come: hold them back unless
    // the member ends here.
    const uint8_t* t = s;
    if (final) {
        t = end;
    } else {
        while (t < end && *t != 0xE8) ++t;
    }
    if (t > s) {
        State.RunningCrc = Crc32(s, (uint32_t)(t - s), State.RunningCrc);
        if (FsWrite(output, s, (uint32_t)(t - s)) < 0) return ErrWrite;
    }
    uint32_t left = (uint32_t)(end - t);
    State.FilterCarryCount = left;
    if (left > 0) memmove(carry, t, left);
    return 0;
}
