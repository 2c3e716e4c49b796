# The Linux side: the code pages of names and texts, the packer library and the `qar` command.
file(GLOB text_src CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/text/*.cpp)
add_library(qar_text STATIC ${text_src})
target_include_directories(qar_text PUBLIC ${CMAKE_SOURCE_DIR})

file(GLOB pack_src CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/pack/*.cpp)
if(pack_src)
  add_library(qar_pack STATIC ${pack_src})
  target_include_directories(qar_pack PUBLIC ${CMAKE_SOURCE_DIR})
  target_link_libraries(qar_pack PUBLIC qar_text)
  # Names are checked by the installer's own rules (extract/paths.h).
  target_link_libraries(qar_pack PUBLIC ${QAR_CORE})
endif()

# The commands live in a library (qar_tools) so that tests/tools can call them; `qar` is
# main.cpp and the built-in stub on top.
file(GLOB tool_src CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tools/*.cpp)
list(REMOVE_ITEM tool_src ${CMAKE_SOURCE_DIR}/tools/main.cpp)
if(tool_src)
  include(${CMAKE_SOURCE_DIR}/cmake/integrity.cmake)
  add_library(qar_tools STATIC ${tool_src})
  target_include_directories(qar_tools PUBLIC ${CMAKE_SOURCE_DIR})
  if(TARGET qar_pack)
    target_link_libraries(qar_tools PUBLIC qar_pack)
  endif()
  if(TARGET qar_ui)
    target_link_libraries(qar_tools PUBLIC qar_ui)
  endif()
  target_link_libraries(qar_tools PUBLIC qar_integrity ${QAR_CORE})
  add_executable(qar ${CMAKE_SOURCE_DIR}/tools/main.cpp)
  target_link_libraries(qar PRIVATE qar_tools)
  target_compile_definitions(qar PRIVATE QAR_VERSION="${PROJECT_VERSION}")
  # The C++ runtime linked into the program: loading and relocating the shared libstdc++
  # took about 0.3 ms of every run, a few per cent of `qar test` on an archive of some
  # megabytes. The C library stays shared (the package depends on it). Not with the
  # sanitizers, whose runtimes expect the shared one.
  if(NOT WIN32 AND NOT QAR_SANITIZE)
    include(CheckLinkerFlag)
    check_linker_flag(CXX "-static-libstdc++" QAR_STATIC_LIBSTDCXX)
    if(QAR_STATIC_LIBSTDCXX)
      target_link_options(qar PRIVATE -static-libstdc++ -static-libgcc)
    endif()
  endif()
endif()

# The installer stubs carried inside `qar` for `qar sfx` (QAR_STUB: i686, QAR_STUB64:
# x86-64), regenerated whenever one changes.
if(TARGET qar_tools)
  set(embedded_sources)
  foreach(arch X86 X64)
    if(arch STREQUAL "X86")
      set(stub_file "${QAR_STUB}")
    else()
      set(stub_file "${QAR_STUB64}")
    endif()
    set(embedded ${CMAKE_BINARY_DIR}/embedded_stub_${arch}.cpp)
    set(stub_depends ${CMAKE_SOURCE_DIR}/cmake/embed_stub.cmake)
    if(stub_file)
      list(APPEND stub_depends ${stub_file})
    endif()
    add_custom_command(OUTPUT ${embedded}
      COMMAND ${CMAKE_COMMAND} -DSTUB=${stub_file} -DARCH=${arch} -DOUT=${embedded}
              -P ${CMAKE_SOURCE_DIR}/cmake/embed_stub.cmake
      DEPENDS ${stub_depends} VERBATIM)
    list(APPEND embedded_sources ${embedded})
  endforeach()
  add_library(qar_embedded_stub STATIC ${embedded_sources})
  target_include_directories(qar_embedded_stub PRIVATE ${CMAKE_SOURCE_DIR})
  target_link_libraries(qar_tools PUBLIC qar_embedded_stub)
endif()

# A helper of the end-to-end tests (tests/e2e/run): archives that a Linux tree cannot give.
if(TARGET qar_pack)
  add_executable(e2e_make_archive ${CMAKE_SOURCE_DIR}/tests/e2e/make_archive.cpp)
  target_link_libraries(e2e_make_archive PRIVATE qar_test_support qar_integrity qar_pack ${QAR_CORE})
endif()
