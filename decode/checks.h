// Assertions on the decoder's own invariants, such as the bounds of what it writes; never
// on the input, whose damage is an error code. Compiled into the native debug, test and fuzz
// builds (QAR_DECODE_ASSERTS), never into the stub or a Release build.
#pragma once

#if defined(QAR_DECODE_ASSERTS)
#define DECODE_ASSERT(condition) ((condition) ? (void)0 : __builtin_trap())
#else
#define DECODE_ASSERT(condition) ((void)0)
#endif
