#include "pack/pe_detect.h"

#include "archive/records.h"

bool IsX86PortableExecutable(const uint8_t* bytes, size_t size) {
    if (size < 0x40 || bytes[0] != 'M' || bytes[1] != 'Z') return false;
    const uint32_t peOffset = ReadLe32(bytes + 0x3C);   // e_lfanew
    if (peOffset > size || size - peOffset < 6) return false;
    const uint8_t* pe = bytes + peOffset;
    if (pe[0] != 'P' || pe[1] != 'E' || pe[2] != 0 || pe[3] != 0) return false;
    return ReadLe16(pe + 4) == 0x014C;
}
