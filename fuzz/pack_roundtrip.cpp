// Round trip of the compressor: arbitrary bytes, cut into one to three members, are packed
// as one stream with options taken from the first bytes (level, block size, TableSets,
// distance alphabets, stored blocks), then extracted member by member through member
// extraction. Every member must come back byte for byte with its CRC-32.
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <vector>

#include "archive/records.h"
#include "decode/crc32.h"
#include "decode/member.h"
#include "fuzz/support/fuzz_archive.h"
#include "pack/encoder.h"
#include "profile/profile.h"
#include "profile/state.h"

namespace {

const size_t kOptionBytes = 4;
int Scratch = -1;

uint32_t Crc(const uint8_t* data, size_t size) {
    return ~Crc32(data, (uint32_t)size, 0xFFFFFFFFu);
}

EncodeOptions OptionsFrom(const uint8_t* b, size_t dataSize) {
    EncodeOptions options;
    options.Level = 1 + b[0] % 9;
    options.StoredOnly = (b[0] >> 4) == 15;
    switch (b[1] & 3) {
        case 0: options.MaxBlockSize = 1048575; break;
        case 1:   // tiny blocks, at most about 32 of them: each block plans its own codes
            options.MaxBlockSize = 1 + (b[1] >> 2);
            if (options.MaxBlockSize < dataSize / 32) options.MaxBlockSize = (uint32_t)(dataSize / 32);
            break;
        case 2: options.MaxBlockSize = 64 + (uint32_t)b[1] * 97; break;
        default: options.MaxBlockSize = 4096 + (uint32_t)b[1] * 1024; break;
    }
    options.MaxTableSets = 1 + b[2] % 63;
    options.DistanceAlphabets = (b[2] >> 6) == 1 ? 2 : (b[2] >> 6) == 2 ? 3 : 0;
    options.AllowDefaultTables = (b[3] & 1) == 0;
    return options;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    BuildCrcTable();
    char path[] = "/tmp/qar-fuzz-pack-XXXXXX";
    Scratch = mkstemp(path);
    if (Scratch < 0) abort();
    unlink(path);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t size) {
    if (size < kOptionBytes) return 0;
    EncodeOptions options = OptionsFrom(input, size - kOptionBytes);
    const uint8_t* data = input + kOptionBytes;
    size_t dataSize = size - kOptionBytes;

    // Members: cut points from the option bytes; each is LocalHeader, name, data, DataCrc.
    size_t cuts[2] = {dataSize * (input[3] >> 5) / 8, dataSize * (input[3] >> 5) / 8 +
                      (dataSize - dataSize * (input[3] >> 5) / 8) * ((input[3] >> 1) & 15) / 16};
    size_t bounds[4] = {0, cuts[0], cuts[1], dataSize};
    std::vector<uint8_t> stream;
    std::vector<uint32_t> offsets;
    for (int m = 0; m < 3; m++) {
        size_t length = bounds[m + 1] - bounds[m];
        offsets.push_back((uint32_t)stream.size());
        LocalHeader header = {(uint32_t)length, 1, 0, 0, 0};
        uint8_t bytes[kLocalHeaderSize];
        WriteLocalHeader(header, bytes);
        stream.insert(stream.end(), bytes, bytes + kLocalHeaderSize);
        stream.push_back('a' + m);
        stream.insert(stream.end(), data + bounds[m], data + bounds[m + 1]);
        uint8_t crc[4];
        WriteLe32(crc, Crc(data + bounds[m], length));
        stream.insert(stream.end(), crc, crc + 4);
    }

    std::vector<uint8_t> archive(kStreamMarker, kStreamMarker + kStreamMarkerSize);
    std::vector<uint8_t> blocks = EncodeStream(stream.data(), stream.size(), options);
    archive.insert(archive.end(), blocks.begin(), blocks.end());
    FuzzArchive(archive.data(), archive.size());
    Profile.ArchiveBase = 0;
    ReleaseStream();
    for (int m = 0; m < 3; m++) {
        size_t length = bounds[m + 1] - bounds[m];
        if (ftruncate(Scratch, 0) != 0 || lseek(Scratch, 0, SEEK_SET) != 0) abort();
        int32_t r = ExtractMember(Scratch, 0, offsets[m], (uint32_t)length, 0);
        FuzzCheck(r == 0, "member extraction succeeds");
        FuzzCheck(State.RunningCrc == Crc(data + bounds[m], length), "member CRC matches");
        std::vector<uint8_t> back(length + 1);
        ssize_t got = pread(Scratch, back.data(), back.size(), 0);
        FuzzCheck(got == (ssize_t)length, "member has its size");
        FuzzCheck(length == 0 || memcmp(back.data(), data + bounds[m], length) == 0,
                  "member bytes come back");
    }
    ReleaseStream();
    return 0;
}
