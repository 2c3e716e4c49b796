// Little-endian byte order, byte by byte: every record that meets a file is read and written
// through these, never by casting a byte pointer to a wider type.
#pragma once

#include <stdint.h>

// Always inlined: the compiler turns the bytes into one load only after it has decided on
// inlining, so at -Oz it would otherwise call a three-byte function from every use.
__attribute__((always_inline)) inline uint16_t ReadLe16(const uint8_t* p) {
    return (uint16_t)(p[0] | (p[1] << 8));
}
__attribute__((always_inline)) inline uint32_t ReadLe32(const uint8_t* p) {
    return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}
inline void WriteLe16(uint8_t* p, uint16_t v) { p[0] = (uint8_t)v; p[1] = (uint8_t)(v >> 8); }
inline void WriteLe32(uint8_t* p, uint32_t v) {
    p[0] = (uint8_t)v; p[1] = (uint8_t)(v >> 8); p[2] = (uint8_t)(v >> 16); p[3] = (uint8_t)(v >> 24);
}
