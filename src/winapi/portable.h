// What both platforms provide beyond the Win32 API proper: facts of the
// platform that Win32 does not name, and the run-time hook for failed
// allocations (new_handler.cpp), which libstdc++ lacks on both.
#pragma once

#include <stddef.h>
#include <stdint.h>

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
// What the program says when memory runs out so far that not even the
// exception that would report it can be made: `text` is written to standard
// error as an error box without a window shows it, without allocating, and
// the process ends with exit code 5. Kept up to about 240 bytes.
void SetOutOfMemoryText(const char* text);

// Processor faults. A fault of the thread that installed a translator (an
// access violation, a division by zero, a stack overflow...) becomes a call
// of the translator, made from an ordinary frame directly above the faulting
// one, so that an exception it throws unwinds the faulting function and its
// callers as if the faulting instruction had thrown it. The translator gets
// the fault's record as Windows fills it, the faulting instruction and the
// faulting frame (its frame pointer), and must throw. On Windows the same
// holds for any other structured exception of that thread that no handler
// takes (one raised in software), thrown from the innermost frame of ours.
struct _EXCEPTION_RECORD;
typedef void (*FaultTranslator)(const struct _EXCEPTION_RECORD* record, const void* instruction,
                                const void* frame);
// Makes `translator` the translator of the calling thread, the only thread
// whose faults are translated; faults of other threads take the system's
// course. Null removes it. False when the layer could not install it.
bool SetFaultTranslator(FaultTranslator translator);

// One record of a call-stack walk: a code address inside the function of a
// frame and the first four argument words of that frame.
struct StackWalkRecord {
  uintptr_t address;
  uintptr_t args[4];
};
// Walks the calling thread's stack with the platform's unwinder, from the
// frame of the function that holds `start` outward, and fills at most
// `capacity` records; the first record's address is `start` itself. The
// argument words are the frame's home slots as they stand (0 where they
// cannot be read). Returns the number of records, or kNoStackUnwinder where
// frames are chained by saved frame pointers (Linux, 32-bit Windows) and
// the caller walks that chain itself.
uint32_t WalkStackFrom(const void* start, StackWalkRecord* records, uint32_t capacity);
constexpr uint32_t kNoStackUnwinder = 0xFFFFFFFF;

// The argument that the command-line item `item` stands in for, when the
// process's command line could not carry it; null for any other item. Linux
// rebuilds the line from arguments and cannot quote a double quote, so an
// argument that holds one is replaced by a stand-in item in its place;
// Windows reads the line as typed and replaces nothing.
#ifdef _WIN32
inline const char* UncarriedArgument(const char*) { return nullptr; }
#else
const char* UncarriedArgument(const char* item);
#endif
