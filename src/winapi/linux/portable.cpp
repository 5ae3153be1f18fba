// The Linux side of what portable.h adds to the Win32 API beyond faults and
// allocation: the call-stack walk.
#include "winapi/winapi.h"

// Frames are chained by saved frame pointers (-fno-omit-frame-pointer).
uint32_t WalkStackFrom(const void*, StackWalkRecord*, uint32_t) { return kNoStackUnwinder; }
