# Writes OUT, a C++ source holding the bytes of the file STUB as kEmbeddedStub${ARCH} and its
# size as kEmbeddedStub${ARCH}Size (ARCH is X86 or X64), so that `qar sfx` carries the
# installer stubs inside itself. Without STUB the array is empty and `qar sfx` asks for
# --stub. Run with cmake -P at build time, whenever the stub changes.
set(bytes "")
set(size 0)
if(STUB)
  file(READ "${STUB}" hex HEX)
  string(LENGTH "${hex}" digits)
  math(EXPR size "${digits} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(REGEX REPLACE "(0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,)"
         "\\1\n" bytes "${bytes}")
endif()
file(WRITE "${OUT}.tmp"
"// Generated from the installer stub at build time; do not edit.\n"
"#include \"tools/embedded_stub.h\"\n\n"
"const unsigned char kEmbeddedStub${ARCH}[] = {\n${bytes}0};\n"
"const uint32_t kEmbeddedStub${ARCH}Size = ${size};\n")
file(COPY_FILE "${OUT}.tmp" "${OUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUT}.tmp")
