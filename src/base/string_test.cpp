// What fuzz/string_ops_fuzz.cpp does not check against its model: failures, comparison, display.
#include "base/string.h"

#include <gtest/gtest.h>

#include "errors/exception.h"

namespace {

TEST(Conversions, RoundTripsAndEmptySources) {
  ClWString wide;
  wide.AssignFromNarrow("abc", -1, conversionCodePage);
  EXPECT_EQ(3u, wide.GetLength());  // the converted terminator is dropped
  const char* utf8 = "\xC3\x84pfel \xE2\x82\xAC";
  wide.AssignFromNarrow(utf8, -1, CP_UTF8);
  EXPECT_EQ(7u, wide.GetLength());
  ClString narrow;
  narrow.AssignFromWide(wide.GetText(), static_cast<int>(wide.GetLength()), CP_UTF8);
  EXPECT_STREQ(utf8, narrow.GetText());

  narrow.AssignFromWide(WIDE(""), -1, conversionCodePage);
  EXPECT_EQ(ClString().GetText(), narrow.GetText());
  try {
    narrow.AssignFromWide(WIDE("x"), 1, 12345);  // no such code page
    FAIL() << "no exception";
  } catch (ClException* e) {
    EXPECT_TRUE(e->IsKindOf(ClWin32Exception::kClassId));
    EXPECT_NE(0u, static_cast<ClWin32Exception*>(e)->errorCode);
    delete e;
  }
}

TEST(CompareText, ComparesLikeTheLocale) {
  EXPECT_EQ(0, CompareText("// ", "// ", 3, -1));
  EXPECT_LT(CompareText("abc", "abd"), 0);
  EXPECT_GT(CompareText("b", "a"), 0);
  EXPECT_NE(0, CompareText("ABC", "abc"));
  EXPECT_EQ(0, CompareText("ABC", "abc", -1, -1, NORM_IGNORECASE));
  EXPECT_EQ(0, CompareText("abcX", "abcY", 3, 3));
}

TEST(VisibleText, ShowsControlCharactersButTabInCaretNotation) {
  const struct {
    const char* text;
    const char* shown;
  } kCases[] = {
      {"", ""},
      {"12 x\t7", "12 x\t7"},
      {"\x1b]0;title\a\x1b[2J", "^[]0;title^G^[[2J"},
      {"a\rb\nc\x7f", "a^Mb^Jc^?"},
      {"\x01\x1f\xc3\xa9", "^A^_\xc3\xa9"},  // text beyond ASCII stays as it is
  };
  for (const auto& c : kCases) EXPECT_STREQ(c.shown, VisibleText(c.text).GetText()) << c.shown;
}

}  // namespace
