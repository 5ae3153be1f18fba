// Tests of ConsolePrint into a redirected output.
#include "console/console_print.h"

#include <gtest/gtest.h>

#include "console/console_test_child.h"

namespace {

TEST(ConsolePrintTest, ARedirectionGetsTheTextAndItsLineBreak) {
  SKIP_WITHOUT_CHILD_RUNS();
  const std::string longLine(300, 'x');  // too long for one write
  const struct {
    Stream out;
    std::string text;
    bool noFallback;
    std::string output;
  } kCases[] = {
      // Linux's line end, also inside the text; a CR alone stays.
      {Stream::kFile, "abc", false, "abc\n"},
      {Stream::kPipe, "a\r\nb\rc", false, "a\nb\rc\n"},
      {Stream::kFile, longLine, false, longLine + "\n"},
      {Stream::kFile, "abc", true, ""},
  };
  for (const auto& c : kCases) {
    ChildRun run = RunInChild(Stream::kClosed, "", c.out, [&] {
      return ConsolePrint(c.text.c_str(), static_cast<DWORD>(c.text.size()), c.noFallback) ? 1 : 0;
    });
    EXPECT_EQ(run.result, 0) << c.output;  // no console took it
    EXPECT_EQ(run.output, c.output);
    EXPECT_EQ(run.terminal, "");
  }
}

}  // namespace
