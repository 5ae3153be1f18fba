#include "base/string.h"

#include <gtest/gtest.h>

#include "errors/exception.h"

namespace {

TEST(ClString, EmptyStringsShareTheStaticBuffer) {
  ClString a;
  ClString b("");
  ClString c(static_cast<const char*>(nullptr));
  EXPECT_EQ(a.GetText(), b.GetText());
  EXPECT_EQ(a.GetText(), c.GetText());
  EXPECT_EQ(0u, a.GetLength());
  EXPECT_EQ(1u, a.GetCount());
  EXPECT_TRUE(a.IsSharedBuffer());
}

TEST(ClString, ConstructorAllocatesExactly) {
  ClString s("abc");
  EXPECT_EQ(3u, s.GetLength());
  EXPECT_EQ(4u, s.GetCount());
  EXPECT_EQ(4u, s.GetCapacity());
  EXPECT_STREQ("abc", s.GetText());
}

TEST(ClString, CopiesShareUntilWritten) {
  ClString original("text");
  ClString copy(original);
  EXPECT_EQ(original.GetText(), copy.GetText());
  copy.GetBuffer()[0] = 'n';
  EXPECT_STREQ("text", original.GetText());
  EXPECT_STREQ("next", copy.GetText());
  EXPECT_NE(original.GetText(), copy.GetText());
  // A sole holder writes in place.
  const char* before = copy.GetText();
  copy.GetBuffer()[1] = 'o';
  EXPECT_EQ(before, copy.GetText());
}

TEST(ClString, SelfAssignmentKeepsTheText) {
  ClString s("keep");
  ClString& alias = s;
  s = alias;
  EXPECT_STREQ("keep", s.GetText());
}

TEST(ClString, SetSizeToThePresentCountDoesNothing) {
  ClString a("abc");
  ClString b(a);
  EXPECT_EQ(nullptr, b.SetSize(4));
  EXPECT_EQ(a.GetText(), b.GetText());  // still shared
  char* p = b.SetSize(4, 0, true);      // forced: unshares
  ASSERT_NE(nullptr, p);
  EXPECT_NE(a.GetText(), b.GetText());
  EXPECT_STREQ("abc", p);
}

TEST(ClString, SetSizeGrowthFollowsTheCapacityRules) {
  ClString s("abcd");  // capacity 5
  char* p = s.SetSize(7);
  EXPECT_EQ(10u, s.GetCapacity());  // twice the old capacity
  EXPECT_EQ(0, memcmp(p, "abcd\0\0", 7));  // the grown part is zeroed
  s.SetSize(30);
  EXPECT_EQ(30u, s.GetCapacity());  // more than twice: exactly what was asked
  s.SetSize(3, 100);
  EXPECT_EQ(100u, s.GetCapacity());
  EXPECT_EQ(3u, s.GetCount());
  // Shrinking within the capacity keeps the block.
  const char* before = s.GetText();
  s.SetSize(2);
  EXPECT_EQ(before, s.GetText());
  // noShrink never lowers the count.
  s.SetSize(1, 0, true, true);
  EXPECT_EQ(2u, s.GetCount());
}

TEST(ClString, SetSizeToNothingReleasesTheBuffer) {
  ClString s("abc");
  EXPECT_EQ(nullptr, s.SetSize(0));
  EXPECT_EQ(0u, s.GetLength());
  EXPECT_STREQ("", s.GetText());
  ClString copy(s);
  EXPECT_STREQ("", copy.GetText());
}

TEST(ClString, MidClampsAndShares) {
  const ClString s("abcdef");
  struct Case {
    DWORD start, n;
    const char* expected;
  } cases[] = {
      {0, 3, "abc"}, {2, 2, "cd"}, {4, 100, "ef"}, {6, 1, ""}, {9, 1, ""}, {3, 0, ""},
  };
  for (const Case& c : cases) {
    ClString out("previous");
    s.Mid(out, c.start, c.n);
    EXPECT_STREQ(c.expected, out.GetText()) << c.start << "," << c.n;
  }
  ClString whole;
  s.Mid(whole, 0, 0xFFFFFFFF);
  EXPECT_EQ(s.GetText(), whole.GetText());
}

TEST(ClString, MidIntoItself) {
  ClString s("abcdef");
  ClString other(s);
  s.Mid(s, 0, 3);
  EXPECT_STREQ("abc", s.GetText());
  EXPECT_STREQ("abcdef", other.GetText());
  ClString t("abcdef");
  t.Mid(t, 2, 3);
  EXPECT_STREQ("cde", t.GetText());
}

TEST(ClString, MidIntoAStringThatSharesTheSource) {
  ClString s("abcdef");
  ClString out(s);
  s.Mid(out, 1, 2);
  EXPECT_STREQ("bc", out.GetText());
  EXPECT_STREQ("abcdef", s.GetText());
}

TEST(ClString, FreeExtra) {
  ClString s("abc");
  s.SetSize(4, 64);
  ClString shared(s);
  s.FreeExtra();
  EXPECT_EQ(4u, s.GetCapacity());
  EXPECT_STREQ("abc", s.GetText());
  EXPECT_FALSE(s.IsSharedBuffer());
  EXPECT_EQ(64u, shared.GetCapacity());
  // count == capacity: nothing happens, even for a shared buffer.
  ClString exact("xyz");
  ClString holder(exact);
  exact.FreeExtra();
  EXPECT_EQ(holder.GetText(), exact.GetText());
}

TEST(ClString, AppendGrowsAndToleratesItsOwnText) {
  ClString s("ab");
  s.Append("cd");
  s.Append(s);
  EXPECT_STREQ("abcdabcd", s.GetText());
  ClString big;
  for (int i = 0; i < 1000; ++i) big.Append("x");
  EXPECT_EQ(1000u, big.GetLength());
  EXPECT_LT(big.GetCapacity(), 4000u);
}

TEST(ClString, AssignCopiesTheCountGiven) {
  ClString s;
  s.Assign("hello", 6);
  EXPECT_STREQ("hello", s.GetText());
  s.Assign(s.GetText() + 1, 5);  // from its own buffer
  EXPECT_STREQ("ello", s.GetText());
  s = "again";
  EXPECT_STREQ("again", s.GetText());
}

TEST(Conversions, NarrowToWideAndBack) {
  ClWString wide;
  wide.AssignFromNarrow("abc", -1, conversionCodePage);
  EXPECT_EQ(3u, wide.GetLength());  // the converted terminator is dropped
  EXPECT_EQ(WIDE('c'), wide.GetText()[2]);

  const char* utf8 = "\xC3\x84pfel \xE2\x82\xAC";  // "Äpfel €"
  wide.AssignFromNarrow(utf8, -1, CP_UTF8);
  EXPECT_EQ(7u, wide.GetLength());
  ClString narrow;
  narrow.AssignFromWide(wide.GetText(), static_cast<int>(wide.GetLength()), CP_UTF8);
  EXPECT_STREQ(utf8, narrow.GetText());
}

TEST(Conversions, EmptySourcesGiveTheSharedEmptyBuffer) {
  ClString empty;
  ClString narrow("old");
  narrow.AssignFromWide(WIDE(""), -1, conversionCodePage);
  EXPECT_EQ(empty.GetText(), narrow.GetText());
  narrow = "old";
  narrow.AssignFromWide(WIDE("x"), 0, conversionCodePage);
  EXPECT_EQ(empty.GetText(), narrow.GetText());
}

TEST(Conversions, AFailedConversionThrowsTheSystemCode) {
  ClString narrow;
  try {
    narrow.AssignFromWide(WIDE("x"), 1, 12345);  // no such code page
    FAIL() << "no exception";
  } catch (ClException* e) {
    ASSERT_TRUE(e->IsKindOf(ClWin32Exception::kClassId));
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

TEST(FindLastByte, FindsTheLastOrNothing) {
  const char text[] = "a/b/c";
  EXPECT_EQ(text + 3, FindLastByte(text, 5, '/'));
  EXPECT_EQ(text + 1, FindLastByte(text, 3, '/'));
  EXPECT_EQ(nullptr, FindLastByte(text, 5, 'x'));
  EXPECT_EQ(nullptr, FindLastByte(text, 0, 'a'));
}

}  // namespace
