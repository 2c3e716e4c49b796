# libFuzzer targets (QAR_FUZZ=ON, clang only; scripts/fuzz configures build/fuzz for them).
# Each fuzz/<name>.cpp becomes fuzz_<name> (the decoding ones also fuzz_<name>32, below), all
# listed in fuzz_targets.txt of the build folder with their corpus names. The core libraries
# get the same AddressSanitizer and UndefinedBehaviorSanitizer instrumentation and the
# fuzzer's coverage hooks, so that faults inside the decoders are found, not only in the
# targets. fuzz/support holds helpers
# shared by the targets; fuzz/seeds/make_seeds.cpp writes the starting corpora.
if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  message(FATAL_ERROR "QAR_FUZZ needs clang: configure with CC=clang CXX=clang++")
endif()

set(QAR_FUZZ_FLAGS -fsanitize=address,undefined -fno-sanitize-recover=all
    -fno-omit-frame-pointer -g)
# Instrumented core. Warnings that only clang gives do not stop fuzzing.
foreach(lib ${QAR_CORE_LIBS} qar_ui qar_integrity qar_tools qar_pack qar_text)
  if(TARGET ${lib})
    target_compile_options(${lib} PRIVATE ${QAR_FUZZ_FLAGS} -fsanitize=fuzzer-no-link -Wno-error)
  endif()
endforeach()

file(GLOB fuzz_support_src CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/fuzz/support/*.cpp)
add_library(qar_fuzz_support STATIC ${fuzz_support_src})
target_include_directories(qar_fuzz_support PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_options(qar_fuzz_support PRIVATE ${QAR_FUZZ_FLAGS} -fsanitize=fuzzer-no-link)

# The decoding core a second time, with the 32-bit bit word of the i686 stub
# (decode/bitword/32) in place of the pointer-wide one: the targets named here are built
# once per width, the twin as fuzz_<name>32, which links this core instead of qar_decode
# (and so neither qar_tools nor anything else that brings the whole core along).
set(QAR_FUZZ_WORD32 block_decoder code_lengths member pack_roundtrip)
get_target_property(decode_src qar_decode SOURCES)
add_library(qar_decode32 STATIC ${decode_src})
target_include_directories(qar_decode32 PUBLIC ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/decode/bitword/32)
target_compile_options(qar_decode32 PRIVATE ${QAR_CORE_FLAGS} ${QAR_FUZZ_FLAGS}
                       -fsanitize=fuzzer-no-link -Wno-error)
target_compile_definitions(qar_decode32 PRIVATE QAR_DECODE_ASSERTS)
target_compile_definitions(qar_decode PRIVATE QAR_DECODE_ASSERTS)
set(core32_libs ${QAR_CORE_LIBS})
list(TRANSFORM core32_libs REPLACE "^qar_decode$" qar_decode32)
list(JOIN core32_libs "," core32_list)

# fuzz_<target> from fuzz/<source>.cpp; width is "native" or "32".
function(qar_fuzz_target target source width)
  add_executable(fuzz_${target} ${CMAKE_SOURCE_DIR}/fuzz/${source}.cpp)
  target_include_directories(fuzz_${target} PRIVATE ${CMAKE_SOURCE_DIR})
  target_compile_options(fuzz_${target} PRIVATE ${QAR_FUZZ_FLAGS} -fsanitize=fuzzer)
  target_link_options(fuzz_${target} PRIVATE -fsanitize=fuzzer,address,undefined)
  if(width STREQUAL "32")
    set(core "$<LINK_GROUP:RESCAN,${core32_list}>")
  else()
    set(core ${QAR_CORE})
  endif()
  target_link_libraries(fuzz_${target} PRIVATE qar_fuzz_support ${core})
  if(TARGET qar_ui)
    target_link_libraries(fuzz_${target} PRIVATE qar_ui ${core})
  endif()
  if(width STREQUAL "32")
    if(TARGET qar_pack)
      target_link_libraries(fuzz_${target} PRIVATE qar_pack ${core})
    endif()
  elseif(TARGET qar_tools)
    # The start-up path of installers: finding the archive behind a stub, the integrity words.
    target_link_libraries(fuzz_${target} PRIVATE qar_tools qar_integrity ${core})
  endif()
endfunction()

# Every target with the folder name of its corpus and regressions, for scripts/fuzz.
set(QAR_FUZZ_TARGETS)
set(fuzz_list "")
file(GLOB fuzz_src CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/fuzz/*.cpp)
foreach(src ${fuzz_src})
  get_filename_component(name ${src} NAME_WE)
  qar_fuzz_target(${name} ${name} native)
  list(APPEND QAR_FUZZ_TARGETS fuzz_${name})
  string(APPEND fuzz_list "${name} ${name}\n")
  if(name STREQUAL "extract_all")
    # The input may make the destination a volume without long names (8.3 only), which no
    # Linux file system is: the target answers FsMaxComponentLength(const char*) for it.
    target_link_options(fuzz_extract_all PRIVATE -Wl,--wrap=_Z20FsMaxComponentLengthPKc)
  endif()
  if(name IN_LIST QAR_FUZZ_WORD32)
    qar_fuzz_target(${name}32 ${name} 32)
    list(APPEND QAR_FUZZ_TARGETS fuzz_${name}32)
    string(APPEND fuzz_list "${name}32 ${name}\n")
  endif()
endforeach()
file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/fuzz_targets.txt CONTENT "${fuzz_list}")
add_custom_target(fuzzers DEPENDS ${QAR_FUZZ_TARGETS})

# The seed writer: an ordinary program that writes well-formed inputs for the targets.
file(GLOB fuzz_seed_src CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/fuzz/seeds/*.cpp)
if(fuzz_seed_src)
  add_executable(fuzz_make_seeds EXCLUDE_FROM_ALL ${fuzz_seed_src})
  target_link_libraries(fuzz_make_seeds PRIVATE qar_test_support)
endif()
