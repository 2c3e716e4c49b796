// The few C library routines the stub needs. It links without the C runtime, but the
// compiler still emits calls to these for block copies and clears. String instructions
// keep them a few bytes long and fast on current processors (which move whole cache lines
// for "rep movsb" and "rep stosb").
#include <stddef.h>

extern "C" {

void* memcpy(void* destination, const void* source, size_t count) {
    void* d = destination;
    __asm__ volatile("rep movsb" : "+D"(d), "+S"(source), "+c"(count) : : "memory");
    return destination;
}

void* memmove(void* destination, const void* source, size_t count) {
    unsigned char* d = (unsigned char*)destination;
    const unsigned char* s = (const unsigned char*)source;
    if (d <= s || d >= s + count) return memcpy(destination, source, count);
    // Overlapping with the destination behind the source: copy from the end down.
    d += count - 1;
    s += count - 1;
    __asm__ volatile("std\n\trep movsb\n\tcld" : "+D"(d), "+S"(s), "+c"(count) : : "memory");
    return destination;
}

void* memset(void* destination, int value, size_t count) {
    void* d = destination;
    __asm__ volatile("rep stosb" : "+D"(d), "+c"(count) : "a"(value) : "memory");
    return destination;
}

int memcmp(const void* first, const void* second, size_t count) {
    // With count 0 the comparison does not run and the flags of the clear still say equal;
    // otherwise the carry of the first differing pair gives -1, its absence 1.
    int result;
    __asm__ volatile("xor %%eax, %%eax\n\trepe cmpsb\n\tje 1f\n\tsbb %%eax, %%eax\n\tor $1, %%eax\n1:"
                     : "=&a"(result), "+S"(first), "+D"(second), "+c"(count)
                     :
                     : "cc", "memory");
    return result;
}

size_t strlen(const char* text) {
    const char* end = text;
    while (*end) ++end;
    return (size_t)(end - text);
}

}  // extern "C"
