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
    const unsigned char* a = (const unsigned char*)first;
    const unsigned char* b = (const unsigned char*)second;
    for (; count; --count, ++a, ++b) {
        if (*a != *b) return *a < *b ? -1 : 1;
    }
    return 0;
}

size_t strlen(const char* text) {
    const char* end = text;
    while (*end) ++end;
    return (size_t)(end - text);
}

}  // extern "C"
