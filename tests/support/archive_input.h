// Sets up the archive reader for tests: a temporary file as State.ArchiveFile and a fresh,
// padded InputBuffer, both released again when the object goes.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

class ArchiveInput {
public:
    // The archive file holds fileBytes; the file position and FilePosition stand at 0.
    explicit ArchiveInput(const std::vector<uint8_t>& fileBytes = {});
    ~ArchiveInput();
    ArchiveInput(const ArchiveInput&) = delete;
    ArchiveInput& operator=(const ArchiveInput&) = delete;

    // Puts bytes at the start of the InputBuffer as a block read to its end, with the
    // position at bitOffset of the first byte. The buffer's other bytes are filled with
    // junk, standing in for what an earlier block left there.
    void LoadBlock(const std::vector<uint8_t>& bytes, uint32_t bitOffset = 0);
    // Bits consumed since the start of the buffer.
    uint64_t BitPosition() const;

private:
    std::string path_;
    intptr_t handle_;
    uint8_t* buffer_;
};
