# Packages, made by the build target "package" (cpack): a Debian package of
# the native build, and a zip of each Windows build.

set(CPACK_PACKAGE_NAME tickwright)
set(CPACK_PACKAGE_VENDOR "the Tickwright authors")
set(CPACK_PACKAGE_CONTACT "the Tickwright authors <maintainers@tickwright.example.org>")
set(CPACK_PACKAGE_HOMEPAGE_URL https://tickwright.example.org)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "keeps a C/C++ project's build number in a generated header")
set(CPACK_PACKAGE_CHECKSUM SHA256)
set(CPACK_STRIP_FILES ON)

if(WIN32)
  # The README as text that Windows' own editor shows: CR LF line breaks.
  add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/README.txt
    COMMAND ${CMAKE_COMMAND} -DINPUT=${PROJECT_SOURCE_DIR}/README.md
            -DOUTPUT=${CMAKE_BINARY_DIR}/README.txt -P ${PROJECT_SOURCE_DIR}/cmake/TextWithCrLf.cmake
    DEPENDS README.md cmake/TextWithCrLf.cmake
    WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
    VERBATIM)
  add_custom_target(readme_text ALL DEPENDS ${CMAKE_BINARY_DIR}/README.txt)
  install(FILES ${CMAKE_BINARY_DIR}/README.txt DESTINATION .)

  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME
    tickwright-${PROJECT_VERSION}-windows-${CMAKE_SYSTEM_PROCESSOR})
else()
  # The package's version is its changelog's latest entry: the two must agree.
  file(STRINGS packaging/changelog latest LIMIT_COUNT 1)
  if(NOT latest MATCHES "^tickwright \\(${PROJECT_VERSION}\\) ")
    message(FATAL_ERROR "packaging/changelog has no entry for ${PROJECT_VERSION} on top")
  endif()

  # Compressed as Debian wants them: gzip -9, no name or time stamp.
  find_program(TICKWRIGHT_GZIP gzip REQUIRED)
  set(compressed "")
  foreach(file tickwright.1 tw-ssadmin.1 changelog)
    add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/packaging/${file}.gz
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/packaging
      COMMAND ${TICKWRIGHT_GZIP} -9nc ${PROJECT_SOURCE_DIR}/packaging/${file}
              > ${CMAKE_BINARY_DIR}/packaging/${file}.gz
      DEPENDS packaging/${file}
      WORKING_DIRECTORY ${PROJECT_SOURCE_DIR})
    list(APPEND compressed ${CMAKE_BINARY_DIR}/packaging/${file}.gz)
  endforeach()
  add_custom_target(compressed_docs ALL DEPENDS ${compressed})
  install(FILES ${CMAKE_BINARY_DIR}/packaging/tickwright.1.gz
                ${CMAKE_BINARY_DIR}/packaging/tw-ssadmin.1.gz
    DESTINATION share/man/man1)
  install(FILES ${CMAKE_BINARY_DIR}/packaging/changelog.gz DESTINATION share/doc/tickwright)

  # Linux names commands in lower case; the usage text names the tool as
  # it is built. Both names have the manual page and the completion.
  set(links ${CMAKE_BINARY_DIR}/links)
  file(MAKE_DIRECTORY ${links}/bin ${links}/man ${links}/completions)
  file(CREATE_LINK Tickwright ${links}/bin/tickwright SYMBOLIC)
  file(CREATE_LINK tickwright.1.gz ${links}/man/Tickwright.1.gz SYMBOLIC)
  file(CREATE_LINK tickwright ${links}/completions/Tickwright SYMBOLIC)
  install(FILES ${links}/bin/tickwright DESTINATION bin)
  install(FILES ${links}/man/Tickwright.1.gz DESTINATION share/man/man1)
  install(FILES packaging/tickwright.bash DESTINATION share/bash-completion/completions
    RENAME tickwright)
  install(FILES ${links}/completions/Tickwright DESTINATION share/bash-completion/completions)
  install(FILES packaging/copyright DESTINATION share/doc/tickwright)
  install(FILES packaging/lintian-overrides DESTINATION share/lintian/overrides
    RENAME tickwright)

  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION devel)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_PACKAGE_DESCRIPTION
"Tickwright reads the build number from a generated header's first line,
adds one, and writes the header anew with the number defined under a macro
in six forms. It can also write the number for Windows batch files, and
check a read-only header out of a SourceSafe database first; the package
holds a compatible SourceSafe server and its admin command, tw-ssadmin.")
  # The server library and its admin command, which finds the library
  # beside itself, go where Debian keeps a package's private files.
  set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/DebianLayout.cmake)
  set(CPACK_TICKWRIGHT_PRIVATE_DIR lib/${CMAKE_LIBRARY_ARCHITECTURE}/tickwright)
endif()

include(CPack)
