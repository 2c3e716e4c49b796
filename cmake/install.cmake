# Installing qar the way Linux tools install: `cmake --install build/native [--prefix P]`
# puts bin/qar (both stubs inside), the manual page, the bash completion, and the README
# with the docs under share/doc/qar; CPack's DEB generator makes the Debian package of the
# same tree (scripts/package).

# Run as a script (cmake -P) by the build: writes the bash completion, with the code pages
# that the qar being built accepts, as the program GEN prints them (run through EMULATOR
# when cross-compiling).
if(CMAKE_SCRIPT_MODE_FILE)
  execute_process(COMMAND ${EMULATOR} ${GEN} OUTPUT_VARIABLE QAR_CODE_PAGES
                  OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE status)
  if(NOT status EQUAL 0 OR QAR_CODE_PAGES STREQUAL "")
    message(FATAL_ERROR "${GEN} did not list the code pages (${status})")
  endif()
  configure_file(${IN} ${OUT} @ONLY)
  return()
endif()

include(GNUInstallDirs)

install(TARGETS qar RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# The manual page, with this version in its header, compressed as Debian keeps them.
configure_file(${CMAKE_SOURCE_DIR}/dist/qar.1.in ${CMAKE_BINARY_DIR}/qar.1 @ONLY)
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/qar.1.gz
  COMMAND gzip -9nkf ${CMAKE_BINARY_DIR}/qar.1
  DEPENDS ${CMAKE_BINARY_DIR}/qar.1 VERBATIM)
add_custom_target(qar_manual ALL DEPENDS ${CMAKE_BINARY_DIR}/qar.1.gz)
install(FILES ${CMAKE_BINARY_DIR}/qar.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# The bash completion, its code pages listed by a program built from the tables of text/.
add_executable(qar_code_pages ${CMAKE_SOURCE_DIR}/dist/code_pages.cpp)
target_link_libraries(qar_code_pages PRIVATE qar_text)
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/qar.bash
  COMMAND ${CMAKE_COMMAND} -DGEN=$<TARGET_FILE:qar_code_pages>
          "-DEMULATOR=${CMAKE_CROSSCOMPILING_EMULATOR}"
          -DIN=${CMAKE_SOURCE_DIR}/dist/qar.bash.in -DOUT=${CMAKE_BINARY_DIR}/qar.bash
          -P ${CMAKE_SOURCE_DIR}/cmake/install.cmake
  DEPENDS qar_code_pages ${CMAKE_SOURCE_DIR}/dist/qar.bash.in ${CMAKE_SOURCE_DIR}/cmake/install.cmake
  VERBATIM)
add_custom_target(qar_completion ALL DEPENDS ${CMAKE_BINARY_DIR}/qar.bash)
install(FILES ${CMAKE_BINARY_DIR}/qar.bash DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
        RENAME qar)

# The changelog, compressed as Debian keeps it; a new version gets its entry there.
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/changelog.gz
  COMMAND gzip -9nc ${CMAKE_SOURCE_DIR}/dist/changelog > ${CMAKE_BINARY_DIR}/changelog.gz
  DEPENDS ${CMAKE_SOURCE_DIR}/dist/changelog)
add_custom_target(qar_changelog ALL DEPENDS ${CMAKE_BINARY_DIR}/changelog.gz)
install(FILES ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_SOURCE_DIR}/dist/copyright
        ${CMAKE_BINARY_DIR}/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(DIRECTORY ${CMAKE_SOURCE_DIR}/docs DESTINATION ${CMAKE_INSTALL_DOCDIR})

# The install tree, checked by tests/install/check: the program runs from it, the manual
# page renders and tells every option, the completion completes.
if(NOT CMAKE_CROSSCOMPILING)
  add_test(NAME install
    COMMAND sh -c "rm -rf install-test && ${CMAKE_COMMAND} --install . --prefix install-test >/dev/null &&
                   ${CMAKE_SOURCE_DIR}/tests/install/check install-test; s=$?; rm -rf install-test; exit $s"
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR})
  set_tests_properties(install PROPERTIES SKIP_RETURN_CODE 77)
endif()

# The Debian package: qar_<version>_<architecture>.deb, its dependencies found by
# dpkg-shlibdeps from the installed program.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME qar)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(QAR_PACKAGE_MAINTAINER "qar maintainers <maintainers@users.noreply.c-seed-721c538e.example>"
    CACHE STRING "The Maintainer field of the Debian package")
set(CPACK_PACKAGE_CONTACT "${QAR_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${QAR_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "self-extracting installers for Windows, built and reviewed on Linux")
# CPack puts the summary on the Description line, this text beneath it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "qar packs files and folders into an archive with a strong compressor and makes
of it a small self-extracting installer for 32-bit or 64-bit Windows, which
checks its own image and every file it extracts. qar list, test and extract
let a reviewer look inside an archive or an installer without running it.")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
include(CPack)
