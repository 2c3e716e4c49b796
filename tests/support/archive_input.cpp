#include "decode/input.h"
#include "tests/support/archive_input.h"

#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <stdexcept>

#include "platform/fs.h"
#include "profile/profile.h"
#include "profile/state.h"

namespace {
int fileCounter = 0;
}  // namespace

ArchiveInput::ArchiveInput(const std::vector<uint8_t>& fileBytes) {
    // Named by the process as well: test programs run side by side in one build folder.
    path_ = "qar_archive_input_" + std::to_string((long)getpid()) + "_" +
            std::to_string(++fileCounter) + ".bin";
    FILE* f = fopen(path_.c_str(), "wb");
    if (f == nullptr) throw std::runtime_error("cannot create " + path_);
    if (!fileBytes.empty()) fwrite(fileBytes.data(), 1, fileBytes.size(), f);
    fclose(f);
    State.ArchiveFile = FsOpen(path_.c_str(), kGenericRead);
    if (State.ArchiveFile == kInvalidHandle) throw std::runtime_error("cannot open " + path_);
    handle_ = State.ArchiveFile;
    State.FilePosition = 0;
    State.InputBuffer = buffer_ = (uint8_t*)MemAlloc(kInputBufferSize + kInputBufferSlack);
    memset(State.InputBuffer, 0xA5, kInputBufferSize + kInputBufferSlack);
    ResetInput();
    State.Stream.StreamStarted = 0;
    State.NextBlockPosition = 0;
    Profile.CancelRequested = 0;
}

ArchiveInput::~ArchiveInput() {
    FsClose(handle_);
    State.ArchiveFile = kInvalidHandle;
    remove(path_.c_str());
    MemFree(buffer_);
    State.InputBuffer = State.InputPointer = State.InputEnd = State.InputDataEnd = nullptr;
    Profile.CancelRequested = 0;
}

void ArchiveInput::LoadBlock(const std::vector<uint8_t>& bytes, uint32_t bitOffset) {
    if (bytes.size() > 61432) throw std::invalid_argument("block larger than a fill");
    memset(State.InputBuffer, 0xA5, kInputBufferSize + kInputBufferSlack);
    if (!bytes.empty()) memcpy(State.InputBuffer, bytes.data(), bytes.size());
    // As RefillInput leaves a block read to its end: no stale bytes right behind it.
    memset(State.InputBuffer + bytes.size(), 0, 32);
    State.InputPointer = State.InputBuffer;
    State.BitOffset = (int32_t)bitOffset;
    State.InputEnd = State.InputDataEnd = State.InputBuffer + bytes.size();
    State.BlockBytesLeft = 0;
}

uint64_t ArchiveInput::BitPosition() const {
    return (uint64_t)(State.InputPointer - State.InputBuffer) * 8 + (uint64_t)State.BitOffset;
}
