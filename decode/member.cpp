// Member extraction from solid streams. A member is a stretch of its stream's decoded bytes
// behind an 11-byte LocalHeader and a variable part; the stream's blocks are decoded in order
// into one history Window that stays open between calls, so that members taken in stream
// order cost no decoding twice. Any member before the current block restarts its stream.
#include "decode/member.h"

#include <string.h>

#include "decode/bits.h"
#include "decode/crc32.h"
#include "decode/filter.h"
#include "decode/input.h"
#include "decode/lzdecode.h"
#include "decode/stream_format.h"
#include "decode/work_limit.h"
#include "platform/errors.h"
#include "profile/profile.h"
#include "profile/state.h"

namespace {

enum : uint32_t {
    kWindowSlack = 512,
    kStoredHistoryLimit = 0x80000,   // history plus a stored block never exceed this
    kHeaderBits = 45,
    kWindowFieldBits = 5,
    kMoveAlignment = 64,   // a cache line, and more than any vector the copy uses
};

// Makes the window at least need bytes long (the capacity the stream's blocks define).
void GrowWindow(uint32_t need) {
    if (need > State.Stream.WindowCapacity) State.Stream.WindowCapacity = need + kWindowSlack;
}

// Makes WindowBuffer hold WindowCapacity bytes from Window on, allocating it for a stream's
// first block. Trimming history only moves Window forward; the history goes back to the
// buffer's front only when the window would run past the buffer's end, and the buffer
// keeps a quarter of the history spare behind the window: between two such moves the
// window passes at least that quarter, so each decoded byte costs at most four bytes moved,
// however large the window and however small the blocks. A buffer that grows gets half the
// history spare, so that the capacity must grow by a quarter of the history (by decoding)
// before it grows again. False when memory runs out.
//
// With kAlignedHistoryMoves the history goes not to the front itself but to the front plus
// its offset modulo kMoveAlignment, so that source and destination differ by a multiple of
// it: the C library's copy of 512 KiB between addresses misaligned to each other ran at
// 3.5 GB/s, between mutually aligned ones at 52 GB/s. The bytes in front of the window are
// never read.
bool MakeRoom() {
    uint32_t capacity = State.Stream.WindowCapacity;
    uint32_t size = State.Stream.WindowBufferSize;
    uint32_t history = State.Stream.HistoryLength;
    uint8_t* buffer = State.Stream.WindowBuffer;
    uint32_t start = (uint32_t)(State.Stream.Window - buffer);
    if (start + capacity <= size) return true;
    uint32_t front = kAlignedHistoryMoves ? start % kMoveAlignment : 0;
    uint32_t spare = history / 4;
    if (front + capacity + spare > size) {
        uint32_t grown = front + capacity + 2 * spare;
        buffer = (uint8_t*)MemRealloc(buffer, grown);
        if (buffer == nullptr) return false;
        // A damaged block can leave window bytes unwritten (a match at distance 0): they
        // must read as zeros, never as whatever the heap held before.
        memset(buffer + size, 0, grown - size);
        State.Stream.WindowBuffer = buffer;
        State.Stream.WindowBufferSize = grown;
    }
    memmove(buffer + front, buffer + start, history);
    State.Stream.Window = buffer + front;
    return true;
}

// Keeps only the last keep bytes of history, which now begin at Window.
void TrimHistory(uint32_t keep) {
    if (State.Stream.HistoryLength <= keep) return;
    State.Stream.Window += State.Stream.HistoryLength - keep;
    State.Stream.HistoryLength = keep;
}

void ConsumeBits(uint32_t n) {
    uint32_t bits = (uint32_t)State.BitOffset + n;
    State.InputPointer += bits >> 3;
    State.BitOffset = (int32_t)(bits & 7);
}

// Frees the window and forgets every block of the stream; position becomes StreamPosition.
void ForgetStream(int32_t position) {
    MemFree(State.Stream.WindowBuffer);
    if (kKeepDefaultTables) ForgetKeptTables();
    State.Stream = StreamState();
    State.Stream.StreamPosition = position;
}

void RestartStream(int32_t target) {
    ForgetStream(target);
    ResetInput();
}

// Decodes the next block of the stream into Window behind the history. Returns 0, 1 when
// the stream had already ended (nothing decoded), or a negative error code. On failure
// BlockInProgress stays set, which refuses the stream until it is restarted.
int32_t DecodeNextBlock() {
    if (Profile.CancelRequested) return ErrCancelled;
    if (State.Stream.BlockInProgress) return ErrDamaged;
    // The stream's last block was decoded (in this call or an earlier one): whatever lies
    // behind it in the file is not part of the stream.
    if (State.Stream.StreamEnded) return 1;
    State.Stream.BlockInProgress = 1;

    int32_t r = RefillInput(true);
    if (r < 0) return r;
    // The block decoded last becomes history. Until this block is decoded the window holds
    // no current block, so that history and block fit the window at every step.
    State.Stream.HistoryLength += State.Stream.BlockDecodedSize;
    State.Stream.BlockStreamOffset += State.Stream.BlockDecodedSize;
    State.Stream.BlockDecodedSize = 0;

    uint32_t head = ReadLe32(State.InputPointer);
    uint32_t type = head & 0x0F;
    if (type > 1) return ErrDamaged;
    State.Stream.LastBlockSeen = (uint8_t)((head >> 4) & 1);
    uint32_t decodedSize = (head >> 5) & 0xFFFFF;
    ConsumeBits(kHeaderBits);
    if (!CountDecoded(decodedSize)) return ErrLimit;

    // The first block of a stream sets the window's capacity; MakeRoom allocates it.
    if (State.Stream.Window == nullptr) State.Stream.WindowCapacity = decodedSize + kWindowSlack;

    if (type == 1) {
        if (State.Stream.StreamStarted) {
            uint32_t bits = ReadLe16(State.InputPointer) >> State.BitOffset;
            uint32_t windowClass = bits & 3;
            if (windowClass == 3) windowClass = 2;
            uint32_t size = Profile.WindowSizes[windowClass][(bits >> 2) & 7];
            TrimHistory(size);
            GrowWindow(State.Stream.HistoryLength + decodedSize);
        }
        ConsumeBits(kWindowFieldBits);
    } else {
        // The window grows for the block alone; the history kept is what fits beside it.
        GrowWindow(decodedSize);
        if (State.Stream.LastBlockSeen) {
            State.Stream.HistoryLength = 0;   // nothing can refer back to the history any more
        } else {
            uint32_t keep = decodedSize < kStoredHistoryLimit ? kStoredHistoryLimit - decodedSize : 0;
            uint32_t room = State.Stream.WindowCapacity - decodedSize;
            TrimHistory(keep < room ? keep : room);
        }
    }
    if (!MakeRoom()) return ErrNoMemory;
    State.Stream.BlockDecodedSize = decodedSize;
    r = type == 1 ? DecodeLzBlock(State.Stream.Window, State.Stream.HistoryLength, decodedSize)
                  : CopyStored(State.Stream.Window + State.Stream.HistoryLength, decodedSize);
    if (r < 0) return r;
    if ((uint32_t)r < decodedSize) {
        // A block that decodes short ends its stream.
        State.Stream.BlockDecodedSize = (uint32_t)r;
        State.Stream.LastBlockSeen = 1;
    }
    if (State.Stream.LastBlockSeen) State.Stream.StreamEnded = 1;
    State.NextBlockPosition = State.FilePosition;
    State.Stream.BlockInProgress = 0;
    State.Stream.StreamStarted = 1;
    return 0;
}

}  // namespace

