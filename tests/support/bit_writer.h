// A small writer of compressed block bodies for tests, fuzz seeds and benchmarks. It is
// written from the block format alone and shares no code with the decoder or the packer, so
// streams made with it check the decoder against an independent reading of the format.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <vector>

// Bits least significant first, as the decoder reads them.
class BitWriter {
public:
    void Put(uint64_t value, unsigned count);        // the low count bits of value
    void PutCode(uint32_t code, unsigned length);    // a canonical code, first bit = its top bit
    void AlignToByte();
    size_t BitCount() const { return bits_; }
    // The bytes written, the last one padded with zero bits.
    const std::vector<uint8_t>& Bytes() const { return bytes_; }

private:
    std::vector<uint8_t> bytes_;
    size_t bits_ = 0;
};

// Canonical codes (as plain numbers, first bit on top) for code lengths 0..16.
std::vector<uint32_t> CanonicalCodes(const std::vector<uint8_t>& lengths);

// Code lengths of a Huffman code for the frequencies, none longer than maxLength. Unused
// symbols get 0; a single used symbol gets length 1.
std::vector<uint8_t> HuffmanLengths(const std::vector<uint64_t>& frequencies, unsigned maxLength);

// The default TableSet (344 lengths) of a block whose end offset in the window is endOffset.
std::vector<uint8_t> DefaultTableSet(uint32_t endOffset);

enum : uint32_t {
    kWriterSetShort = 344,
    kWriterSetLong = 372,
};

// Writes the 21 code-length-code lengths as 5-bit fields, zeros as bijective base-2 runs.
void WriteClCodeLengths(BitWriter& out, const uint8_t* lengths21);
// Writes sets (count × setSize lengths) in the code-length format: a fixed code-length code
// of 21 five-bit codes, each length as its difference from the prediction, zeros in runs.
void WriteTableSets(BitWriter& out, const std::vector<uint8_t>& sets, uint32_t setSize);

// The symbol, extra-bit count and extra value of an explicit distance (5 and more give
// symbols 6-41; 1 to 4 give symbols 2-5 without extra bits).
void DistanceSymbol(uint32_t distance, uint32_t* symbol, uint32_t* extraBits, uint32_t* extra);
// The symbol, extra-bit count and extra value of a match length 2..33026.
void LengthSymbol(uint32_t length, uint32_t* symbol, uint32_t* extraBits, uint32_t* extra);

// Writes the 45-bit BlockHeader and the 5 window bits (class, size index) that follow it.
void PutBlockHeader(BitWriter& out, uint32_t type, bool last, uint32_t decodedSize,
                    uint32_t blockSize, uint32_t windowBits = 0);
// Sets the BlockSize field of a block that starts at block[0].
void SetBlockSize(std::vector<uint8_t>& block, uint32_t blockSize);

// Writes one compressed block body: the 8-bit header, the code lengths, then symbols.
class LzBlockWriter {
public:
    // sets: count × setSize lengths (setSize 372 when alphabets is 3, else 344); empty sets
    // write u = 0 and code with the default TableSet for endOffset.
    LzBlockWriter(BitWriter& out, uint32_t alphabets, const std::vector<uint8_t>& sets,
                  uint32_t endOffset = 0);
    void Literal(uint8_t byte);
    // A match with an explicit distance symbol and its extra value.
    void MatchSymbol(uint32_t length, uint32_t distanceSymbol, uint32_t distanceExtra = 0);
    // A match with an explicit distance (symbols 2-41).
    void Match(uint32_t length, uint32_t distance);
    void EndSet();   // symbol 256: the next TableSet takes over
    // The distance alphabet a match of this length uses.
    uint32_t AlphabetFor(uint32_t length) const;

private:
    void SelectSet(size_t index);
    void PutSymbol(const std::vector<uint8_t>& lengths, const std::vector<uint32_t>& codes,
                   uint32_t symbol);

    BitWriter& out_;
    uint32_t alphabets_;
    uint32_t setSize_;
    std::vector<uint8_t> sets_;
    size_t set_ = 0;
    std::vector<uint8_t> literalLengths_;
    std::vector<uint32_t> literalCodes_;
    std::vector<uint8_t> distanceLengths_[3];
    std::vector<uint32_t> distanceCodes_[3];
};
