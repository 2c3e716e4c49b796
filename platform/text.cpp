// Bounded text formatting for messages and dialog texts. The stub has no C runtime, so this
// is the only formatter it has; it knows just the three conversions the messages use.
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
        if (f[0] != '%' || (f[1] != 's' && f[1] != 'c' && f[1] != 'u')) {
            buffer[n++] = *f;
            continue;
        }
        ++f;
        if (*f == 's') {
            const char* s = va_arg(args, const char*);
            if (s == nullptr) s = "";
            while (*s != 0 && n < limit) buffer[n++] = *s++;
        } else if (*f == 'c') {
            buffer[n++] = (char)va_arg(args, int);
        } else {
            unsigned value = va_arg(args, unsigned);
            char digits[10];
            int count = 0;
            do {
                digits[count++] = (char)('0' + value % 10);
                value /= 10;
            } while (value != 0);
            while (count > 0 && n < limit) buffer[n++] = digits[--count];
        }
    }
    va_end(args);
    buffer[n] = 0;
    return n;
}
