// The InputBuffer and the block framing: every block of a stream is read into the buffer
// from its first byte, in fills of up to 61432 bytes; a block larger than that is read in
// pieces while it is decoded, 8 bytes of each fill being carried over to the front of the
// next so that a decoder that tests the input bound once per symbol always has the bits of
// that symbol. Only bytes read for the current block are ever handed out: the bytes behind
// them are zeroed and InputEnd never lies past them once the block is read to its end.
#include "decode/input.h"

#include <string.h>

#include "decode/bits.h"
#include "platform/errors.h"
#include "profile/profile.h"
#include "profile/state.h"

namespace {

enum : uint32_t {
    kHeaderBytes = 6,       // the 45-bit BlockHeader lies in the first 6 bytes
    kCarryBytes = 8,        // bytes kept valid behind InputEnd while the block goes on
    kMaxFillBytes = 61432,  // data bytes the buffer holds at most
    kPadBytes = 32,         // zeroed behind the data so that peeks never see stale bytes
};

static_assert(kMaxFillBytes + kPadBytes <= kInputBufferSize + kInputBufferSlack,
              "the InputBuffer must hold a full fill and its zeroed tail");

// Sets the input fields for data that ends at dataEnd, bytesLeft bytes of the block still
// being in the file, and clears the bytes behind the data.
void SetFill(uint8_t* dataEnd, uint32_t bytesLeft) {
    memset(dataEnd, 0, kPadBytes);
    State.BlockBytesLeft = bytesLeft;
    State.InputDataEnd = dataEnd;
    State.InputEnd = bytesLeft > 0 ? dataEnd - kCarryBytes : dataEnd;
}

uint32_t Smaller(uint32_t a, uint32_t b) { return a < b ? a : b; }

int32_t StartBlock() {
    if (State.Stream.StreamStarted && State.NextBlockPosition != State.FilePosition) {
        // The directory reader has used the file since this stream's last block.
        State.FilePosition = State.NextBlockPosition;
        if (FsSeek(State.ArchiveFile, State.NextBlockPosition, kFileBegin) == -1) return ErrSeek;
    }
    uint8_t* buffer = State.InputBuffer;
    // The header is read on its own so that no byte behind a short block is taken: the
    // file position then stands exactly at the next block.
    int32_t h = ReadArchive(buffer, kHeaderBytes);
    if (h < 0) return h;
    if (h < (int32_t)kHeaderBytes) return ErrDamaged;
    uint32_t blockSize = ((buffer[3] | (buffer[4] << 8) | ((uint32_t)buffer[5] << 16)) >> 1) & 0xFFFFF;
    if (blockSize < kHeaderBytes) return ErrDamaged;   // too short to hold its own header
    uint32_t rest = blockSize - kHeaderBytes;
    int32_t r = 0;
    if (rest > 0) {
        r = ReadArchive(buffer + kHeaderBytes, Smaller(rest, kMaxFillBytes - kHeaderBytes));
        if (r < 0) return r;
    }
    SetFill(buffer + kHeaderBytes + r, rest - (uint32_t)r);
    State.InputPointer = buffer;
    State.BitOffset = 0;
    State.NextBlockPosition = State.FilePosition;
    return 0;
}

int32_t ContinueBlock() {
    if (State.BlockBytesLeft == 0) return ErrInputExhausted;
    if (Profile.CancelRequested) return ErrCancelled;
    uint8_t* buffer = State.InputBuffer;
    int32_t over = (int32_t)(State.InputPointer - State.InputEnd);
    memmove(buffer, State.InputEnd, kCarryBytes);
    int32_t r = ReadArchive(buffer + kCarryBytes,
                            Smaller(State.BlockBytesLeft, kMaxFillBytes - kCarryBytes));
    if (r < 0) return r;
    // A read of nothing means the file ends inside the block: the carried bytes are the
    // last there are, and the next refill reports the block exhausted instead of reading
    // again and again.
    uint32_t left = r == 0 ? 0 : State.BlockBytesLeft - (uint32_t)r;
    SetFill(buffer + kCarryBytes + r, left);
    State.InputPointer = buffer + over;
    return 0;
}

}  // namespace

void ResetInput() {
    State.InputPointer = State.InputEnd = State.InputDataEnd = State.InputBuffer;
    State.BitOffset = 0;
    State.BlockBytesLeft = 0;
}

int32_t ReadArchive(void* destination, uint32_t count) {
    int32_t r = FsRead(State.ArchiveFile, destination, count);
    if (r != -1) State.FilePosition += r;
    return r;
}

int32_t RefillInput(bool start) { return start ? StartBlock() : ContinueBlock(); }

int32_t CopyStored(uint8_t* destination, uint32_t count) {
    if (State.BitOffset > 0) State.InputPointer += 1;   // stored bytes begin on a whole byte
    const uint8_t* limit = InputDataLimit();
    uint32_t available = State.InputPointer < limit ? (uint32_t)(limit - State.InputPointer) : 0;
    uint32_t n = Smaller(available, count);
    memcpy(destination, State.InputPointer, n);
    State.InputPointer += n;
    if (Profile.CancelRequested) return ErrCancelled;
    if (n >= count) return (int32_t)n;
    // The rest goes from the file straight to its place, past the buffer.
    uint32_t want = Smaller(count - n, State.BlockBytesLeft);
    if (want == 0) return (int32_t)n;
    int32_t r = ReadArchive(destination + n, want);
    if (r < 0) return r;
    State.BlockBytesLeft -= (uint32_t)r;
    return (int32_t)(n + (uint32_t)r);
}
