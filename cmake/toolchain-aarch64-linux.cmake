# Cross build for 64-bit ARM Linux with Debian's g++-aarch64-linux-gnu; the unit tests run
# under qemu-aarch64-static (scripts/test.d/60-aarch64), which CTest calls by itself.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_FIND_ROOT_PATH /usr/aarch64-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Linked statically, so that qemu needs no prefix for the ARM libraries: with one (-L), qemu
# also redirects "/" to that prefix, and the file-system layer, which walks every path from
# an open handle of "/", would walk the prefix instead of the real tree.
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64-static)
