// Tests of the Linux layer's text functions: the string table, comparison,
// UTF-8 <-> UTF-16 conversion and the Windows snprintf contract.
#include <gtest/gtest.h>
#include <string.h>

#include <string>

#include "winapi/linux/api.h"

namespace {

// The last error of a call that must have failed with 0, or 0 if it did not fail.
DWORD ErrorOf(int result) { return result == 0 ? GetLastError() : 0; }

struct TableEntry {
  UINT id;
  const char* text;
};
constexpr TableEntry kTable[] = {
#define TW_STRING(id, name, text) {id, text},
#include "res/string_table.inc"
#undef TW_STRING
};

TEST(LoadStringTest, EveryEntryLoadsWholeAndIdsAscend) {
  char buffer[1024];
  UINT previous = 0;
  for (const TableEntry& entry : kTable) {
    EXPECT_GT(entry.id, previous) << "ids must ascend for the binary search";
    previous = entry.id;
    EXPECT_EQ(LoadStringA(nullptr, entry.id, buffer, sizeof buffer),
              static_cast<int>(strlen(entry.text)));
    EXPECT_STREQ(buffer, entry.text);
  }
}

TEST(LoadStringTest, CutEntriesAndFailures) {
  HINSTANCE self = GetModuleHandleA(nullptr);
  char buffer[400], whole[400];
  EXPECT_EQ(LoadStringA(self, 1, buffer, sizeof buffer), 20);
  EXPECT_STREQ(buffer, "Automaitc Tickwright");
  EXPECT_EQ(LoadStringA(self, 3104, buffer, sizeof buffer), 26);
  EXPECT_STREQ(buffer, "ERROR!   Cannot open file.");
  // A cut entry returns max - 1: the caller's sign to try again with more room.
  LoadStringA(self, 8, whole, sizeof whole);
  EXPECT_EQ(LoadStringA(self, 8, buffer, 255), 254);
  EXPECT_EQ(std::string(buffer), std::string(whole, 254));

  EXPECT_EQ(ErrorOf(LoadStringA(self, 9999, buffer, sizeof buffer)),
            static_cast<DWORD>(ERROR_RESOURCE_NAME_NOT_FOUND));
  EXPECT_STREQ(buffer, "");
  EXPECT_EQ(ErrorOf(LoadStringA(reinterpret_cast<HINSTANCE>(buffer), 1, buffer, sizeof buffer)),
            static_cast<DWORD>(ERROR_RESOURCE_NAME_NOT_FOUND));
  EXPECT_EQ(ErrorOf(LoadStringA(self, 1, buffer, 0)), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(CompareStringTest, NarrowOrderAndCaseFolding) {
  const DWORD fold = NORM_IGNORECASE;
  const struct {
    const char* a;
    const char* b;
    DWORD flags;
    int expected;
  } cases[] = {
      {"abc", "abc", 0, CSTR_EQUAL},
      {"abc", "ab", 0, CSTR_GREATER_THAN},
      {"z", "é", 0, CSTR_LESS_THAN},  // bytes are unsigned
      {"ÄBC", "äbc", 0, CSTR_LESS_THAN},
      {"ÄBC", "äbc", fold, CSTR_EQUAL},
      {"ς", "σ", fold, CSTR_EQUAL},
      {"ẞ", "ß", fold, CSTR_EQUAL},
      {"ẞ", "ss", fold, CSTR_GREATER_THAN},  // simple folding maps one to one
      {"\u212A", "k", fold, CSTR_EQUAL},     // the Kelvin sign
      {"Ā", "ā", fold, CSTR_EQUAL},
      {"ā", "Ă", fold, CSTR_LESS_THAN},     // alternating pairs do not fold into each other
      {"İ", "i", fold, CSTR_GREATER_THAN},  // no Turkic folding
      {"\xC3\x41", "\xC3\x61", fold, CSTR_EQUAL},
      // A stray byte is no code point: it sorts after all of them.
      {"\xC3\xA9", "\xC3", fold, CSTR_LESS_THAN},
      {"\xE9", "é", fold, CSTR_GREATER_THAN},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CompareStringA(LOCALE_USER_DEFAULT, c.flags, c.a, -1, c.b, -1), c.expected)
        << c.a << " vs " << c.b << " flags " << c.flags;
  }
}

TEST(CompareStringTest, WideOrderCountsAndFailures) {
  auto compare = [](DWORD flags, const char16_t* a, const char16_t* b) {
    return CompareStringW(LOCALE_USER_DEFAULT, flags, a, -1, b, -1);
  };
  EXPECT_EQ(compare(NORM_IGNORECASE, u"ÄBC", u"äbc"), CSTR_EQUAL);
  EXPECT_EQ(compare(0, u"ÄBC", u"äbc"), CSTR_LESS_THAN);
  // A surrogate pair sorts below U+FFFF as code units, above it as a code point.
  EXPECT_EQ(compare(0, u"\U00010000", u"\uFFFF"), CSTR_LESS_THAN);
  EXPECT_EQ(compare(NORM_IGNORECASE, u"\U00010000", u"\uFFFF"), CSTR_GREATER_THAN);
  EXPECT_EQ(compare(NORM_IGNORECASE, u"\U00010400", u"\U00010428"), CSTR_EQUAL);  // Deseret
  EXPECT_EQ(compare(NORM_IGNORECASE, u"a\xD800", u"A\xD800"), CSTR_EQUAL);
  EXPECT_NE(compare(NORM_IGNORECASE, u"\xD801", u"\U00010400"), CSTR_EQUAL);

  EXPECT_EQ(CompareStringA(LOCALE_INVARIANT, 0, "// X", 3, "// ", -1), CSTR_EQUAL);
  EXPECT_EQ(CompareStringW(LOCALE_SYSTEM_DEFAULT, NORM_IGNORECASE, u"AB", 1, u"ab", 2),
            CSTR_LESS_THAN);
  EXPECT_EQ(ErrorOf(CompareStringA(LOCALE_USER_DEFAULT, 0x2, "a", -1, "a", -1)),
            static_cast<DWORD>(ERROR_INVALID_FLAGS));
  EXPECT_EQ(ErrorOf(CompareStringA(0x0409, 0, "a", -1, "a", -1)),
            static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

std::u16string ToWide(const std::string& text, DWORD flags = 0) {
  const int length = static_cast<int>(text.size());
  int count = MultiByteToWideChar(CP_UTF8, flags, text.data(), length, nullptr, 0);
  std::u16string wide(static_cast<size_t>(count), u'\0');
  if (count > 0) {
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, flags, text.data(), length, wide.data(), count), count);
  }
  return wide;
}

TEST(ConversionTest, RoundTripsAndSizes) {
  for (const char* text : {"a", "ÄBC äbc", "日本語", "\U0001F600 smile"}) {
    std::u16string wide = ToWide(text);
    const int length = static_cast<int>(wide.size());
    int size =
        WideCharToMultiByte(CP_THREAD_ACP, 0, wide.data(), length, nullptr, 0, nullptr, nullptr);
    std::string back(static_cast<size_t>(size), '\0');
    BOOL usedDefault = TRUE;
    EXPECT_EQ(
        WideCharToMultiByte(CP_ACP, 0, wide.data(), length, back.data(), size, "?", &usedDefault),
        size);
    EXPECT_EQ(back, text);
    EXPECT_FALSE(usedDefault);
  }
  EXPECT_EQ(ToWide("\U0001F600"), u"\xD83D\xDE00");
  // -1 converts the NUL along and counts it.
  EXPECT_EQ(MultiByteToWideChar(CP_OEMCP, 0, "abc", -1, nullptr, 0), 4);
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, u"é", -1, nullptr, 0, nullptr, nullptr), 3);
  char16_t wide[2];
  char narrow[2];
  EXPECT_EQ(ErrorOf(MultiByteToWideChar(CP_UTF8, 0, "abc", 3, wide, 2)),
            static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(ErrorOf(WideCharToMultiByte(CP_UTF8, 0, u"é", 1, narrow, 1, nullptr, nullptr)),
            static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(ErrorOf(MultiByteToWideChar(CP_UTF8, 0, "abc", 0, wide, 2)),
            static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(ErrorOf(MultiByteToWideChar(1252, 0, "abc", 3, wide, 2)),
            static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(ConversionTest, InvalidUtf8BecomesOneReplacementPerMaximalSubpart) {
  const struct {
    const char* bytes;
    std::u16string expected;
  } cases[] = {
      {"\x80", u"\uFFFD"},
      {"\xC3", u"\uFFFD"},
      {"\xE2\x82\x41", u"\uFFFDA"},
      {"\xF0\x9F\x98x", u"\uFFFDx"},
      {"\xE0\x80\x80", u"\uFFFD\uFFFD\uFFFD"},            // overlong
      {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},            // an encoded surrogate
      {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},  // above U+10FFFF
      {"a\xF1\x80\x80\xE1\x80\xC2\x62\x80\x63\x80\xBF\x64",
       u"a\uFFFD\uFFFD\uFFFDb\uFFFDc\uFFFD\uFFFDd"},
  };
  for (const auto& c : cases) EXPECT_EQ(ToWide(c.bytes), c.expected) << c.bytes;
  SetLastError(0);
  EXPECT_TRUE(ToWide("a\x80", MB_ERR_INVALID_CHARS).empty());
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
}

TEST(ConversionTest, LoneSurrogatesBecomeReplacementOrFail) {
  for (const char16_t* wide : {u"a\xD800\x62", u"a\xDC00\x62", u"a\xDBFF"}) {
    char out[8] = {};
    BOOL usedDefault = FALSE;
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, wide, 3, out, sizeof out, nullptr, &usedDefault), 5);
    EXPECT_EQ(std::string(out), std::string("a\xEF\xBF\xBD") + (wide[2] ? "b" : ""));
    EXPECT_TRUE(usedDefault);
    EXPECT_EQ(ErrorOf(WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide, -1, out, sizeof out,
                                          nullptr, nullptr)),
              static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
  }
}

TEST(SnprintfTest, WindowsRunTimeContract) {
  char buffer[8] = "XXXXXXX";
  EXPECT_EQ(_snprintf(buffer, 0, "%s", "a"), -1);
  EXPECT_EQ(buffer[0], 'X');
  // Filling the room exactly leaves no NUL; overflowing gives -1.
  EXPECT_EQ(_snprintf(buffer, 4, "%d", 1234), 4);
  EXPECT_EQ(std::string(buffer, 5), "1234X");
  EXPECT_EQ(_snprintf(buffer, 4, "%s", "abcdef"), -1);
  EXPECT_EQ(std::string(buffer, 5), "abcdX");
  EXPECT_EQ(_snprintf(buffer, 6, "%s", "abc"), 3);
  EXPECT_STREQ(buffer, "abc");
  EXPECT_EQ(_snprintf(nullptr, 0, "%u", 12345u), 5);
}

}  // namespace
