// Recognises 32-bit x86 Windows executables (EXE, DLL, SYS...) by their headers, so that
// `--filter auto` applies the 32-bit call filter to them whatever their names.
#pragma once

#include <stddef.h>
#include <stdint.h>

// bytes: the start of the file (at least the first 4 KiB where available); size: how many
// bytes of it are given. True for an MZ header whose e_lfanew leads, inside the given
// bytes, to "PE\0\0" with machine 0x014C (i386).
bool IsX86PortableExecutable(const uint8_t* bytes, size_t size);
