# GoogleTest: through CMake's own find_package first (the system's prebuilt
# libraries natively; a cross toolchain's where it has them), else built from
# Debian's sources (package googletest), as the Windows builds usually are.
find_package(GTest QUIET)
if(NOT GTest_FOUND)
  set(TICKWRIGHT_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH
    "GoogleTest's sources, built where find_package(GTest) finds no libraries")
  if(NOT EXISTS ${TICKWRIGHT_GOOGLETEST_SOURCE}/CMakeLists.txt)
    message(FATAL_ERROR "GoogleTest was not found: install its libraries (Debian: libgtest-dev) "
      "or its sources (googletest), or set TICKWRIGHT_GOOGLETEST_SOURCE")
  endif()
  set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  # Its own build already names the targets GTest::gtest and GTest::gtest_main.
  add_subdirectory(${TICKWRIGHT_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
endif()
include(GoogleTest)
