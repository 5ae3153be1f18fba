// The call-stack walk on Windows. 32-bit code chains its frames by saved
// frame pointers, which the caller follows itself; 64-bit MinGW code points
// the frame pointer into the middle of the frame (rbp = rsp + 32 after the
// prologue), so there the system's unwinder walks the stack from the unwind
// tables that every function has.
#include "winapi/winapi.h"

#if defined(__x86_64__)

namespace {

bool ReadWords(DWORD64 address, uintptr_t* words, size_t count) {
  SIZE_T bytes = count * sizeof(uintptr_t);
  SIZE_T read = 0;
  return ReadProcessMemory(GetCurrentProcess(), reinterpret_cast<const void*>(address), words,
                           bytes, &read) &&
         read == bytes;
}

// The function that holds `pc`: its entry, or null for a leaf function
// (which has none) or an address in no module.
PRUNTIME_FUNCTION FunctionOf(DWORD64 pc, DWORD64* imageBase) {
  return RtlLookupFunctionEntry(pc, imageBase, nullptr);
}

// The calling thread's stack: from its reserved bottom to its top.
struct StackBounds {
  DWORD64 low = 0;
  DWORD64 high = 0;
};

StackBounds ThisStack() {
  MEMORY_BASIC_INFORMATION region;
  StackBounds bounds;
  // The committed part of a stack is one region that ends at its top.
  if (VirtualQuery(&region, &region, sizeof region) == sizeof region) {
    bounds.low = reinterpret_cast<DWORD64>(region.AllocationBase);
    bounds.high = reinterpret_cast<DWORD64>(region.BaseAddress) + region.RegionSize;
  }
  return bounds;
}

// One step outward: `context` becomes the caller's. False at the end of the
// stack or where it cannot be read.
bool Unwind(CONTEXT& context, const StackBounds& stack) {
  const DWORD64 low = stack.low;
  const DWORD64 high = stack.high;
  if (context.Rsp < low || context.Rsp >= high) return false;
  DWORD64 imageBase;
  if (PRUNTIME_FUNCTION function = FunctionOf(context.Rip, &imageBase)) {
    PVOID handlerData;
    DWORD64 establisher;
    RtlVirtualUnwind(UNW_FLAG_NHANDLER, imageBase, context.Rip, function, &context, &handlerData,
                     &establisher, nullptr);
  } else {
    // A leaf function: the return address is on top of the stack.
    uintptr_t returnAddress;
    if (!ReadWords(context.Rsp, &returnAddress, 1)) return false;
    context.Rip = returnAddress;
    context.Rsp += sizeof(uintptr_t);
  }
  return context.Rip != 0 && context.Rsp >= low && context.Rsp < high;
}

}  // namespace

uint32_t WalkStackFrom(const void* start, StackWalkRecord* records, uint32_t capacity) {
  const auto startPc = reinterpret_cast<DWORD64>(start);
  DWORD64 imageBase;
  const PRUNTIME_FUNCTION startFunction = FunctionOf(startPc, &imageBase);
  const StackBounds stack = ThisStack();

  CONTEXT context;
  RtlCaptureContext(&context);
  // Up to the frame of `start`: ours and our callers' up to it are not
  // recorded. A fault's frame is reached through the machine frame of the
  // fault trampoline, one byte past the faulting instruction.
  for (;;) {
    if (startFunction ? FunctionOf(context.Rip, &imageBase) == startFunction
                      : context.Rip - startPc <= 1) {
      break;
    }
    if (!Unwind(context, stack)) return 0;
  }

  uint32_t count = 0;
  DWORD64 pc = startPc;
  while (count < capacity) {
    StackWalkRecord& record = records[count++];
    record.address = static_cast<uintptr_t>(pc);
    if (!Unwind(context, stack)) {
      record.args[0] = record.args[1] = record.args[2] = record.args[3] = 0;
      break;
    }
    // The four home slots of the frame, just above its return address,
    // where the callee may have kept its register arguments.
    if (!ReadWords(context.Rsp, record.args, 4))
      record.args[0] = record.args[1] = record.args[2] = record.args[3] = 0;
    pc = context.Rip;
  }
  return count;
}

#else

uint32_t WalkStackFrom(const void*, StackWalkRecord*, uint32_t) { return kNoStackUnwinder; }

#endif
