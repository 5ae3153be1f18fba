#include "app/options.h"

#include <gtest/gtest.h>

namespace {

// Whether any item of the command line is refused.
bool AnyBad(const char* line) {
  CounterOptions options;
  bool showBanner = true;
  ClCommandLine items{ClString(line)};
  bool bad = false;
  while (items.Next()) bad |= ApplyCommandLineItem(items, options, showBanner) == ItemOutcome::kBad;
  return bad;
}

TEST(Options, NamesThatWouldBreakTheGeneratedFiles) {
  struct Case {
    const char* line;
    bool bad;
  } cases[] = {
      {"tw v.h MY_BUILD_2", false}, {"tw v.h _x", false},
      {"tw v.h 2X", true},          {"tw v.h \"X&del *\"", true},
      {"tw v.h \"A B\"", true},     {"tw v.h X-Y", true},
      {"tw \"a\nb.h\"", true},      {"tw /b:\"x\ty.bat\"", true},
      {"tw /e:\"x\ny\"", true},     {"tw \"my folder/v.h\"", false},
      {"tw v.h defined", true},     {"tw v.h __VA_ARGS__", true},
      {"tw v.h xor", true},         {"tw v.h Defined", false},
      {"tw v.h defined_", false},
  };
  for (const Case& c : cases) EXPECT_EQ(c.bad, AnyBad(c.line)) << c.line;
}

}  // namespace
