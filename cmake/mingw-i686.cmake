# Cross-compiling for 32-bit Windows with MinGW-w64 (Debian's posix-thread
# flavour, which std::thread and GoogleTest need).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Its programs (the unit tests, the tool under the end-to-end suite) run
# under Wine where Wine is installed; they need 32-bit Wine (Debian's
# wine32:i386, whose loader the `wine` script starts) and a kernel that
# runs 32-bit programs.
find_program(TICKWRIGHT_WINE wine)
if(TICKWRIGHT_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TICKWRIGHT_WINE})
endif()
