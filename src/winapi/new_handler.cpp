// The allocation operator of the whole program, replaced so that its failure
// handler is told how many bytes were asked for (libstdc++'s handler is not).
#include <stdlib.h>

#include <new>

#include "winapi/portable.h"

namespace {

AllocationFailureHandler installedHandler;

// Given back on the first failure, so that the handler can build and report
// its exception while the heap is otherwise exhausted.
constexpr size_t kReserveSize = 64 * 1024;
void* reserve = malloc(kReserveSize);

thread_local bool inHandler;

void* Allocate(size_t size) {
  if (size == 0) size = 1;
  for (;;) {
    if (void* p = malloc(size)) return p;
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
