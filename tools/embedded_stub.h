// The installer stub built into `qar` (generated from build/win32/stub.exe when the tool is
// built; cmake/embed_stub.cmake). kEmbeddedStubSize is 0 in a build made without the stub.
#pragma once

#include <stdint.h>

extern const unsigned char kEmbeddedStub[];
extern const uint32_t kEmbeddedStubSize;
