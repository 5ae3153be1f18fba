// The call-stack snapshot that every exception takes walks a deep stack safely.
#include "errors/call_stack.h"

#include <gtest/gtest.h>

#include <memory>

#include "errors/exception.h"

namespace {

volatile int sink;  // a store after the call keeps it from becoming a jump

__attribute__((noinline)) ClException* Deep(int levels) {
  ClException* e = levels ? Deep(levels - 1) : new ClException();
  sink = levels;
  return e;
}

TEST(CallStackWalk, ADeepStackIsCutAtTheLimit) {
  std::unique_ptr<ClException> e(Deep(200));
  EXPECT_EQ(kMaxStackFrames, e->callStack.GetCount());
}

}  // namespace
