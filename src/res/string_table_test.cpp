// Every entry of the string table loads its exact text: on Windows through
// the compiled resource, on Linux through the layer.
#include <gtest/gtest.h>

#include <string>

#include "errors/resource_strings.h"

namespace {

struct Entry {
  UINT id;
  const char* text;
};

const Entry kTable[] = {
#define TW_STRING(id, name, text) {id, text},
#include "res/string_table.inc"
#undef TW_STRING
};

TEST(StringTable, EveryEntryLoadsItsExactText) {
  for (const Entry& entry : kTable) {
    ClString text;
    LoadResString(text, entry.id);
    EXPECT_EQ(std::string(entry.text), std::string(text.GetText(), text.GetLength())) << entry.id;
  }
}

TEST(StringTable, TextsThatMustNotDrift) {
  struct Check {
    UINT id;
    const char* text;
  } checks[] = {
      {1, "Automaitc Tickwright"},
      {4, "Build N: %u"},
      {15, "@SET %s=%u\r\n"},
      {3104, "ERROR!   Cannot open file."},
      {37399, "\tHit any key to continue..."},
      {5,
       "// %u\n// This file is generated automatically.\n\n//\t#include \"%s\"\n\n#define %s "
       "%u\n#define %s_STR \"%u\"\n#define %s_LOW %u\n#define %s_HIGH %u\n#define %s_LOW_STR "
       "\"%u\"\n#define %s_HIGH_STR \"%u\"\n"},
  };
  for (const Check& check : checks) {
    ClString text;
    LoadResString(text, check.id);
    EXPECT_STREQ(check.text, text.GetText()) << check.id;
  }
  ClString banner(IDS_BANNER, "2.0");
  EXPECT_EQ(0u, std::string(banner.GetText()).rfind("C++ Project Tickwright 2.0\r\n", 0));
}

}  // namespace
