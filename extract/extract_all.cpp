// The extraction loop behind the Extract command: prepares the destination, walks the
// directory entry by entry, makes folders, asks before replacing files, writes each member
// with its time stamps, checks its CRC-32, applies its attributes and, when the run wrote and
// verified the installed program and ended without cancel or error, starts it from the
// destination.
#include "extract/extract.h"

#include <string.h>

#include "archive/directory.h"
#include "archive/records.h"
#include "decode/crc32.h"
#include "decode/member.h"
#include "extract/paths.h"
#include "platform/errors.h"
#include "platform/fs.h"
#include "platform/text.h"
#include "profile/product.h"
#include "profile/profile.h"
#include "profile/state.h"

ExtractCounts LastRunCounts;

namespace {

enum : uint32_t {
    kPathChars = 259,            // longest path, without its terminator
    kLongNameLength = 255,       // volumes below this take 8.3 names only
};

// Decoded directory bytes of the current block (one block at a time).
uint8_t EntryBuffer[kEntryBufferSize];

enum Outcome { kNextEntry, kStopRun };

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// "C:\" and a lone "\" name a root: they keep their backslash and get none added. Not
// inlined: the test is asked twice, and its code once takes fewer bytes than twice.
__attribute__((noinline)) bool IsRoot(const char* text, uint32_t length) {
    return (length == 3 && text[1] == ':' && text[2] == '\\') || (length == 1 && text[0] == '\\');
}

// Copies the entry's name to the name position and checks it. The name must stay inside
// the destination both as stored and after 8.3 shortening; otherwise the entry is damage.
bool PlaceName(char* namePosition, const uint8_t* name, uint32_t length) {
    if (FindByte(name, 0, length) != nullptr) return false;
    memcpy(namePosition, name, length);
    namePosition[length] = 0;
    if (!IsContainedName(namePosition)) return false;
    if (!Profile.UseShortNames) return true;
    bool endsOpen = length == 0 || IsSeparator(namePosition[length - 1]);
    MakeShortPath(namePosition);   // the prefix was shortened once before the loop
    if (!IsContainedName(namePosition)) return false;
    uint32_t shortLength = TextLength(namePosition);
    bool shortOpen = shortLength == 0 || IsSeparator(namePosition[shortLength - 1]);
    return endsOpen || !shortOpen;   // a component that shortened to nothing is refused
}

// Creates the output file, making its folders when the first attempt fails.
FileHandle CreateOutput(char* path) {
    FileHandle file = FsCreate(path, kAttrNormal);
    if (file != kInvalidHandle) return file;
    char* slash = FindLastChar(path, '\\');
    if (slash == nullptr || slash <= path) return file;
    *slash = 0;
    int made = CreateFolderTree(path);
    *slash = '\\';
    if (made) file = FsCreate(path, 0);
    return file;
}

// True when the file that handle holds, read from its start, still has the size and CRC-32
// that its directory entry gives.
bool StillVerified(FileHandle handle, uint32_t size, uint32_t expectedCrc) {
    uint8_t buffer[1024];
    uint32_t crc = 0xFFFFFFFFu;
    for (;;) {   // size counts the bytes still to come
        int32_t n = FsRead(handle, buffer, sizeof buffer);
        if (n <= 0) return n == 0 && size == 0 && ~crc == expectedCrc;
        if ((uint32_t)n > size) return false;
        size -= (uint32_t)n;
        crc = Crc32(buffer, (uint32_t)n, crc);
    }
}

// Lets go of the program file a run holds, if any.
void ReleaseProgram(FileHandle* program) {
    if (*program != kInvalidHandle) FsClose(*program);
    *program = kInvalidHandle;
}

// Keeps the program that file just wrote and verified from now until it is started: the
// file is opened again for reading only, so that nothing can write, rename or delete it
// meanwhile, found to be the very file written, and read again to its CRC-32, which catches
// a change made between the close of the writing handle and the reopen (Windows starts no
// program from a file that is open for writing, so that handle cannot be the one kept).
Outcome HoldProgram(WindowHandle dialog, const DirectoryEntry& entry, FileHandle file,
                    const char* path, FileHandle* program) {
    FileHandle held = FsReopenToRun(file, path);
    int32_t code = ErrOpen;
    if (held != kInvalidHandle) {
        if (StillVerified(held, entry.MemberSize, entry.MemberCrc)) {
            *program = held;
            return kNextEntry;
        }
        FsClose(held);
        code = ErrCrc;
    }
    return ReportError(dialog, code, path, true) ? kStopRun : kNextEntry;
}

// Writes one file entry. program is null unless the entry is named as the program; then the
// handle it points to holds the file once this call has written and verified it.
Outcome ExtractFile(WindowHandle dialog, const DirectoryEntry& entry, char* path,
                    const char* namePosition, FileHandle* program) {
    if (!Profile.OverwriteWithoutPrompt) {
        int32_t attributes = FsGetAttributes(path);
        if (attributes != -1 && (attributes & kAttrFolder) == 0) {
            int answer = AskOverwrite(path);
            if (answer == kOverwriteNo) {
                ++LastRunCounts.Skipped;
                return kNextEntry;
            }
            if (answer == kOverwriteYesToAll) Profile.OverwriteWithoutPrompt = 1;
        }
    }
    SetFormattedControlText(dialog, kControlProgress, "Extracting %s", namePosition);

    FileHandle file = CreateOutput(path);
    if (file == kInvalidHandle) {
        ++LastRunCounts.LeftOut;
        return ReportError(dialog, ErrCreate, path, true) ? kStopRun : kNextEntry;
    }

    PumpMessages();
    int32_t r = ExtractMember(file, entry.StreamOffset, entry.MemberOffset, entry.MemberSize,
                              entry.Flags);
    // ExtractMember gives ErrCrc for a member that came out short; a CRC-32 that differs
    // fails the same way: the file is deleted and the user may go on.
    if (r == 0 && State.RunningCrc != entry.MemberCrc) r = ErrCrc;
    if (r == ErrCrc) {
        ++LastRunCounts.Failed;
        FsDiscard(file, path);
        return ReportError(dialog, ErrCrc, path, true) ? kStopRun : kNextEntry;
    }
    if (r < 0) {
        ++LastRunCounts.Failed;
        ReportError(dialog, r, path, false);
        FsDiscard(file, path);
        return kStopRun;
    }
    FsSetTimes(file, entry.CreateDate, entry.CreateTime, entry.WriteDate, entry.WriteTime);
    FsSetFileAttributes(file, path, entry.Attributes & 7u);
    ++LastRunCounts.Files;
    if (program != nullptr) return HoldProgram(dialog, entry, file, path, program);
    FsClose(file);
    return kNextEntry;
}

// True when name is the program to run, letters compared without case as the file system
// does. An empty program name (start nothing) matches no entry.
bool IsProgramName(const char* name) {
    for (const char* p = Product.ProgramToRun;; ++name, ++p) {
        char a = *name, b = *p;
        // Two bytes that differ are the same letter when they differ in the case bit alone
        // and that bit set gives a lower-case letter.
        if (a != b) {
            char lower = (char)(a | 0x20);
            if ((a ^ b) != 0x20 || lower < 'a' || lower > 'z') return false;
        }
        if (a == 0) return true;
    }
}

// The run stopped with its message already shown: it returns 0 and starts nothing.
const int32_t kStoppedAndTold = 1;

// Takes the next entry of the directory and makes its folder or file beneath path, its name
// placed at namePosition (room for entryRoom characters). 0 to go on, kStoppedAndTold, or an
// error code that ends the run (damage in the directory, or a name that would leave the
// destination). *program follows the entries named as the program: the last one decides
// what the file on disk holds, so each lets go of the file an earlier one held, and holds
// it again only once it has written and verified it. Not inlined: inside ExtractAll's loop it
// made 88 bytes more of i686 code than a call costs (one per entry).
__attribute__((noinline)) int32_t ExtractNextEntry(WindowHandle dialog, char* path, char* namePosition,
                                                   uint32_t entryRoom, FileHandle* program) {
    DirectoryEntry entry;
    const uint8_t* name;
    int32_t r = NextDirectoryEntry(EntryBuffer, &entry, &name);
    if (r != 0) return r;
    if (entry.NameLength > entryRoom) {
        ++LastRunCounts.LeftOut;
        return 0;
    }
    if (!PlaceName(namePosition, name, entry.NameLength)) {
        // A name that would leave the destination: nothing of it is written.
        *namePosition = 0;
        return ErrDamaged;
    }
    if (entry.Flags & FlagFolder) {
        if (!CreateFolderTree(path)) {
            ReportError(dialog, ErrCreateFolder, path, false);
            return kStoppedAndTold;
        }
        FsSetAttributes(path, entry.Attributes & 7u);
        ++LastRunCounts.Folders;
        return 0;
    }
    FileHandle* held = nullptr;
    if (IsProgramName(namePosition)) {
        // Written, held and started under the one spelling that the start uses, so that the
        // name started is the name held.
        CopyText(namePosition, entryRoom + 1, Product.ProgramToRun);
        held = program;
        ReleaseProgram(held);
    }
    if (ExtractFile(dialog, entry, path, namePosition, held) == kStopRun) return kStoppedAndTold;
    return 0;
}

// Ends the run: its buffers and its destination.
void ReleaseRunBuffers() {
    FsSetDestination(nullptr);
    ReleaseInput();
}

}  // namespace

