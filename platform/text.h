// Bounded text formatting and byte-string helpers shared by the stub and the tools.
#pragma once

#include <stdint.h>

// Formats into buffer (size bytes, always terminated, never written past). Understands
// %s (text, a null pointer as empty), the one conversion the messages use; anything else,
// another conversion included, is copied as it is.
// Returns the length written. A text that does not fit is cut.
uint32_t FormatText(char* buffer, uint32_t size, const char* format, ...);

uint32_t TextLength(const char* text);
// Copies text into buffer (size bytes, always terminated); returns the length copied.
uint32_t CopyText(char* buffer, uint32_t size, const char* text);
