// The directory reader: one DirectoryBlock at a time, read into the InputBuffer and decoded
// or copied into the 8192-byte EntryBuffer, from which the extraction loop takes entries.
// It shares the archive file with the stream reader; each seeks only when it finds the file
// position moved by the other.
#include "archive/directory.h"

#include <string.h>

#include "archive/records.h"
#include "decode/input.h"
#include "decode/lzdecode.h"
#include "platform/errors.h"
#include "platform/fs.h"
#include "profile/profile.h"
#include "profile/state.h"

namespace {

enum : uint32_t {
    kHeaderBytes = 7,     // the BlockHeader and the 5 window bits end in byte 6
    kPadBytes = 32,     // zeroed behind the bytes read, as RefillInput does
};

static_assert(kDirectoryBlockMaxBytes + kPadBytes <= kInputBufferSize + kInputBufferSlack,
              "a directory block and its zeroed tail fit the InputBuffer");

}  // namespace

int32_t ReadDirectoryBlock(uint8_t* entryBuffer) {
    if (State.FilePosition != State.DirectoryPosition) {
        State.FilePosition = State.DirectoryPosition;
        if (FsSeek(State.ArchiveFile, State.DirectoryPosition, kFileBegin) == -1) return ErrSeek;
    }
    State.EntryCursor = State.EntryEnd = entryBuffer;

    uint8_t signature[kDirectorySignatureSize];
    int32_t r = ReadArchive(signature, kDirectorySignatureSize);
    if (r < 0) return r;
    if (r < (int32_t)kDirectorySignatureSize ||
        memcmp(signature, Profile.DirectorySignature, kDirectorySignatureSize) != 0)
        return ErrDamaged;

    uint8_t* buffer = State.InputBuffer;
    int32_t n = ReadArchive(buffer, kDirectoryBlockMaxBytes);
    if (n < 0) return n;
    // Only the bytes read count: the block is decoded as one that has been read to its end,
    // so neither the decoder nor CopyStored reaches behind them.
    memset(buffer + n, 0, kPadBytes);
    ResetInput();
    State.InputEnd = State.InputDataEnd = buffer + n;
    if (n < (int32_t)kHeaderBytes) return ErrDamaged;   // the file ends inside the header

    uint32_t type = buffer[0] & 15;
    uint32_t decodedSize = (ReadLe32(buffer) >> 5) & 0xFFFFF;
    if (type > 1) return ErrDamaged;
    // A block may not decode to more than the EntryBuffer holds.
    if (decodedSize > kDirectoryBlockMaxDecoded) return ErrDamaged;
    State.InputPointer = buffer + 6;
    State.BitOffset = 2;
    r = type == 1 ? DecodeLzBlock(entryBuffer, 0, decodedSize) : CopyStored(entryBuffer, decodedSize);
    if (r < 0) return r;
    State.EntryEnd = entryBuffer + r;
    State.DirectoryPosition += (int32_t)(State.InputPointer - buffer) + (int32_t)kDirectorySignatureSize;
    return 0;
}

void StartDirectoryWalk(uint8_t* entryBuffer, int32_t directory) {
    State.EntryCursor = State.EntryEnd = entryBuffer;
    State.DirectoryPosition = directory;
    // Where the file stands is not known here: the first block seeks to the directory.
    State.FilePosition = -1;
}

int32_t NextDirectoryEntry(uint8_t* entryBuffer, DirectoryEntry* entry, const uint8_t** name) {
    if (State.EntryEnd - State.EntryCursor < (int32_t)kEntryFixedSize) {
        int32_t r = ReadDirectoryBlock(entryBuffer);
        if (r != 0) return r;
        if (State.EntryEnd - State.EntryCursor < (int32_t)kEntryFixedSize) return ErrDamaged;
    }
    ReadDirectoryEntry(State.EntryCursor, entry);
    State.EntryCursor += kEntryFixedSize;
    // The name and the extra bytes behind it must lie within the decoded bytes.
    uint32_t left = (uint32_t)(State.EntryEnd - State.EntryCursor);
    uint32_t extra = (uint32_t)entry->ExtraLengthByte + entry->ExtraLengthWord;
    if (left < entry->NameLength || left - entry->NameLength < extra) return ErrDamaged;
    *name = State.EntryCursor;
    State.EntryCursor += entry->NameLength + extra;
    return 0;
}

