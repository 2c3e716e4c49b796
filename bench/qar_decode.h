// qar's side of the in-process decoding benchmark: every member of an archive extracted by
// the core's own code (directory reader, ExtractMember with call filter and CRC-32) to an
// output handle. Two bodies chosen at build time: qar_decode_member.cpp links the core;
// qar_decode_absent.cpp stands in while the core's decoder cannot be linked yet.
#pragma once

#include <stdint.h>

struct QarDecodeResult {
    int32_t Error;           // 0, or the negative code that stopped the run
    uint64_t Bytes;          // member bytes produced
    uint32_t Members;        // file entries extracted
    uint32_t CrcFailures;    // members whose CRC-32 differed from the directory's
    uint32_t LargestWindow;  // largest history window the extraction allocated, in bytes
};

// False when this build carries no decoder (the absent body).
bool QarDecodeLinked();

// Decodes every member of the bare archive at archivePath (read through the file-system
// layer) and writes the members to sinkPath (a /dev/null-like file).
QarDecodeResult DecodeQarArchive(const char* archivePath, const char* sinkPath);
