// Recognises x86 machine code (Windows executables, ELF objects) by the files' headers, so
// that `--filter auto` applies the 32-bit call filter to them whatever their names.
#pragma once

#include <stddef.h>
#include <stdint.h>

// bytes: the start of the file (at least the first 4 KiB where available); size: how many
// bytes of it are given. True for an MZ header whose e_lfanew leads, inside the given
// bytes, to "PE\0\0" with machine 0x014C (i386).
bool IsX86PortableExecutable(const uint8_t* bytes, size_t size);

// True for an x86 or x86-64 executable: a PE image with machine 0x014C or 0x8664, or a
// little-endian ELF file with machine 3 (i386) or 62 (x86-64). Their relative calls are the
// same 0xE8 and 32-bit operand, so the 32-bit call filter pays on all of them.
bool IsX86Executable(const uint8_t* bytes, size_t size);
