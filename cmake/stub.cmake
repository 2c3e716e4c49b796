# The Windows installer stub: its own entry point, no C runtime start-up, and only KERNEL32,
# USER32 and GDI32.
file(GLOB stub_src CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/startup/*.cpp)
file(GLOB stub_rc CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/ui/*.rc)
if(stub_src)
  enable_language(RC)
  add_executable(stub WIN32 ${stub_src} ${stub_rc})
  target_include_directories(stub PRIVATE ${CMAKE_SOURCE_DIR})
  target_compile_options(stub PRIVATE ${QAR_CORE_FLAGS} -Os)
  target_link_options(stub PRIVATE -nostdlib -nostartfiles -Wl,-e,_StubEntry -s
                      -Wl,--gc-sections)
  target_link_libraries(stub PRIVATE qar_ui ${QAR_CORE} kernel32 user32 gdi32 gcc)
  add_custom_command(TARGET stub POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E echo "stub.exe size:"
    COMMAND stat -c %s $<TARGET_FILE:stub>)
endif()
