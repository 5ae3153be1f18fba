// The allocation operator of the whole program, replaced so that its failure
// handler is told how many bytes were asked for (libstdc++'s handler is not).
#include <stdlib.h>
#include <string.h>

#include <exception>
#include <new>

#include "winapi/portable.h"
#include "winapi/winapi.h"
#ifndef _WIN32
#include <unistd.h>

#include "winapi/linux/syscalls.h"
#endif

namespace {

AllocationFailureHandler installedHandler;

// Given back on the first failure, so that the handler can build and report
// its exception while the heap is otherwise exhausted.
constexpr size_t kReserveSize = 64 * 1024;
void* reserve = malloc(kReserveSize);

thread_local bool inHandler;

bool allocationFailed;
#ifdef _WIN32
#define TW_LINE_END "\r\n"
#else
#define TW_LINE_END "\n"
#endif
// As a report box shows it without a window or terminal.
char outOfMemoryText[256] = "Error" TW_LINE_END;
constexpr size_t kCaptionLength = sizeof "Error" TW_LINE_END - 1;
std::terminate_handler previousTerminate;

void WriteToStandardError(const char* text) {
#ifdef _WIN32
  DWORD written;
  WriteFile(GetStdHandle(STD_ERROR_HANDLE), text, static_cast<DWORD>(strlen(text)), &written,
            nullptr);
#else
  RetryOnInterrupt([&] { return sys.write(STDERR_FILENO, text, strlen(text)); });
#endif
}

// The run time ends here when it cannot even make an exception to throw:
// after a failed allocation, that is the program's report of it.
[[noreturn]] void Terminate() {
  if (allocationFailed && !std::current_exception() && outOfMemoryText[kCaptionLength]) {
    WriteToStandardError(outOfMemoryText);
    _exit(5);
  }
  if (previousTerminate) previousTerminate();
  abort();
}

// Before any other static object of the program can run out of memory.
[[gnu::init_priority(101)]] const struct TerminateInstaller {
  TerminateInstaller() { previousTerminate = std::set_terminate(Terminate); }
} terminateInstaller;

void* Allocate(size_t size) {
  if (size == 0) size = 1;
  for (;;) {
    if (void* p = malloc(size)) return p;
    allocationFailed = true;
    AllocationFailureHandler handler = installedHandler;
    // A handler that itself runs out of memory must not recurse for ever.
    if (!handler || inHandler) throw std::bad_alloc();
    free(reserve);
    reserve = nullptr;
    inHandler = true;
    int again;
    try {
      again = handler(size);
    } catch (...) {
      inHandler = false;
      throw;
    }
    inHandler = false;
    if (!again) throw std::bad_alloc();
  }
}

}  // namespace

void SetOutOfMemoryText(const char* text) {
  char* end = outOfMemoryText + sizeof outOfMemoryText - sizeof TW_LINE_END;
  char* p = outOfMemoryText + kCaptionLength;
  while (*text && p < end) *p++ = *text++;
  strcpy(p, TW_LINE_END);
}

AllocationFailureHandler SetAllocationFailureHandler(AllocationFailureHandler handler) {
  AllocationFailureHandler old = installedHandler;
  installedHandler = handler;
  return old;
}

void* operator new(size_t size) { return Allocate(size); }
void* operator new[](size_t size) { return Allocate(size); }
void* operator new(size_t size, const std::nothrow_t&) noexcept {
  try {
    return Allocate(size);
  } catch (...) {
    return nullptr;
  }
}
void* operator new[](size_t size, const std::nothrow_t& tag) noexcept {
  return operator new(size, tag);
}
void operator delete(void* p) noexcept { free(p); }
void operator delete[](void* p) noexcept { free(p); }
void operator delete(void* p, size_t) noexcept { free(p); }
void operator delete[](void* p, size_t) noexcept { free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { free(p); }
