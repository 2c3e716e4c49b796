// Canonical prefix codes from code lengths, and the two-level decode tables.
#pragma once

#include <stdint.h>

#include "profile/state.h"

const int32_t EmptyEntry = -288;

void BuildCanonicalCodes(uint32_t* codes, const uint8_t* lengths, int n);
int32_t BuildDecodeTable(int32_t* primary, DecodeNode* tree, const uint32_t* codes,
                         const uint8_t* lengths, int k, int n);
