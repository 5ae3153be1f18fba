# Cross-compiling for 64-bit Windows with MinGW-w64 (Debian's posix-thread
# flavour, which std::thread and GoogleTest need).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Packages too: the host's GoogleTest is no library for Windows.
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Its programs (the unit tests, the tool under the end-to-end suite) run
# under Wine where Wine is installed: under the 64-bit loader itself where
# it is a program of its own (Debian's /usr/lib/wine/wine64), since the
# `wine` script starts the 32-bit loader first wherever 32-bit Wine is
# installed, and that fails on a kernel that runs no 32-bit programs.
find_program(TICKWRIGHT_WINE64 NAMES wine64 wine PATHS /usr/lib/wine)
if(TICKWRIGHT_WINE64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TICKWRIGHT_WINE64})
endif()
