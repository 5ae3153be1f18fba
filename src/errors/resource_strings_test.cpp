#include "errors/resource_strings.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(LoadResString, MissingEntryGivesTheFallback) {
  ClString text;
  LoadResString(text, 9999);
  EXPECT_STREQ(" <string 9999 not found> ", text.GetText());
  EXPECT_FALSE(AppendResString(text, 9999));
  EXPECT_STREQ(" <string 9999 not found> ", text.GetText());
}

TEST(LoadResString, AppendsToWhatIsThere) {
  ClString text("[");
  LoadResString(text, IDS_OK);
  EXPECT_STREQ("[OK", text.GetText());
}

TEST(LoadResString, LongEntriesNeedMoreRoom) {
  // The usage text is longer than the first room of an empty string.
  ClString usage;
  LoadResString(usage, IDS_USAGE);
  EXPECT_EQ(347u, usage.GetLength());
  EXPECT_EQ('\n', usage.GetText()[346]);

  // Spare capacity is used first, whatever its size.
  for (DWORD spare : {1u, 2u, 3u, 10u, 600u}) {
    ClString text("ab");
    text.SetSize(3, 3 + spare);
    EXPECT_TRUE(AppendResString(text, IDS_USAGE)) << spare;
    EXPECT_EQ(349u, text.GetLength()) << spare;
    EXPECT_EQ(0, memcmp(usage.GetText(), text.GetText() + 2, 347)) << spare;
  }
}

TEST(FormatResString, FillsTheEntry) {
  ClString text("old");
  FormatResString(text, IDS_BUILD_N, 17u);
  EXPECT_STREQ("Build N: 17", text.GetText());
  ClString constructed(IDS_PARSE_ERROR, "x.h");
  EXPECT_STREQ("Error parsing file: \"x.h\"", constructed.GetText());
  // A missing entry: the fallback text, arguments unused.
  FormatResString(text, 9999, "unused");
  EXPECT_STREQ(" <string 9999 not found> ", text.GetText());
}

TEST(FormatText, GrowsUntilTheTextFits) {
  const std::string big(10000, 'z');
  ClString text("<");
  FormatText(text, "%s|%d", big.c_str(), 42);
  EXPECT_EQ("<" + big + "|42", text.GetText());
  ClString empty;
  FormatText(empty, "%s", "");
  EXPECT_EQ(0u, empty.GetLength());
}

}  // namespace
