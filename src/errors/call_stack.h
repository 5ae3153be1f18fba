// The call-stack snapshot of an exception: a walk of the saved frame-pointer
// chain with guarded reads, and the module that holds a code address.
#pragma once

#include "base/string.h"
#include "winapi/winapi.h"

template <typename T>
class ClBlockArray;

// One record: a code address inside the function of a frame, and the first
// four argument words of that frame as they stand in memory.
struct ClStackFrame {
  uintptr_t address;
  uintptr_t args[4];
};

// Where a walk starts: a code address and the frame of its function.
struct ClStackStart {
  const void* address;
  const void* frame;
};

// An address inside the function that calls it.
const void* CurrentCodeAddress();

// The start of a walk at the point where this is written.
#define CL_STACK_HERE (ClStackStart{CurrentCodeAddress(), __builtin_frame_address(0)})

// Records the chain from `start` outward, one record per readable frame,
// at most kMaxStackFrames. A frame that cannot be read ends the walk.
void TakeCallStackSnapshot(ClBlockArray<ClStackFrame>& out, const ClStackStart& start);
constexpr DWORD kMaxStackFrames = 129;

// The full path of the module that holds `address`, or "<unknown>". Never
// fails outward.
void ModuleNameOf(const void* address, ClString& out);
