#include "base/tokenizer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// One item per Next: "a<index>:<text>" for an argument, "s:<name>=<value>" for a switch.
std::vector<std::string> Items(const char* commandLine) {
  ClCommandLine items{ClString(commandLine)};
  std::vector<std::string> out;
  while (items.Next()) {
    if (items.switchName.IsEmpty()) {
      out.push_back("a" + std::to_string(items.argIndex) + ":" +
                    items.argument.GetText().GetText());
      EXPECT_TRUE(items.switchValue.IsEmpty());
    } else {
      out.push_back(std::string("s:") + items.switchName.GetText().GetText() + "=" +
                    items.switchValue.GetText().GetText());
      EXPECT_TRUE(items.argument.IsEmpty());
    }
  }
  EXPECT_TRUE(items.argument.IsEmpty());
  EXPECT_TRUE(items.switchName.IsEmpty());
  EXPECT_TRUE(items.switchValue.IsEmpty());
  return out;
}

struct Case {
  const char* line;
  std::vector<std::string> items;
};

const Case kCases[] = {
    {"", {}},
    {"   \t ", {}},
    {"prog x.h MY_BUILD", {"a0:prog", "a1:x.h", "a2:MY_BUILD"}},
    {"prog x.h   ", {"a0:prog", "a1:x.h"}},
    {"p /nologo/i-c", {"a0:p", "s:nologo=", "s:i=", "s:c="}},
    {"p /b:out.bat", {"a0:p", "s:b=out.bat"}},
    {"p /b : out.bat", {"a0:p", "s:b=out.bat"}},
    {"p /b out.bat", {"a0:p", "s:b=", "a1:out.bat"}},
    {"p /b:", {"a0:p", "s:b="}},
    {"p /b:C:\\out\\x.bat", {"a0:p", "s:b=C:\\out\\x.bat"}},
    {"p /b:my-file.bat", {"a0:p", "s:b=my", "s:file.bat="}},
    {"p /b:\"my-file.bat\"", {"a0:p", "s:b=my-file.bat"}},
    {"p //i", {"a0:p", "s:i="}},
    {"p x.h - y.h", {"a0:p", "a1:x.h", "s:y.h="}},
    {"p x.h /", {"a0:p", "a1:x.h"}},
    {"p / i", {"a0:p", "s:i="}},
    {"p \"a b/c-d:e\"", {"a0:p", "a1:a b/c-d:e"}},
    {"p \"\" NAME", {"a0:p", "a1:", "a2:NAME"}},
    {"p \"word\"more", {"a0:p", "a1:word", "a2:more"}},
    {"p ab\"cd", {"a0:p", "a1:ab\"cd"}},
    {"p \"unclosed rest", {"a0:p", "a1:unclosed rest"}},
    {"C:\\my-tools\\tw.exe", {"a0:C:\\my", "s:tools\\tw.exe="}},
    {"\"C:\\my-tools\\tw.exe\" /I", {"a0:C:\\my-tools\\tw.exe", "s:I="}},
    {"p my-file.h", {"a0:p", "a1:my", "s:file.h="}},
    {"p /i:yes", {"a0:p", "s:i=yes"}},
    {"p -?", {"a0:p", "s:?="}},
    {"p ?", {"a0:p", "a1:?"}},
};

TEST(ClCommandLine, SplitsItemsAsTheUserMeantThem) {
  for (const Case& c : kCases) EXPECT_EQ(c.items, Items(c.line)) << "[" << c.line << "]";
}

}  // namespace
