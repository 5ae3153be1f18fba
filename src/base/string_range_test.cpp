#include "base/string_range.h"

#include <gtest/gtest.h>

namespace {

ClString Text(const ClStringRange& range) { return range.GetText(); }

TEST(ClStringRange, TrimmingBlanksAwayGivesTheEmptyRange) {
  ClStringRange range(ClString(" \t\r\n "));
  range.TrimLeft(" \t\r\n");
  EXPECT_TRUE(range.IsEmpty());
  EXPECT_EQ(ClString().GetText(), range.GetBuffer().GetText());

  ClStringRange right(ClString("  \t"));
  right.TrimRight(" \t\r\n");
  EXPECT_TRUE(right.IsEmpty());
  EXPECT_EQ(ClString().GetText(), right.GetBuffer().GetText());
}

TEST(ClStringRange, TrimmingMovesPositionsOnly) {
  ClString text("  42 \r\n");
  ClStringRange range(text);
  range.TrimLeft(" \t\r\n");
  range.TrimRight(" \t\r\n");
  EXPECT_STREQ("42", Text(range).GetText());
  EXPECT_EQ(text.GetText() + 2, range.Begin());
}

TEST(ClStringRange, SplitAt) {
  ClString text("key=value");
  ClStringRange whole(text);
  ClStringRange left, right;
  EXPECT_TRUE(whole.SplitAt(&left, &right, text.GetText() + 3));
  EXPECT_STREQ("key", Text(left).GetText());
  EXPECT_STREQ("value", Text(right).GetText());

  // At the first position: an empty left part, the rest on the right.
  EXPECT_TRUE(whole.SplitAt(&left, &right, text.GetText()));
  EXPECT_TRUE(left.IsEmpty());
  EXPECT_STREQ("ey=value", Text(right).GetText());

  // No separator: all on the left (SplitAt) or on the right (SplitAtOrRight).
  EXPECT_FALSE(whole.SplitAt(&left, &right, nullptr));
  EXPECT_STREQ("key=value", Text(left).GetText());
  EXPECT_TRUE(right.IsEmpty());
  EXPECT_FALSE(whole.SplitAtOrRight(&left, &right, nullptr));
  EXPECT_TRUE(left.IsEmpty());
  EXPECT_STREQ("key=value", Text(right).GetText());

  // Either output may be absent, and an output may be the range itself.
  ClStringRange range(text);
  range.SplitAt(nullptr, &range, text.GetText() + 3);
  EXPECT_STREQ("value", Text(range).GetText());
}

TEST(ClStringRange, SplitBeforeDropsNothing) {
  ClString text("abcdef");
  ClStringRange left, right;
  ClStringRange(text).SplitBefore(&left, &right, text.GetText() + 2);
  EXPECT_STREQ("ab", Text(left).GetText());
  EXPECT_STREQ("cdef", Text(right).GetText());
}

TEST(ClStringRange, AppendJoinsNeighboursWithoutCopying) {
  ClString text("abcdef");
  ClStringRange left, right;
  ClStringRange(text).SplitBefore(&left, &right, text.GetText() + 2);
  left.Append(right);
  EXPECT_EQ(text.GetText(), left.Begin());
  EXPECT_STREQ("abcdef", Text(left).GetText());

  ClStringRange other(ClString("xyz"));
  ClStringRange joined(ClString("ab"));
  joined.Append(other);
  EXPECT_STREQ("abxyz", Text(joined).GetText());
  EXPECT_EQ('\0', *joined.End());  // a new buffer, NUL-terminated

  ClStringRange empty;
  empty.Append(other);
  EXPECT_EQ(other.Begin(), empty.Begin());
  other.Append(ClStringRange());
  EXPECT_STREQ("xyz", Text(other).GetText());
}

TEST(ClStringRange, SetLengthWritesInPlaceOnlyForASoleHolder) {
  ClStringRange sole(ClString("abcdef"));
  sole.SplitBefore(&sole, nullptr, sole.Begin() + 2);  // "ab" of a buffer held only here
  const char* before = sole.Begin();
  char* p = sole.SetLength(3);
  EXPECT_EQ(before, p);
  EXPECT_STREQ("abc", Text(sole).GetText());

  ClString shared("abcdef");
  ClStringRange range(shared);
  range.SplitBefore(&range, nullptr, range.Begin() + 2);
  p = range.SetLength(3);
  EXPECT_NE(shared.GetText(), p);
  p[2] = '.';
  EXPECT_STREQ("ab.", Text(range).GetText());
  EXPECT_STREQ("abcdef", shared.GetText());
}

TEST(ClStringRange, MaterializeMakesAStringOfItsOwn) {
  ClString text("hello world");
  ClStringRange range(text);
  range.SplitBefore(nullptr, &range, text.GetText() + 6);
  range.Materialize();
  EXPECT_NE(text.GetText() + 6, range.Begin());
  EXPECT_EQ(range.GetBuffer().GetText(), range.Begin());
  EXPECT_EQ(6u, range.GetBuffer().GetCapacity());
  EXPECT_STREQ("world", range.Begin());
}

}  // namespace
