// Tests of the call-stack snapshot and its listing.
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

TEST(CallStackWalk, ADeepStackIsListedWhole) {
  std::unique_ptr<ClException> e(Deep(200));
  ASSERT_EQ(kMaxStackFrames, e->callStack.GetCount());
  ClString text;
  e->DescribeDetails(text);  // threw ClMemException when each line doubled the buffer
  const std::string listing = text.GetText();
  size_t lines = 0;
  for (size_t at = 0; (at = listing.find("\r\n", at)) != std::string::npos; at += 2) ++lines;
  EXPECT_EQ(kMaxStackFrames + 2, lines);  // the records between two "---" lines
}

}  // namespace
