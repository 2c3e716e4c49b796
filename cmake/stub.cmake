# The Windows installer stub: its own entry point, no C runtime start-up, and only KERNEL32,
# USER32 and GDI32. Everything here aims at a small image: size-optimised code without
# unwind tables, optimised across files at link time, unused functions dropped, three
# sections (cmake/stub.ld), no base relocations (the image always
# loads at its preferred address), no time stamp (the same sources give the same bytes,
# which keeps installers reproducible), symbols stripped.
file(GLOB stub_src CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/startup/*.cpp)
file(GLOB stub_rc CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/ui/*.rc)

include(${CMAKE_SOURCE_DIR}/cmake/integrity.cmake)

# Flags of everything that goes into the stub, on both architectures:
# - no -fdata-sections: with it this compiler places zero-initialised variables in .data,
#   where they take room in the file; without it they stay in .bss and cost nothing;
# - link-time optimisation across the core (fat objects, so that the unit tests, which link
#   the same libraries without it, still find plain code);
# - no compiler identification string in every object;
# - -Oz; data aligned to its type only, not to 32 bytes for every array of that size or more;
# - passes that -Oz runs although, on this code, they cost bytes: RTL loop-invariant motion,
#   if-conversion, value-range propagation, final-value replacement of loop results, saving
#   call-clobbered registers around calls, shrink-wrapping, merging the tails of blocks that
#   end alike, turning calls in tail position into jumps, and sinking statements towards their
#   uses; and points-to analysis across the whole program, which -Oz leaves out although it
#   saves bytes here. Each was measured alone and together on the i686 stub
#   (docs/performance.md, "The stub's size"); the link step gets them too, since that is where
#   the program is compiled.
set(QAR_STUB_TUNING -fipa-pta -fno-move-loop-invariants -fno-if-conversion -fno-tree-vrp
    -fno-tree-scev-cprop -fno-caller-saves -fno-shrink-wrap -fno-tree-tail-merge
    -fno-optimize-sibling-calls -fno-tree-sink)
set(QAR_STUB_FLAGS -fno-data-sections -flto -ffat-lto-objects -fno-ident -Oz -malign-data=abi
    ${QAR_STUB_TUNING})
# What differs between the two architectures, all of it here:
# - i686: a 4-byte stack alignment (all Windows guarantees anyway: no padding of stack
#   frames, no realigning prologues, about 2% less code) and arguments pushed rather than
#   stored into a reserved area (a push of a constant takes 2 or 5 bytes, a store 8), about
#   5% less code. Stack probes need that reserved area; no function of the core has a frame
#   anywhere near the 4 KB that calls for a probe. No frame pointer either: this target
#   keeps one by default, and setting it up and tearing it down in every function costs more
#   than addressing the stack through ESP, about 1% of the code. Loops stay loops: the
#   compiler would turn TextLength's into a call of strlen, which takes more room here (12
#   bytes; on x86-64 the call is the smaller). The C names carry a leading underscore, so
#   the entry symbol is _StubEntry.
# - x86-64: the calling convention passes arguments in registers and fixes the stack
#   alignment at 16, so none of those flags apply; C names have no underscore. The unwind
#   tables that every x86-64 function gets are dropped by the linker script (cmake/stub.ld,
#   one script for both): the stub raises no exceptions.
set(QAR_STUB_LINKER_SCRIPT ${CMAKE_SOURCE_DIR}/cmake/stub.ld)
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
  set(QAR_STUB_ENTRY StubEntry)
else()
  list(APPEND QAR_STUB_FLAGS -mpreferred-stack-boundary=2 -mno-accumulate-outgoing-args
       -mno-stack-arg-probe -fomit-frame-pointer -fno-tree-loop-distribute-patterns)
  set(QAR_STUB_ENTRY _StubEntry)
endif()
foreach(lib ${QAR_CORE_LIBS} qar_ui)
  if(TARGET ${lib})
    target_compile_options(${lib} PRIVATE ${QAR_STUB_FLAGS})
  endif()
endforeach()

if(stub_src AND TARGET qar_ui)
  enable_language(RC)
  add_executable(stub WIN32 ${stub_src} ${stub_rc})
  target_include_directories(stub PRIVATE ${CMAKE_SOURCE_DIR})
  target_compile_options(stub PRIVATE ${QAR_CORE_FLAGS} ${QAR_STUB_FLAGS} -fno-stack-protector)
  # The copy and clear routines must not be compiled back into calls to themselves.
  set_source_files_properties(${CMAKE_SOURCE_DIR}/startup/crt_win32.cpp PROPERTIES
    COMPILE_OPTIONS "-ffreestanding;-fno-tree-loop-distribute-patterns;-fno-lto")
  target_link_options(stub PRIVATE -Oz -flto ${QAR_STUB_TUNING} -nostdlib -nostartfiles -Wl,-e,${QAR_STUB_ENTRY} -s
                      -Wl,-T,${QAR_STUB_LINKER_SCRIPT}
                      -Wl,--gc-sections -Wl,--disable-reloc-section -Wl,--disable-dynamicbase
                      -Wl,--nxcompat -Wl,--no-insert-timestamp -Wl,--build-id=none
                      -Wl,--file-alignment,512 -Wl,--section-alignment,4096)
  # The dialogs and the core call each other, so they are searched as one group.
  target_link_libraries(stub PRIVATE "$<LINK_GROUP:RESCAN,qar_ui,${core_list}>"
                        kernel32 user32 gdi32 gcc)
  set_property(TARGET stub APPEND PROPERTY LINK_DEPENDS ${QAR_STUB_LINKER_SCRIPT})
  add_custom_command(TARGET stub POST_BUILD
    COMMAND sh -c "echo \"stub.exe: $(stat -c %s '$<TARGET_FILE:stub>') bytes\"" VERBATIM)
endif()

# The sample product of the demo and the end-to-end tests, and the test driver that works
# an installer's dialogs under Wine. Both may use the C runtime; they are linked statically
# so that they run from any folder.
add_executable(tavlore WIN32 ${CMAKE_SOURCE_DIR}/samples/tavlore/tavlore.cpp)
target_link_options(tavlore PRIVATE -static)
add_executable(driver ${CMAKE_SOURCE_DIR}/tests/e2e/driver/driver.cpp)
target_link_options(driver PRIVATE -static)
target_link_libraries(driver PRIVATE version)
# The hook that the driver places in an installer's thread to ask for its windows' icons.
add_library(icon_probe SHARED ${CMAKE_SOURCE_DIR}/tests/e2e/driver/icon_probe.cpp)
set_target_properties(icon_probe PROPERTIES PREFIX "")
target_link_options(icon_probe PRIVATE -static -Wl,--kill-at)
add_dependencies(driver icon_probe)
