// Bounded text formatting for messages and dialog texts. The stub has no C runtime, so this
// is the only formatter it has; it knows just the one conversion the messages use.
#include "platform/text.h"

#include <stdarg.h>

uint32_t TextLength(const char* text) {
    uint32_t n = 0;
    while (text[n] != 0) ++n;
    return n;
}

uint32_t CopyText(char* buffer, uint32_t size, const char* text) {
    if (size == 0) return 0;
    uint32_t n = 0;
    while (n + 1 < size && text[n] != 0) {
        buffer[n] = text[n];
        ++n;
    }
    buffer[n] = 0;
    return n;
}

uint32_t FormatText(char* buffer, uint32_t size, const char* format, ...) {
    if (size == 0) return 0;
    const uint32_t limit = size - 1;   // room for the terminator is kept in reserve
    uint32_t n = 0;
    va_list args;
    va_start(args, format);
    for (const char* f = format; *f != 0 && n < limit; ++f) {
        if (f[0] != '%' || f[1] != 's') {
            buffer[n++] = *f;
            continue;
        }
        ++f;
        const char* s = va_arg(args, const char*);
        if (s == nullptr) s = "";
        while (*s != 0 && n < limit) buffer[n++] = *s++;
    }
    va_end(args);
    buffer[n] = 0;
    return n;
}
