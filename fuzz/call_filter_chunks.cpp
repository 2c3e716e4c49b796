// The call filters fed in arbitrary stretches, as member extraction hands a member over one
// block at a time: whatever the split, the bytes written and the CRC-32 must be those of one
// call with the whole member. Input: a mode byte (bit 0: 16-bit filter, else 32-bit), a byte
// of split lengths count k, k split lengths (one byte each), then the member.
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

#include <vector>

#include "decode/crc32.h"
#include "decode/filter.h"
#include "fuzz/support/fuzz_archive.h"
#include "profile/profile.h"
#include "profile/state.h"

namespace {

int Output(int* fd) {
    if (*fd < 0) *fd = memfd_create("qar-fuzz-filter", 0);
    FuzzCheck(*fd >= 0 && ftruncate(*fd, 0) == 0 && lseek(*fd, 0, SEEK_SET) == 0, "output file");
    return *fd;
}

std::vector<uint8_t> Contents(int fd) {
    off_t size = lseek(fd, 0, SEEK_END);
    std::vector<uint8_t> bytes((size_t)size);
    FuzzCheck(pread(fd, bytes.data(), bytes.size(), 0) == (ssize_t)bytes.size(), "output read");
    return bytes;
}

void Start(uint32_t mode) {
    State.FilterMode = mode;
    State.FilterCarryCount = 0;
    State.RunningCrc = 0xFFFFFFFFu;
    Profile.CancelRequested = 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool ready = (BuildCrcTable(), true);
    static int whole = -1, pieces = -1;
    (void)ready;
    if (size < 2) return 0;
    uint32_t mode = (data[0] & 1) ? kCallOperand16 : kCallOperand32;
    size_t k = data[1];
    if (size < 2 + k) return 0;
    const uint8_t* splits = data + 2;
    const uint8_t* member = data + 2 + k;
    uint32_t n = (uint32_t)(size - 2 - k);
    if (n == 0) return 0;

    Start(mode);
    FuzzCheck(FilterAndWrite(Output(&whole), member, n, 0, n, true) == 0, "whole member");
    uint32_t wholeCrc = State.RunningCrc;
    std::vector<uint8_t> expected = Contents(whole);
    FuzzCheck(expected.size() == n, "the filter writes as many bytes as it is given");

    Start(mode);
    int out = Output(&pieces);
    uint32_t done = 0;
    for (size_t i = 0; done < n; ++i) {
        uint32_t length = i < k ? splits[i] + 1u : n - done;
        if (length > n - done) length = n - done;
        bool final = done + length == n;
        FuzzCheck(FilterAndWrite(out, member + done, length, done, n, final) == 0, "piece");
        done += length;
    }
    FuzzCheck(State.RunningCrc == wholeCrc, "the CRC does not depend on the split");
    FuzzCheck(Contents(out) == expected, "the bytes do not depend on the split");
    return 0;
}
