# Flags for every target of the project.

# The call-stack listing of an error report walks saved frame pointers, and
# processor faults on Linux are thrown from a signal handler, which needs
# unwind tables at every instruction that can fault.
add_compile_options(-fno-omit-frame-pointer)
if(CMAKE_SYSTEM_PROCESSOR MATCHES "x86|i686|i386|AMD64|amd64")
  add_compile_options(-mno-omit-leaf-frame-pointer)
endif()
if(NOT WIN32)
  add_compile_options(-fnon-call-exceptions -fasynchronous-unwind-tables)
endif()

# No -Wnon-virtual-dtor: COM interfaces have virtual methods and, by design,
# no virtual destructor.
set(TICKWRIGHT_WARNINGS -Wall -Wextra -Wshadow -Wcast-qual -Wformat=2)
if(TICKWRIGHT_WERROR)
  list(APPEND TICKWRIGHT_WARNINGS -Werror)
endif()

if(WIN32)
  # One self-contained .exe: no MinGW run-time DLLs to ship or to find.
  add_link_options(-static -static-libgcc -static-libstdc++)
else()
  # A bump runs before every build; not loading libstdc++.so saves start-up.
  add_link_options(-static-libstdc++ -static-libgcc)
endif()
