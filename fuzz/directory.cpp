// Arbitrary bytes as the directory area of an archive: blocks are read one after another
// into an EntryBuffer of exactly 8192 bytes until the reader fails or stops moving on.
#include <stdlib.h>

#include "archive/directory.h"
#include "fuzz/support/fuzz_archive.h"
#include "profile/state.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzArchive(data, size);
    State.DirectoryPosition = 0;
    uint8_t* entries = (uint8_t*)malloc(kEntryBufferSize);
    for (int block = 0; block < 16; ++block) {
        int32_t before = State.DirectoryPosition;
        if (ReadDirectoryBlock(entries) != 0) break;
        FuzzCheck(State.EntryCursor == entries, "entries start at the buffer");
        FuzzCheck(State.EntryEnd >= entries && State.EntryEnd <= entries + kEntryBufferSize,
                  "decoded bytes stay in the EntryBuffer");
        FuzzCheck(State.DirectoryPosition > before, "the directory moves on");
        // Touch every decoded byte, so that uninitialised or stale data would be seen.
        uint32_t sum = 0;
        for (const uint8_t* p = entries; p < State.EntryEnd; ++p) sum += *p;
        (void)sum;
    }
    free(entries);
    return 0;
}
