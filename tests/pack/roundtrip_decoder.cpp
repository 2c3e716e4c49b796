#include "tests/pack/roundtrip_decoder.h"

#include <string.h>

#include <stdio.h>
#include <unistd.h>

#include "archive/directory.h"
#include "decode/crc32.h"
#include "decode/member.h"
#include "pack/encoder.h"
#include "archive/records.h"
#include "decode/input.h"
#include "decode/lzdecode.h"
#include "platform/fs.h"
#include "profile/profile.h"
#include "profile/state.h"
#include "tests/support/archive_input.h"

namespace {

std::vector<uint8_t> ReadWholeFile(const std::string& path) {
    std::vector<uint8_t> bytes;
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) return bytes;
    uint8_t buffer[65536];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) bytes.insert(bytes.end(), buffer, buffer + n);
    fclose(f);
    return bytes;
}

struct Window {
    std::vector<uint8_t> Bytes;   // its size is WindowCapacity
    uint32_t History = 0;

    void Ensure(uint32_t history, uint32_t decoded) {
        if (history + decoded > Bytes.size()) Bytes.resize(history + decoded + 512);
    }
    void Trim(uint32_t keep) {
        if (History <= keep) return;
        memmove(Bytes.data(), Bytes.data() + History - keep, keep);
        History = keep;
    }
};

}  // namespace

StreamDecodeResult DecodeStreamBytes(const std::vector<uint8_t>& stream) {
    StreamDecodeResult result;
    // The blocks must tile the stream exactly, and all but the last need 8 bytes.
    size_t at = 0;
    while (true) {
        if (at + 6 > stream.size()) { result.Error = "block header past the end"; return result; }
        uint32_t low = ReadLe32(&stream[at]);
        uint32_t blockSize = (uint32_t)(stream[at + 3] | stream[at + 4] << 8 | stream[at + 5] << 16) >> 1 & 0xFFFFF;
        bool last = (low >> 4) & 1;
        if (!last && blockSize < 8) { result.Error = "inner block under 8 bytes"; return result; }
        at += blockSize;
        if (last) break;
    }
    if (at != stream.size()) { result.Error = "block sizes do not add up to the stream"; return result; }

    std::vector<uint8_t> file = stream;
    file.resize(file.size() + 16, 0x5A);   // whatever follows the stream in the archive
    ArchiveInput input(file);
    Window window;
    bool started = false;
    uint32_t previous = 0;
    while (true) {
        int32_t r = RefillInput(true);
        if (r < 0) { result.Error = "RefillInput failed " + std::to_string(r); return result; }
        window.History += previous;
        uint32_t low = ReadLe32(State.InputPointer);
        uint32_t type = low & 15, last = (low >> 4) & 1, decoded = (low >> 5) & 0xFFFFF;
        State.InputPointer += 5;
        State.BitOffset = 5;
        if (!started) window.Bytes.assign(decoded + 512, 0);
        result.Blocks++;
        if (type == 1) {
            uint32_t bits = ReadLe16(State.InputPointer) >> 5;
            if (started) {
                uint32_t windowClass = bits & 3;
                if (windowClass == 3) windowClass = 2;
                window.Trim(Profile.WindowSizes[windowClass][(bits >> 2) & 7]);
                window.Ensure(window.History, decoded);
            }
            State.InputPointer += 6 - 5;
            State.BitOffset = 2;
            uint8_t mu = (uint8_t)(ReadLe16(State.InputPointer) >> 2);
            result.TableSets += mu >> 2;
            if ((mu & 3) == 3) result.ThreeAlphabetBlocks++;
            r = DecodeLzBlock(window.Bytes.data(), window.History, decoded);
        } else if (type == 0) {
            result.StoredBlocks++;
            window.Ensure(0, decoded);
            if (last) {
                window.History = 0;
            } else {
                int64_t byLimit = 524288 - (int64_t)decoded;
                uint32_t keep = byLimit < 0 ? 0 : (uint32_t)byLimit;
                keep = std::min<uint32_t>(keep, (uint32_t)window.Bytes.size() - decoded);
                window.Trim(keep);
            }
            r = CopyStored(window.Bytes.data() + window.History, decoded);
        } else {
            result.Error = "block type " + std::to_string(type);
            return result;
        }
        if (r < 0) { result.Error = "block failed " + std::to_string(r); return result; }
        result.Bytes.insert(result.Bytes.end(), window.Bytes.begin() + window.History,
                            window.Bytes.begin() + window.History + r);
        if ((uint32_t)r != decoded) { result.Error = "block decoded short"; return result; }
        State.NextBlockPosition = State.FilePosition;
        State.Stream.StreamStarted = 1;
        started = true;
        previous = decoded;
        if (last) break;
    }
    result.Ok = true;
    return result;
}

