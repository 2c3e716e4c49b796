// The LZ block decoder against bodies built by the independent bit writer.
#include <gtest/gtest.h>
#include <string.h>

#include <random>
#include <vector>

#include "decode/lzdecode.h"
#include "platform/errors.h"
#include "profile/profile.h"
#include "profile/state.h"
#include "tests/support/archive_input.h"
#include "tests/support/bit_writer.h"

namespace {

typedef std::vector<uint8_t> Bytes;

// Decodes body (loaded as a whole block) into a window of history + count bytes.
struct Decoded {
    int32_t Result;
    Bytes Window;
    uint64_t BitsUsed;
};

Decoded Decode(const Bytes& body, const Bytes& history, uint32_t count, uint8_t fill = 0xEE) {
    ArchiveInput input;
    input.LoadBlock(body);
    Decoded d;
    d.Window = history;
    d.Window.resize(history.size() + count, fill);
    d.Result = DecodeLzBlock(d.Window.data(), (uint32_t)history.size(), count);
    d.BitsUsed = input.BitPosition();
    return d;
}


TEST(LzDecode, WorkedBlockDecodesToFourBytesAndEndsOnTheByteBoundary) {
    Decoded d = Decode({0x02, 0x86, 0x5F, 0x09}, {}, 4);
    EXPECT_EQ(d.Result, 4);
    EXPECT_EQ(d.Window, (Bytes{0x61, 0x61, 0x61, 0x61}));
    EXPECT_EQ(d.BitsUsed, 32u);
    EXPECT_EQ(State.BitOffset, 0);

    // The bit writer, built from the format alone, produces the same bytes.
    BitWriter w;
    LzBlockWriter block(w, 2, {}, 4);
    block.Literal(0x61);
    block.Match(3, 1);
    EXPECT_EQ(w.Bytes(), (Bytes{0x02, 0x86, 0x5F, 0x09}));
}

}  // namespace
