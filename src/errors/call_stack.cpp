// The call-stack snapshot and the module lookup of a code address. Where the
// platform has an unwinder of its own (64-bit Windows) the layer walks the
// stack; elsewhere the saved frame pointers are followed here. Frames are
// read with ReadProcessMemory on our own process, which fails instead of
// faulting on a frame that cannot be read.
#include "errors/call_stack.h"

#include "base/block_array.h"
#include "errors/exception.h"

__attribute__((noinline)) const void* CurrentCodeAddress() { return __builtin_return_address(0); }

namespace {

bool ReadWords(const void* address, uintptr_t* words, size_t count) {
  SIZE_T bytes = count * sizeof(uintptr_t);
  SIZE_T read = 0;
  return address && ReadProcessMemory(GetCurrentProcess(), address, words, bytes, &read) &&
         read == bytes;
}

const char kUnknownModule[] = "<unknown>";

}  // namespace

void TakeCallStackSnapshot(ClBlockArray<ClStackFrame>& out, const ClStackStart& start) {
  // The guarded reads must not disturb the error the exception is about.
  const DWORD savedError = GetLastError();

  StackWalkRecord walked[kMaxStackFrames];
  const uint32_t unwound = WalkStackFrom(start.address, walked, kMaxStackFrames);
  if (unwound != kNoStackUnwinder) {
    out.Reserve(out.GetCount() + unwound);
    for (uint32_t i = 0; i < unwound; ++i) {
      const StackWalkRecord& w = walked[i];
      out.Append(ClStackFrame{w.address, {w.args[0], w.args[1], w.args[2], w.args[3]}});
    }
    SetLastError(savedError);
    return;
  }

  // A frame is [caller's frame, return address, four argument words].
  DWORD count = 0;
  for (const void* frame = start.frame; count < kMaxStackFrames; ++count) {
    uintptr_t link;
    if (!ReadWords(frame, &link, 1)) break;
    frame = reinterpret_cast<const void*>(link);
  }
  out.Reserve(out.GetCount() + count);

  const void* address = start.address;
  const void* frame = start.frame;
  for (DWORD i = 0; i < count; ++i) {
    uintptr_t words[6];
    if (!ReadWords(frame, words, 6)) break;
    ClStackFrame record = {reinterpret_cast<uintptr_t>(address),
                           {words[2], words[3], words[4], words[5]}};
    out.Append(record);
    address = reinterpret_cast<const void*>(words[1]);
    frame = reinterpret_cast<const void*>(words[0]);
  }
  SetLastError(savedError);
}

void ModuleNameOf(const void* address, ClString& out) {
  try {
    MEMORY_BASIC_INFORMATION info;
    // A region with no allocation base is in no module; asking for the file
    // of a null module would name the executable instead.
    if (VirtualQuery(address, &info, sizeof info) < sizeof info || !info.AllocationBase) {
      out = kUnknownModule;
      return;
    }
    HMODULE module = static_cast<HMODULE>(info.AllocationBase);
    DWORD room = MAX_PATH;
    for (;;) {
      char* p = out.SetSize(room + 1, 0, true);
      DWORD length = GetModuleFileNameA(module, p, room);
      if (length == 0) {
        out = kUnknownModule;
        return;
      }
      if (length < room - 1) {
        p = out.SetSize(length + 1, 0, true);
        p[length] = 0;
        return;
      }
      room *= 2;
    }
  } catch (ClException* e) {
    delete e;
    out = kUnknownModule;
  }
}
