// Counts heap bytes by usable size. The program is single-threaded, so plain counters do.
#include "bench/heap_count.h"

#include <errno.h>
#include <malloc.h>
#include <stddef.h>
#include <stdlib.h>

extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* block, size_t size);
void* __libc_memalign(size_t alignment, size_t size);
void __libc_free(void* block);
}

namespace {

uint64_t inUse = 0;
uint64_t peak = 0;
uint64_t base = 0;

void* Counted(void* block) {
    if (block != nullptr) {
        inUse += malloc_usable_size(block);
        if (inUse > peak) peak = inUse;
    }
    return block;
}

}  // namespace

void HeapResetPeak() {
    base = inUse;
    peak = inUse;
}

uint64_t HeapPeakGrowth() { return peak - base; }

extern "C" {

void* malloc(size_t size) noexcept { return Counted(__libc_malloc(size)); }

void* calloc(size_t count, size_t size) noexcept { return Counted(__libc_calloc(count, size)); }

void free(void* block) noexcept {
    if (block == nullptr) return;
    inUse -= malloc_usable_size(block);
    __libc_free(block);
}

void* realloc(void* block, size_t size) noexcept {
    size_t old = block != nullptr ? malloc_usable_size(block) : 0;
    void* moved = __libc_realloc(block, size);
    if (moved == nullptr) {
        if (size == 0) inUse -= old;   // glibc frees the block for a size of 0
        return nullptr;
    }
    inUse -= old;
    return Counted(moved);
}

void* memalign(size_t alignment, size_t size) noexcept {
    return Counted(__libc_memalign(alignment, size));
}

void* aligned_alloc(size_t alignment, size_t size) noexcept {
    return Counted(__libc_memalign(alignment, size));
}

int posix_memalign(void** out, size_t alignment, size_t size) noexcept {
    if (alignment < sizeof(void*) || (alignment & (alignment - 1)) != 0) return EINVAL;
    void* block = Counted(__libc_memalign(alignment, size));
    if (block == nullptr) return ENOMEM;
    *out = block;
    return 0;
}

}  // extern "C"
