# Benchmark programs (Linux only). Not part of the default build: bench/run and bench/smoke
# build them by name, in their own build folders, with Release flags.
if(WIN32)
  return()
endif()

# bench_inproc and bench_crc: qar's decoding and CRC-32 beside zlib, libdeflate and zstd.
# QAR_BENCH_QAR=OFF builds the in-process harness without qar's decoder (its column is then
# "n/a"), for trees whose decoder cannot be linked yet.
option(QAR_BENCH_QAR "Link qar's member extraction into bench_inproc" ON)
if(QAR_BENCH_QAR)
  set(bench_qar_src ${CMAKE_SOURCE_DIR}/bench/qar_decode_member.cpp)
else()
  set(bench_qar_src ${CMAKE_SOURCE_DIR}/bench/qar_decode_absent.cpp)
endif()

add_executable(bench_inproc EXCLUDE_FROM_ALL ${CMAKE_SOURCE_DIR}/bench/decode_inproc.cpp
               ${CMAKE_SOURCE_DIR}/bench/heap_count.cpp ${bench_qar_src})
add_executable(bench_crc EXCLUDE_FROM_ALL ${CMAKE_SOURCE_DIR}/bench/crc_speed.cpp)
foreach(t bench_inproc bench_crc)
  target_include_directories(${t} PRIVATE ${CMAKE_SOURCE_DIR})
  target_compile_options(${t} PRIVATE -O2)
  target_link_libraries(${t} PRIVATE ${QAR_CORE})
  if(TARGET qar_ui)
    target_link_libraries(${t} PRIVATE qar_ui ${QAR_CORE})
  endif()
  target_link_libraries(${t} PRIVATE deflate zstd z)
endforeach()

# bench_decode: throughput of the block decoder on a few MB of generated text, beside zlib
# and libdeflate (bench/decode_bench.cpp). Not a test.
add_executable(bench_decode EXCLUDE_FROM_ALL ${CMAKE_SOURCE_DIR}/bench/decode_bench.cpp)
target_include_directories(bench_decode PRIVATE ${CMAKE_SOURCE_DIR})
target_compile_options(bench_decode PRIVATE -O2)
target_link_libraries(bench_decode PRIVATE qar_test_support ${QAR_CORE} deflate z)

# bench_tiny_blocks: `qar test` on 100,000 one-byte blocks that each ask for the largest
# window, beside a packed archive of the same size (bench/tiny_blocks.cpp). Not a test.
add_executable(bench_tiny_blocks EXCLUDE_FROM_ALL ${CMAKE_SOURCE_DIR}/bench/tiny_blocks.cpp)
target_include_directories(bench_tiny_blocks PRIVATE ${CMAKE_SOURCE_DIR})
target_compile_options(bench_tiny_blocks PRIVATE -O2)
target_link_libraries(bench_tiny_blocks PRIVATE qar_test_support qar_pack ${QAR_CORE})

# bench_table_cost: decoder time per extra TableSet against time per output byte, the weight
# the packer gives table building when it splits a block (bench/table_cost.cpp). Not a test.
# Only the test bit writer is taken from the test support, which does not build with Release
# warnings.
add_executable(bench_table_cost EXCLUDE_FROM_ALL ${CMAKE_SOURCE_DIR}/bench/table_cost.cpp
               ${CMAKE_SOURCE_DIR}/tests/support/bit_writer.cpp)
target_include_directories(bench_table_cost PRIVATE ${CMAKE_SOURCE_DIR})
target_compile_options(bench_table_cost PRIVATE -O2)
target_link_libraries(bench_table_cost PRIVATE qar_pack ${QAR_CORE})
