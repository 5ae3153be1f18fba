#include "base/string.h"

#include <gtest/gtest.h>

#include "errors/exception.h"

namespace {

TEST(ClString, EmptyStringsShareTheStaticBufferAndTextsGetExactBlocks) {
  ClString a;
  ClString b("");
  ClString c(static_cast<const char*>(nullptr));
  EXPECT_EQ(a.GetText(), b.GetText());
  EXPECT_EQ(a.GetText(), c.GetText());
  EXPECT_EQ(0u, a.GetLength());
  EXPECT_TRUE(a.IsSharedBuffer());
  ClString s("abc");
  EXPECT_EQ(3u, s.GetLength());
  EXPECT_EQ(4u, s.GetCapacity());
}

TEST(ClString, CopiesShareUntilWritten) {
  ClString original("text");
  ClString copy(original);
  EXPECT_EQ(original.GetText(), copy.GetText());
  copy.GetBuffer()[0] = 'n';
  EXPECT_STREQ("text", original.GetText());
  EXPECT_STREQ("next", copy.GetText());
  const char* before = copy.GetText();
  copy.GetBuffer()[1] = 'o';  // a sole holder writes in place
  EXPECT_EQ(before, copy.GetText());
  ClString& alias = copy;
  copy = alias;
  EXPECT_STREQ("noxt", copy.GetText());
}

TEST(ClString, SetSize) {
  ClString a("abc");
  ClString b(a);
  EXPECT_EQ(nullptr, b.SetSize(4));  // the present count, not forced: nothing
  EXPECT_EQ(a.GetText(), b.GetText());
  EXPECT_NE(nullptr, b.SetSize(4, 0, true));
  EXPECT_NE(a.GetText(), b.GetText());

  ClString s("abcd");  // capacity 5
  char* p = s.SetSize(7);
  EXPECT_EQ(10u, s.GetCapacity());  // twice the old capacity
  EXPECT_EQ(0, memcmp(p, "abcd\0\0", 7));
  s.SetSize(30);
  EXPECT_EQ(30u, s.GetCapacity());  // more than twice: what was asked
  s.SetSize(3, 100);
  EXPECT_EQ(100u, s.GetCapacity());
  const char* before = s.GetText();
  s.SetSize(2);
  EXPECT_EQ(before, s.GetText());  // shrinking keeps the block
  s.SetSize(1, 0, true, true);
  EXPECT_EQ(2u, s.GetCount());  // noShrink
}

TEST(ClString, MidClampsSharesAndCutsInPlace) {
  const ClString s("abcdef");
  struct Case {
    DWORD start, n;
    const char* expected;
  } cases[] = {{0, 3, "abc"}, {2, 2, "cd"}, {4, 100, "ef"}, {6, 1, ""}, {3, 0, ""}};
  for (const Case& c : cases) {
    ClString out(s);  // a target that shares the source
    s.Mid(out, c.start, c.n);
    EXPECT_STREQ(c.expected, out.GetText()) << c.start << "," << c.n;
  }
  EXPECT_STREQ("abcdef", s.GetText());
  ClString whole;
  s.Mid(whole, 0, 0xFFFFFFFF);
  EXPECT_EQ(s.GetText(), whole.GetText());

  ClString t("abcdef");
  t.Mid(t, 0, 3);
  EXPECT_STREQ("abc", t.GetText());
  ClString u("abcdef");
  u.Mid(u, 2, 3);
  EXPECT_STREQ("cde", u.GetText());
}

TEST(ClString, FreeExtraAppendAndAssign) {
  ClString s("abc");
  s.SetSize(4, 64);
  ClString shared(s);
  s.FreeExtra();
  EXPECT_EQ(4u, s.GetCapacity());
  EXPECT_EQ(64u, shared.GetCapacity());
  ClString exact("xyz");
  ClString holder(exact);
  exact.FreeExtra();  // count == capacity: nothing, even shared
  EXPECT_EQ(holder.GetText(), exact.GetText());

  ClString t("ab");
  t.Append("cd");
  t.Append(t);  // its own text
  EXPECT_STREQ("abcdabcd", t.GetText());
  t.Assign(t.GetText() + 5, 4);  // "bcd" and its NUL, from its own buffer
  EXPECT_STREQ("bcd", t.GetText());
  ClString big;
  for (int i = 0; i < 1000; ++i) big.Append("x");
  EXPECT_LT(big.GetCapacity(), 4000u);  // growth by doubling
}

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
