// The fault probe's faults. Each is made by an ordinary function that the
// compiler cannot prove harmless, called through a pointer, so that the
// fault arrives where a real one would: inside a function of the run.
#include "app/fault_hooks.h"

#include "base/string.h"
#include "winapi/winapi.h"

namespace {

// Volatile, so that the compiler neither sees the null pointer (and turns
// the access into a trap of its own) nor folds the division.
int* volatile nullPointer = nullptr;
const char* volatile nullString = nullptr;
void (*volatile nullFunction)() = nullptr;
volatile int zero = 0;
const char kReadOnly[4096] = "read-only";
char* volatile readOnlyPage = const_cast<char*>(kReadOnly);
// Never reached: it only keeps the recursion from being infinite on paper.
volatile unsigned recursionLimit = ~0u;

// A sanitized build must let the processor see the fault, not report it first.
#define FAULT_MAKER __attribute__((no_sanitize("undefined")))
FAULT_MAKER int DivideByZero() { return 1 / zero; }
FAULT_MAKER int ReadNull() { return *nullPointer; }
// Inside the C library, called from a frame with cleanups: the library's
// functions throw nothing, so that frame's call-site table has no entry for
// the call and the exception cannot unwind through it.
FAULT_MAKER int ReadNullInLibrary() {
  ClString text("cleaned up");
  text.Append(nullString, static_cast<DWORD>(strlen(nullString)));
  return static_cast<int>(text.GetLength());
}
FAULT_MAKER int WriteNull() { return *nullPointer = 1; }
FAULT_MAKER int WriteReadOnlyPage() { return *readOnlyPage = 'w'; }
FAULT_MAKER int CallNull() {
  nullFunction();
  return 0;
}

__attribute__((noinline)) unsigned Recurse(unsigned depth) {
  volatile char frame[256];
  frame[0] = static_cast<char>(depth);
  if (depth == recursionLimit) return 0;
  return Recurse(depth + 1) + frame[0];
}
int OverflowStack() { return static_cast<int>(Recurse(0)); }

int ExecuteIllegalInstruction() { __builtin_trap(); }

int HitBreakpoint() {
#if defined(__i386__) || defined(__x86_64__)
  __asm__ volatile("int3");
#else
  __builtin_trap();
#endif
  return 0;
}

#if defined(_WIN32)
// A structured exception of a code that is no fault's, raised in software
// and handled by nothing, as an in-process server might raise one.
int RaiseUnhandledException() {
  RaiseException(0xE0005457, EXCEPTION_NONCONTINUABLE, 0, nullptr);
  return 0;
}
#endif

struct Fault {
  const char* name;
  int (*make)();
};

const Fault kFaults[] = {
    {"divide-by-zero", DivideByZero},
    {"null-read", ReadNull},
    {"null-read-in-library", ReadNullInLibrary},
    {"null-write", WriteNull},
    {"write-read-only-page", WriteReadOnlyPage},
    {"call-null", CallNull},
    {"stack-overflow", OverflowStack},
    {"illegal-instruction", ExecuteIllegalInstruction},
    {"breakpoint", HitBreakpoint},
#if defined(_WIN32)
    {"raise", RaiseUnhandledException},
#endif
};

}  // namespace

void MakeRequestedFault() {
  const char* requested = getenv("TICKWRIGHT_FAULT");
  if (!requested) return;
  for (const Fault& fault : kFaults) {
    if (strcmp(fault.name, requested) == 0) {
      int (*volatile make)() = fault.make;
      make();
      return;
    }
  }
}
