# damage_sweep (tests/sweep): extracts archives after systematic damage and checks every
# outcome. Built on both platforms but only on request (scripts/test.d/50-hostile builds
# it by name); it is a program with arguments, not a CTest test.
qar_sources(sweep_src tests/sweep)
if(sweep_src)
  add_executable(damage_sweep EXCLUDE_FROM_ALL ${sweep_src})
  target_include_directories(damage_sweep PRIVATE ${CMAKE_SOURCE_DIR})
  target_link_libraries(damage_sweep PRIVATE qar_test_support ${QAR_CORE})
  if(WIN32)
    target_link_options(damage_sweep PRIVATE -static)
  endif()
endif()

# The writer of archives with hostile names for tests/e2e/hostile_names (Linux only).
if(NOT WIN32)
  add_executable(hostile_archive EXCLUDE_FROM_ALL ${CMAKE_SOURCE_DIR}/tests/e2e/hostile_archive.cpp)
  target_include_directories(hostile_archive PRIVATE ${CMAKE_SOURCE_DIR})
  target_link_libraries(hostile_archive PRIVATE qar_test_support ${QAR_CORE})
endif()