int32_t ExtractMember(FileHandle output, uint32_t streamOffset, uint32_t memberOffset,
                      uint32_t memberSize, uint8_t flags) {
    State.RunningCrc = 0xFFFFFFFFu;
    if (memberSize == 0) {
        State.RunningCrc = 0;
        return 0;
    }
    State.Stream.LastBlockSeen = 0;
    State.FilterCarryCount = 0;
    State.FilterMode = (flags & FlagCallFilter16) ? 2 : (flags & FlagCallFilter32) ? 4 : 0;

    int32_t target = (int32_t)(Profile.ArchiveBase + streamOffset + kStreamMarkerSize);
    if (target != State.Stream.StreamPosition || memberOffset < State.Stream.BlockStreamOffset) {
        RestartStream(target);
        int32_t position = FsSeek(State.ArchiveFile, target, kFileBegin);
        if (position < 0) {
            // Forget the stream so that the next member tries again.
            State.Stream.StreamPosition = -1;
            return ErrSeek;
        }
        State.FilePosition = position;
    }

    // What remains of this member: the LocalHeader bytes still to gather, the variable part
    // still to pass over, and the member bytes still to write.
    uint32_t offset = memberOffset;
    uint32_t gathered = 0;
    uint32_t variableLength = 0;
    uint32_t passed = 0;
    uint32_t remaining = memberSize;
    uint32_t handed = 0;

    while (remaining > 0) {
        if (State.Stream.BlockInProgress) return ErrDamaged;
        uint32_t blockEnd = State.Stream.BlockStreamOffset + State.Stream.BlockDecodedSize;
        if (offset >= blockEnd) {
            int32_t r = DecodeNextBlock();
            if (r < 0) return r;
            if (r > 0) break;   // the stream ended before the member did
            continue;
        }
        uint32_t available = blockEnd - offset;
        const uint8_t* bytes = State.Stream.Window + State.Stream.HistoryLength + (offset - State.Stream.BlockStreamOffset);
        if (gathered < kLocalHeaderSize) {
            uint32_t n = kLocalHeaderSize - gathered;
            if (n > available) n = available;
            memcpy(Profile.LocalHeaderScratch + gathered, bytes, n);
            gathered += n;
            offset += n;
            if (gathered == kLocalHeaderSize) variableLength = ReadLe16(Profile.LocalHeaderScratch + 4);
            continue;
        }
        if (passed < variableLength) {
            uint32_t n = variableLength - passed;
            if (n > available) n = available;
            passed += n;
            offset += n;
            continue;
        }
        uint32_t n = available < remaining ? available : remaining;
        if (State.FilterMode == 0) {
            State.RunningCrc = Crc32(bytes, n, State.RunningCrc);
            if (FsWrite(output, bytes, n) < 0) return ErrWrite;
        } else {
            int32_t r = FilterAndWrite(output, bytes, (int32_t)n, handed, memberSize, n == remaining);
            if (r < 0) return r;
            handed += n;
        }
        remaining -= n;
        offset += n;
        // Counted once written: a run stops at the chunk that takes it past the bound.
        if (!CountWritten(n)) return ErrLimit;
    }
    State.RunningCrc = ~State.RunningCrc;
    // A stream that ends before the member does leaves the member short. Its CRC-32 may
    // still match (an empty member's CRC is 0), so the shortfall itself fails the check.
    if (remaining > 0) return ErrCrc;
    return 0;
}

void ReleaseStream() { ForgetStream(-1); }

bool AllocateInput() {
    State.InputBuffer = (uint8_t*)MemAlloc(kInputBufferSize + kInputBufferSlack);
    if (State.InputBuffer == nullptr) return false;
    memset(State.InputBuffer + kInputBufferSize, 0, kInputBufferSlack);
    ReleaseStream();
    return true;
}

void ReleaseInput() {
    ReleaseStream();
    MemFree(State.InputBuffer);
    State.InputBuffer = nullptr;
}