int ExtractAll(WindowHandle dialog) {
    memset(&LastRunCounts, 0, sizeof LastRunCounts);
    // The paths are built in the run's own buffer; the profile keeps the destination as the
    // user gave it. An unterminated destination is cut, then refused as too long.
    char* path = State.OutputPath;
    uint32_t length = CopyText(path, kOutputPathSize, Profile.DestinationFolder);

    // The destination text loses one trailing backslash, except a root's.
    if (length >= 2 && path[length - 1] == '\\' && !IsRoot(path, length)) path[--length] = 0;

    // 8.3 names on volumes without long names. When the volume cannot be asked, long names
    // are kept: a name the volume refuses then fails visibly instead of being renamed.
    uint32_t maxComponent = FsMaxComponentLength(path);
    Profile.UseShortNames = (uint8_t)(maxComponent != 0 && maxComponent < kLongNameLength);
    if (Profile.UseShortNames) {
        // Shortened once here, so that the prefix, the names and the program path agree.
        MakeShortPath(path);
        length = TextLength(path);
    }

    int32_t end = FsSeek(State.ArchiveFile, 0, kFileEnd);
    if (end < 0 || (uint32_t)end < Profile.ArchiveBase ||
        (uint32_t)end - Profile.ArchiveBase < kArchiveHeaderSize) {
        return ErrDamaged;
    }

    bool addSeparator = length > 0 && path[length - 1] != ':' && !IsRoot(path, length);
    uint32_t prefixLength = length + (addSeparator ? 1 : 0);
    if (prefixLength + TextLength(Product.ProgramToRun) > kPathChars) {
        // The program's path would not fit: no output path could be trusted to either.
        State.LastSystemError = kErrorBadPathname;
        ReportError(dialog, ErrCreateFolder, path, false);
        return 0;
    }
    // Once made, the destination is the run's: nothing beneath it is reached through a link.
    if ((length > 0 && path[length - 1] != ':' && !CreateFolderTree(path)) || !FsSetDestination(path)) {
        ReportError(dialog, ErrCreateFolder, path, false);
        return 0;
    }

    uint32_t directory = Profile.ArchiveBase + State.Header.DirectoryOffset;
    if (!AllocateInput()) {
        FsSetDestination(nullptr);
        return ErrNoMemory;
    }

    if (addSeparator) path[length++] = '\\';
    path[length] = 0;
    char* namePosition = path + length;

    StartDirectoryWalk(EntryBuffer, (int32_t)directory);
    const uint32_t entryRoom = kPathChars - prefixLength;
    int32_t result = 0;
    // The program is started only from a file this run wrote and verified under its name,
    // held from then on.
    FileHandle program = kInvalidHandle;

    for (uint32_t counter = 0; counter < State.Header.EntryCount && !Profile.CancelRequested;
         ++counter) {
        result = ExtractNextEntry(dialog, path, namePosition, entryRoom, &program);
        if (result != 0) break;
        // Between entries the dialog's messages are dispatched: Cancel and the close box
        // take effect at the next entry.
        PumpMessages();
    }

    // A run that ended early (cancelled, stopped, damaged directory or name) starts nothing.
    if (program != kInvalidHandle && result == 0 && !Profile.CancelRequested) {
        CopyText(namePosition, kOutputPathSize - (uint32_t)(namePosition - path),
                 Product.ProgramToRun);
        if (FsReadyToRun(program, path)) {
            StartProgram(path);
        } else {
            ReportError(dialog, ErrOpen, path, false);
        }
    }
    ReleaseProgram(&program);
    ReleaseRunBuffers();
    return result == kStoppedAndTold ? 0 : result;
}
