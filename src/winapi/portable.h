// What both platforms provide beyond the Win32 API proper: facts of the
// platform that Win32 does not name, and the run-time hook for failed
// allocations (new_handler.cpp), which libstdc++ lacks on both.
#pragma once

#include <stddef.h>

// The separator of path components: backslash on Windows, slash on Linux.
#ifdef _WIN32
constexpr char kPathSeparator = '\\';
#else
constexpr char kPathSeparator = '/';
#endif

// The allocation operator calls this handler with the byte count it failed
// to get; a handler that returns nonzero asks for another try. The handler
// runs after a small reserve has been given back to the allocator, so that it
// can still allocate what it needs to report the failure.
typedef int (*AllocationFailureHandler)(size_t size);
AllocationFailureHandler SetAllocationFailureHandler(AllocationFailureHandler handler);