StreamDecodeResult DecodeDirectoryBytes(const std::vector<uint8_t>& block) {
    StreamDecodeResult result;
    // Signature, block, then bytes standing for the next directory block.
    std::vector<uint8_t> file(6 + block.size() + 64, 0x5A);
    memcpy(file.data(), "QARDE", 6);
    if (!block.empty()) memcpy(file.data() + 6, block.data(), block.size());
    ArchiveInput input(file);
    std::vector<uint8_t> entries(8192);
    State.DirectoryPosition = 0;
    State.EntryCursor = State.EntryEnd = entries.data();
    int32_t r = ReadDirectoryBlock(entries.data());
    if (r < 0) { result.Error = "ReadDirectoryBlock failed " + std::to_string(r); return result; }
    result.Bytes.assign(entries.data(), State.EntryEnd);
    if (State.DirectoryPosition != (int32_t)(6 + block.size())) {
        result.Error = "directory position lands at " + std::to_string(State.DirectoryPosition);
        return result;
    }
    result.Ok = true;
    return result;
}

StreamDecodeResult ExtractMembersThroughCore(const std::vector<std::vector<uint8_t>>& members,
                                             const EncodeOptions& options,
                                             std::vector<std::vector<uint8_t>>* extracted) {
    StreamDecodeResult result;
    BuildCrcTable();
    std::vector<uint8_t> stream;
    std::vector<uint32_t> offsets;
    std::vector<uint32_t> crcs;
    for (const auto& m : members) {
        offsets.push_back((uint32_t)stream.size());
        LocalHeader header = {(uint32_t)m.size(), 1, 0, 0, 0};
        uint8_t bytes[kLocalHeaderSize + 1];
        WriteLocalHeader(header, bytes);
        bytes[kLocalHeaderSize] = 'n';
        stream.insert(stream.end(), bytes, bytes + sizeof bytes);
        stream.insert(stream.end(), m.begin(), m.end());
        uint32_t crc = ~Crc32(m.data(), (uint32_t)m.size(), 0xFFFFFFFFu);
        crcs.push_back(m.empty() ? 0 : crc);
        uint8_t crcBytes[4];
        WriteLe32(crcBytes, crc);
        stream.insert(stream.end(), crcBytes, crcBytes + 4);
    }
    std::vector<uint8_t> archive(6, 0);
    memcpy(archive.data(), "QARLH", 6);
    std::vector<uint8_t> blocks = EncodeStream(stream.data(), stream.size(), options);
    archive.insert(archive.end(), blocks.begin(), blocks.end());
    ArchiveInput input(archive);
    Profile.ArchiveBase = 0;
    ReleaseStream();
    std::string path = "qar_extract_" + std::to_string(getpid()) + ".bin";
    extracted->clear();
    for (size_t k = 0; k < members.size(); k++) {
        FileHandle out = FsCreate(path.c_str(), kAttrNormal);
        if (out == kInvalidHandle) { result.Error = "cannot create " + path; break; }
        int32_t r = ExtractMember(out, 0, offsets[k], (uint32_t)members[k].size(), 0);
        FsClose(out);
        extracted->push_back(ReadWholeFile(path));
        if (r != 0) { result.Error = "ExtractMember returned " + std::to_string(r); break; }
        if (State.RunningCrc != crcs[k]) { result.Error = "CRC differs"; break; }
    }
    ReleaseStream();
    remove(path.c_str());
    result.Ok = result.Error.empty();
    return result;
}
