#include "pack/pe_detect.h"

#include "archive/records.h"

namespace {

// The machine field of a PE image, or 0 when the bytes hold none.
uint16_t PeMachine(const uint8_t* bytes, size_t size) {
    if (size < 0x40 || bytes[0] != 'M' || bytes[1] != 'Z') return 0;
    const uint32_t peOffset = ReadLe32(bytes + 0x3C);   // e_lfanew
    if (peOffset > size || size - peOffset < 6) return 0;
    const uint8_t* pe = bytes + peOffset;
    if (pe[0] != 'P' || pe[1] != 'E' || pe[2] != 0 || pe[3] != 0) return 0;
    return ReadLe16(pe + 4);
}

// The machine field of a little-endian ELF file, or 0 when the bytes hold none.
uint16_t ElfMachine(const uint8_t* bytes, size_t size) {
    if (size < 20 || bytes[0] != 0x7F || bytes[1] != 'E' || bytes[2] != 'L' || bytes[3] != 'F') return 0;
    if (bytes[5] != 1) return 0;   // EI_DATA: little-endian
    return ReadLe16(bytes + 18);   // e_machine
}

}  // namespace

bool IsX86PortableExecutable(const uint8_t* bytes, size_t size) {
    return PeMachine(bytes, size) == 0x014C;
}

bool IsX86Executable(const uint8_t* bytes, size_t size) {
    const uint16_t pe = PeMachine(bytes, size);
    if (pe == 0x014C || pe == 0x8664) return true;
    const uint16_t elf = ElfMachine(bytes, size);
    return elf == 3 || elf == 62;
}
