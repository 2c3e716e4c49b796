// Member extraction over arbitrary stream bytes: the input starts with a few members'
// fields (stream offset, member offset, size, flags), then the archive bytes. The members
// are extracted in order into one scratch file, exercising continuation, restarts,
// history trimming and both call filters. Each result must be 0 or an error code, and a
// member must never produce more bytes than its size.
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include "decode/crc32.h"
#include "decode/member.h"
#include "fuzz/support/fuzz_archive.h"
#include "platform/errors.h"
#include "profile/profile.h"
#include "profile/state.h"

namespace {

const size_t kMembers = 4;
const size_t kFieldBytes = 7;   // 1 stream offset byte, 2 offset, 3 size, 1 flags
int Scratch = -1;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    BuildCrcTable();
    char path[] = "/tmp/qar-fuzz-member-XXXXXX";
    Scratch = mkstemp(path);
    if (Scratch < 0) abort();
    unlink(path);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const size_t head = kMembers * kFieldBytes;
    if (size < head) return 0;
    FuzzArchive(data + head, size - head);
    Profile.ArchiveBase = 0;
    ReleaseStream();
    for (size_t m = 0; m < kMembers; ++m) {
        const uint8_t* f = data + m * kFieldBytes;
        uint32_t streamOffset = f[0] < 0xF0 ? f[0] : 42u * (f[0] & 0x0F);
        uint32_t memberOffset = (uint32_t)f[1] | (uint32_t)f[2] << 8;
        uint32_t memberSize = (uint32_t)f[3] | (uint32_t)f[4] << 8 | (uint32_t)(f[5] & 0x0F) << 16;
        uint8_t flags = f[6];
        if (ftruncate(Scratch, 0) != 0 || lseek(Scratch, 0, SEEK_SET) != 0) abort();
        int32_t r = ExtractMember(Scratch, streamOffset, memberOffset, memberSize, flags);
        FuzzCheck(r == 0 || r == ErrCrc || r == ErrDamaged || r == ErrSilent || r == ErrSeek ||
                      r == ErrInputExhausted || r == ErrNoMemory || r == ErrWrite,
                  "ExtractMember returns 0 or an error code");
        off_t written = lseek(Scratch, 0, SEEK_END);
        FuzzCheck(written >= 0 && (uint64_t)written <= memberSize, "no more bytes than the member's size");
        if (State.Stream.Window != nullptr) {
            FuzzCheck(State.Stream.HistoryLength + State.Stream.BlockDecodedSize <= State.Stream.WindowCapacity,
                      "history and block fit the window");
        }
    }
    ReleaseStream();
    return 0;
}
