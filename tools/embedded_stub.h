// The installer stubs built into `qar`: the i686 one (generated from build/win32/stub.exe)
// and its x86-64 twin (build/win64/stub.exe), turned into sources when the tool is built
// (cmake/embed_stub.cmake). A size is 0 in a build made without that stub.
#pragma once

#include <stdint.h>

extern const unsigned char kEmbeddedStubX86[];
extern const uint32_t kEmbeddedStubX86Size;
extern const unsigned char kEmbeddedStubX64[];
extern const uint32_t kEmbeddedStubX64Size;
