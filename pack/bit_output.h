// Bit writer for block bodies: least significant bit first, bytes appended to a vector.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <vector>

class BitOutput {
public:
    explicit BitOutput(std::vector<uint8_t>& bytes) : bytes_(bytes), start_(bytes.size()) {}

    // Appends the low `count` bits of value (count 0..32).
    void Put(uint32_t value, int count) {
        accumulator_ |= (uint64_t)(value & Mask(count)) << filled_;
        filled_ += count;
        while (filled_ >= 8) {
            bytes_.push_back((uint8_t)accumulator_);
            accumulator_ >>= 8;
            filled_ -= 8;
        }
    }

    // Pads with zero bits up to the next byte boundary.
    void AlignToByte() {
        if (filled_ > 0) Put(0, 8 - filled_);
    }

    // Bits written since this writer was made.
    uint64_t BitCount() const { return (uint64_t)(bytes_.size() - start_) * 8 + filled_; }

    // Bytes appended since this writer was made, counting a partly filled byte.
    size_t ByteCount() const { return bytes_.size() - start_ + (filled_ > 0 ? 1 : 0); }

private:
    static uint32_t Mask(int count) { return count >= 32 ? 0xFFFFFFFFu : (1u << count) - 1; }

    std::vector<uint8_t>& bytes_;
    size_t start_;
    uint64_t accumulator_ = 0;
    int filled_ = 0;
};
