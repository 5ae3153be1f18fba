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
# Packages too: the host's GoogleTest is no library for Windows.
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Its programs (the unit tests, the tool under the end-to-end suite) run
# under 32-bit Wine where Wine is installed: Debian's wine32:i386, whose
# loader the `wine` script starts. On a kernel that runs no 32-bit programs
# (or with TICKWRIGHT_NO_IA32=1 in the environment, to take that way on one
# that does), that loader runs under user-mode emulation (qemu-i386, Debian's
# qemu-user), told not to start itself anew through its preloader, which the
# kernel would refuse (WINELOADERNOEXEC). TICKWRIGHT_I686_EMULATED says which.
find_program(TICKWRIGHT_WINE wine)
find_program(TICKWRIGHT_QEMU_I386 qemu-i386)
set(TICKWRIGHT_WINE32_LOADER /usr/lib/wine/wine)
set(TICKWRIGHT_I686_EMULATED OFF)
if(TICKWRIGHT_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TICKWRIGHT_WINE})
  if(EXISTS ${TICKWRIGHT_WINE32_LOADER} AND TICKWRIGHT_QEMU_I386)
    set(native_result 1)
    if(NOT "$ENV{TICKWRIGHT_NO_IA32}" STREQUAL "1")
      execute_process(COMMAND ${TICKWRIGHT_WINE32_LOADER} --version
        RESULT_VARIABLE native_result OUTPUT_QUIET ERROR_QUIET)
    endif()
    if(NOT native_result EQUAL 0)
      set(CMAKE_CROSSCOMPILING_EMULATOR
        ${TICKWRIGHT_QEMU_I386} -E WINELOADERNOEXEC=1 ${TICKWRIGHT_WINE32_LOADER})
      set(TICKWRIGHT_I686_EMULATED ON)
    endif()
  endif()
endif()
