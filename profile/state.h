// ExtractorState: the one global record of the running program. Each subsystem owns the
// fields of its section; nothing else keeps state between calls.
#pragma once

#include <stdint.h>

#include "archive/records.h"
#include "platform/fs.h"

struct DecodeNode {
    int32_t Slot[2];   // slot 0: next stream bit 0; slot 1: next stream bit 1
};

enum : uint32_t {
    kInputBufferSize = 61440,    // data area of the InputBuffer
    kInputBufferSlack = 32,      // padding behind it so that no peek of a damaged block leaves it
    kEntryBufferSize = 8192,
    kMessageTextSize = 400,      // holds the longest message with a 259-character path uncut
    kProgramNameSize = 260,
    kOutputPathSize = 261,       // a path of up to 259 characters, and room for the cut one
};

// The member stream being decoded. The window (history, then the block being decoded)
// begins at Window inside WindowBuffer; WindowCapacity is the window's size as the stream's
// blocks define it, WindowBufferSize what is allocated. A restart of the stream assigns a
// fresh record and sets StreamPosition.
struct StreamState {
    int32_t StreamPosition;      // file position of the stream's next block
    uint8_t* Window;
    uint32_t WindowCapacity;
    uint8_t* WindowBuffer;
    uint32_t WindowBufferSize;
    uint32_t HistoryLength;
    uint32_t BlockStreamOffset;
    uint32_t BlockDecodedSize;
    uint8_t LastBlockSeen;
    uint8_t StreamStarted;
    uint8_t BlockInProgress;
    uint8_t StreamEnded;         // the current stream's last block has been decoded
};

struct ExtractorState {
    // Start-up and dialogs.
    char ProgramName[kProgramNameSize];
    char MessageText[kMessageTextSize];
    void* DialogFont;
    void* BackgroundBrush;
    void* Instance;
    FileHandle ArchiveFile;
    ArchiveHeader Header;

    // Error reporting.
    int32_t LastSystemError;

    // Input buffer and block framing.
    uint8_t* InputBuffer;
    uint8_t* InputPointer;
    int32_t BitOffset;
    uint8_t* InputEnd;
    uint8_t* InputDataEnd;       // end of the bytes actually read for the current block
    uint32_t BlockBytesLeft;
    int32_t NextBlockPosition;
    int32_t FilePosition;

    // Directory reader.
    uint8_t* EntryCursor;
    uint8_t* EntryEnd;
    int32_t DirectoryPosition;

    // The extraction loop: the path of the entry at hand, the destination as the run uses it
    // (one trailing backslash dropped, 8.3 names where the volume takes no long ones) and
    // the entry's name. ExtractAll builds it here rather than in the profile, which keeps the
    // destination as the user gave it; the console finds it in a message to show it as the
    // user typed it.
    char OutputPath[kOutputPathSize];

    // The member stream: a restart replaces the whole record.
    StreamState Stream;

    // The LZ decoder: the default TableSet's tables kept between blocks (native builds).
    void* KeptTables;

    // Call filters and CRC-32.
    uint32_t RunningCrc;
    uint32_t CrcTable[256];
    uint32_t FilterMode;         // operand width of the member's call filter, 0 for none
    uint8_t FilterCarry[8];
    uint32_t FilterCarryCount;
};

extern ExtractorState State;
