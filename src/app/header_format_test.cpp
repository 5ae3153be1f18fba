#include "app/header_format.h"

#include <gtest/gtest.h>

#include <string>

#include "errors/exception.h"

namespace {

// The number of a header text, or the report of its failure.
std::string Parse(const std::string& text) {
  try {
    return std::to_string(ParseBuildNumber(ClString(text.c_str()), ClString("ver.h")));
  } catch (ClException* e) {
    ClString report;
    e->BuildReport(report);
    delete e;
    return report.GetText();
  }
}

TEST(ParseBuildNumber, FirstLines) {
  struct Case {
    const char* text;
    const char* expected;
  } cases[] = {
      {"// 41\n#define X 1\n", "41"},
      {"// 41 and anything", "41"},
      {"// 4294967295", "4294967295"},
      {"//  7 (comment)", "7"},
      {"// \t 12 \r\n", "12"},
      {"// 5\r// 6\r", "5"},
      {"// 0", "0"},
      {"// +9", "9"},
      {"//7", "Error parsing file: \"ver.h\""},
      {"/ 7", "Error parsing file: \"ver.h\""},
      {"\xEF\xBB\xBF// 7", "Error parsing file: \"ver.h\""},
      {"/\0/\0 \0"
       "7",
       "Error parsing file: \"ver.h\""},
      {"", "Error parsing file: \"ver.h\""},
      {"\n// 7", "Error parsing file: \"ver.h\""},
      {"// ", "Error! Bad build number: \"\""},
      {"//    \r\n", "Error! Bad build number: \"\""},
      {"// x", "Error! Bad build number: \"x\""},
      {"// -", "Error! Bad build number: \"-\""},
      {"// 3\n", "3"},
      {"// x\n// 5\n", "Error! Bad build number: \"x\""},  // only the first line counts
      {"// 1\ngarbage", "1"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.expected, Parse(c.text)) << "[" << c.text << "]";
}

TEST(ScanUnsigned, OneMeaningOnEveryPlatform) {
  struct Case {
    const char* text;
    bool ok;
    DWORD value;
  } cases[] = {
      {"0", true, 0},
      {"  17x", true, 17},
      {"4294967295", true, 4294967295u},
      {"4294967296", true, 4294967295u},
      {"99999999999999999999", true, 4294967295u},
      {"-1", true, 4294967295u},
      {"-5", true, 4294967291u},
      {"+", false, 0},
      {"", false, 0},
      {"x1", false, 0},
  };
  for (const Case& c : cases) {
    DWORD value = 12345;
    EXPECT_EQ(c.ok, ScanUnsigned(c.text, value)) << c.text;
    if (c.ok) {
      EXPECT_EQ(c.value, value) << c.text;
    }
  }
}

TEST(FormatHeaderText, HalvesAndTheLargestNumber) {
  const ClString text = FormatHeaderText(4294967295u, ClString("v.h"), ClString("B"));
  const std::string s = text.GetText();
  EXPECT_NE(std::string::npos, s.find("#define B_LOW 65535\n#define B_HIGH 65535\n"));
  EXPECT_NE(std::string::npos, s.find("#define B_STR \"4294967295\"\n"));
}

}  // namespace
