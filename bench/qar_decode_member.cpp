// Extracts every member of an archive the way the extraction loop does (same directory
// walk, same ExtractMember calls, same CRC comparison) but without creating files, time
// stamps or attributes: what is left is reading, decoding, the call filter, the CRC-32 and
// handing the bytes to FsWrite.
#include "bench/qar_decode.h"

#include "archive/directory.h"
#include "archive/records.h"
#include "decode/member.h"
#include "platform/errors.h"
#include "platform/fs.h"
#include "profile/profile.h"
#include "profile/state.h"

bool QarDecodeLinked() { return true; }

namespace {

uint8_t entryBuffer[kEntryBufferSize];

QarDecodeResult WalkDirectory(FileHandle sink) {
    QarDecodeResult result = {0, 0, 0, 0, 0};
    uint8_t head[kArchiveHeaderSize];
    if (FsSeek(State.ArchiveFile, (int32_t)Profile.ArchiveBase, kFileBegin) < 0) {
        result.Error = ErrSeek;
        return result;
    }
    if (FsRead(State.ArchiveFile, head, kArchiveHeaderSize) != (int32_t)kArchiveHeaderSize) {
        result.Error = ErrRead;
        return result;
    }
    ReadArchiveHeader(head, &State.Header);

    StartDirectoryWalk(entryBuffer, (int32_t)(Profile.ArchiveBase + State.Header.DirectoryOffset));
    for (uint32_t i = 0; i < State.Header.EntryCount; ++i) {
        DirectoryEntry entry;
        const uint8_t* name;
        int32_t r = NextDirectoryEntry(entryBuffer, &entry, &name);
        if (r != 0) {
            result.Error = r;
            return result;
        }
        if ((entry.Flags & FlagFolder) != 0) continue;
        r = ExtractMember(sink, entry.StreamOffset, entry.MemberOffset, entry.MemberSize,
                          entry.Flags);
        if (r < 0 && r != ErrCrc) {
            result.Error = r;
            return result;
        }
        // A short member (ErrCrc) counts as a CRC failure, as in the extraction loop.
        if (r == ErrCrc || State.RunningCrc != entry.MemberCrc) ++result.CrcFailures;
        ++result.Members;
        result.Bytes += entry.MemberSize;
        if (State.Stream.WindowCapacity > result.LargestWindow) {
            result.LargestWindow = State.Stream.WindowCapacity;
        }
    }
    return result;
}

}  // namespace

QarDecodeResult DecodeQarArchive(const char* archivePath, const char* sinkPath) {
    QarDecodeResult result = {ErrOpen, 0, 0, 0, 0};
    FileHandle archive = FsOpen(archivePath, kGenericRead);
    if (archive == kInvalidHandle) return result;
    FileHandle sink = FsOpen(sinkPath, kGenericWrite);
    if (sink == kInvalidHandle) {
        FsClose(archive);
        return result;
    }
    Profile.ArchiveBase = 0;
    Profile.CancelRequested = 0;
    State.ArchiveFile = archive;
    State.InputBuffer = (uint8_t*)MemAlloc(kInputBufferSize + kInputBufferSlack);
    if (State.InputBuffer == nullptr) {
        result.Error = ErrNoMemory;
    } else {
        State.Stream.Window = nullptr;
        State.Stream.WindowCapacity = 0;
        State.Stream.StreamPosition = -1;
        result = WalkDirectory(sink);
        ReleaseStream();
        MemFree(State.InputBuffer);
        State.InputBuffer = nullptr;
    }
    FsClose(sink);
    FsClose(archive);
    return result;
}
