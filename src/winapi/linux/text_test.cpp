// Tests of the Linux layer's string loading, comparison and UTF-8 <-> UTF-16 conversion.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "winapi/linux/api.h"

namespace {

// The last error of a call that must have failed with 0, or 0 if it did not fail.
DWORD ErrorOf(int result) { return result == 0 ? GetLastError() : 0; }

TEST(CompareStringTest, NarrowOrderAndCaseFolding) {
  const DWORD fold = NORM_IGNORECASE;
  const struct {
    const char* a;
    int lengthA;
    const char* b;
    DWORD flags;
    int expected;
  } kCases[] = {
      {"abc", -1, "ab", 0, CSTR_GREATER_THAN},
      {"// X", 3, "// ", 0, CSTR_EQUAL},
      {"z", -1, "é", 0, CSTR_LESS_THAN},  // bytes are unsigned
      {"ÄBC", -1, "äbc", 0, CSTR_LESS_THAN},
      {"ÄBC", -1, "äbc", fold, CSTR_EQUAL},
      {"āĂ", -1, "Āă", fold, CSTR_EQUAL},              // alternating case pairs
      {"\u212A", -1, "k", fold, CSTR_EQUAL},           // the Kelvin sign
      {"ẞ", -1, "ss", fold, CSTR_GREATER_THAN},        // simple folding maps one to one
      {"İ", -1, "i", fold, CSTR_GREATER_THAN},         // no Turkic folding
      {"\xC3\xA9", -1, "\xC3", fold, CSTR_LESS_THAN},  // a stray byte sorts after code points
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(CompareStringA(LOCALE_USER_DEFAULT, c.flags, c.a, c.lengthA, c.b, -1), c.expected)
        << c.a << " vs " << c.b << " flags " << c.flags;
  }
}

// Only equality matters to the program's wide comparison (of local paths).
TEST(CompareStringTest, WideFoldingOfSurrogates) {
  auto fold = [](const char16_t* a, const char16_t* b, int lengthA = -1) {
    return CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, a, lengthA, b, -1);
  };
  EXPECT_EQ(fold(u"ÄBC", u"äbc"), CSTR_EQUAL);
  EXPECT_EQ(fold(u"\U00010400", u"\U00010428"), CSTR_EQUAL);  // Deseret
  EXPECT_NE(fold(u"\xD801", u"\U00010400"), CSTR_EQUAL);
  EXPECT_NE(fold(u"AB", u"ab", 1), CSTR_EQUAL);
}

// Both directions as the program converts: size first, then the text with its NUL.
std::u16string ToWide(const char* text) {
  int count = MultiByteToWideChar(CP_THREAD_ACP, 0, text, -1, nullptr, 0);
  std::u16string wide(static_cast<size_t>(std::max(count, 1)), u'?');
  EXPECT_EQ(MultiByteToWideChar(CP_THREAD_ACP, 0, text, -1, wide.data(), count), count);
  EXPECT_EQ(wide.back(), u'\0');
  return wide.substr(0, wide.size() - 1);
}

std::string ToNarrow(const char16_t* text) {
  int count = WideCharToMultiByte(CP_THREAD_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
  std::string narrow(static_cast<size_t>(std::max(count, 1)), '?');
  EXPECT_EQ(WideCharToMultiByte(CP_THREAD_ACP, 0, text, -1, narrow.data(), count, nullptr, nullptr),
            count);
  EXPECT_EQ(narrow.back(), '\0');
  return narrow.substr(0, narrow.size() - 1);
}

// Invalid text becomes U+FFFD, in UTF-8 one per maximal subpart.
TEST(ConversionTest, RoundTripsReplacesInvalidTextAndKeepsToTheBufferSize) {
  enum Way { kBoth, kToWide, kToNarrow };
  const struct {
    const char* narrow;
    const char16_t* wide;
    Way way;
  } kCases[] = {
      {"ÄBC äbc 日本語", u"ÄBC äbc 日本語", kBoth},
      {"\U0001F600", u"\xD83D\xDE00", kBoth},
      {"\xE0\x80\x80", u"\uFFFD\uFFFD\uFFFD", kToWide},            // overlong
      {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD", kToWide},            // an encoded surrogate
      {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD", kToWide},  // above U+10FFFF
      {"a\xF1\x80\x80\xE1\x80\xC2\x62\x80\x63\x80\xBF\x64",
       u"a\uFFFD\uFFFD\uFFFDb\uFFFDc\uFFFD\uFFFDd", kToWide},
      {"a\uFFFDb", u"a\xD800\x62", kToNarrow},  // lone surrogates
      {"a\uFFFD", u"a\xDBFF", kToNarrow},
  };
  for (const auto& c : kCases) {
    if (c.way != kToNarrow) {
      EXPECT_EQ(ToWide(c.narrow), c.wide) << c.narrow;
    }
    if (c.way != kToWide) {
      EXPECT_EQ(ToNarrow(c.wide), c.narrow) << c.narrow;
    }
  }
  char16_t wide[2];
  char narrow[2];
  EXPECT_EQ(ErrorOf(MultiByteToWideChar(CP_UTF8, 0, "abc", 3, wide, 2)), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(ErrorOf(WideCharToMultiByte(CP_UTF8, 0, u"é", 1, narrow, 1, nullptr, nullptr)),
            ERROR_INSUFFICIENT_BUFFER);
}

}  // namespace
