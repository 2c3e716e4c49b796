# libFuzzer targets (QAR_FUZZ=ON, clang only; scripts/fuzz configures build/fuzz for them).
# Each fuzz/<name>.cpp becomes fuzz_<name>. The core libraries get the same AddressSanitizer
# and UndefinedBehaviorSanitizer instrumentation and the fuzzer's coverage hooks, so that
# faults inside the decoders are found, not only in the targets. fuzz/support holds helpers
# shared by the targets; fuzz/seeds/make_seeds.cpp writes the starting corpora.
if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  message(FATAL_ERROR "QAR_FUZZ needs clang: configure with CC=clang CXX=clang++")
endif()

set(QAR_FUZZ_FLAGS -fsanitize=address,undefined -fno-sanitize-recover=all
    -fno-omit-frame-pointer -g)
# Instrumented core. Warnings that only clang gives do not stop fuzzing.
foreach(lib ${QAR_CORE_LIBS} qar_ui qar_integrity qar_tools qar_pack)
  if(TARGET ${lib})
    target_compile_options(${lib} PRIVATE ${QAR_FUZZ_FLAGS} -fsanitize=fuzzer-no-link -Wno-error)
  endif()
endforeach()

file(GLOB fuzz_support_src CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/fuzz/support/*.cpp)
add_library(qar_fuzz_support STATIC ${fuzz_support_src})
target_include_directories(qar_fuzz_support PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_options(qar_fuzz_support PRIVATE ${QAR_FUZZ_FLAGS} -fsanitize=fuzzer-no-link)

set(QAR_FUZZ_TARGETS)
file(GLOB fuzz_src CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/fuzz/*.cpp)
foreach(src ${fuzz_src})
  get_filename_component(name ${src} NAME_WE)
  add_executable(fuzz_${name} ${src})
  target_include_directories(fuzz_${name} PRIVATE ${CMAKE_SOURCE_DIR})
  target_compile_options(fuzz_${name} PRIVATE ${QAR_FUZZ_FLAGS} -fsanitize=fuzzer)
  target_link_options(fuzz_${name} PRIVATE -fsanitize=fuzzer,address,undefined)
  target_link_libraries(fuzz_${name} PRIVATE qar_fuzz_support ${QAR_CORE})
  if(TARGET qar_ui)
    target_link_libraries(fuzz_${name} PRIVATE qar_ui ${QAR_CORE})
  endif()
  # The start-up path of installers: finding the archive behind a stub, the integrity words.
  if(TARGET qar_tools)
    target_link_libraries(fuzz_${name} PRIVATE qar_tools qar_integrity ${QAR_CORE})
  endif()
  list(APPEND QAR_FUZZ_TARGETS fuzz_${name})
endforeach()
add_custom_target(fuzzers DEPENDS ${QAR_FUZZ_TARGETS})

# The seed writer: an ordinary program that writes well-formed inputs for the targets.
file(GLOB fuzz_seed_src CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/fuzz/seeds/*.cpp)
if(fuzz_seed_src)
  add_executable(fuzz_make_seeds EXCLUDE_FROM_ALL ${fuzz_seed_src})
  target_link_libraries(fuzz_make_seeds PRIVATE qar_test_support)
endif()
