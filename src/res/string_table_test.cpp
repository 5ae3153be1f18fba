// Every entry of the string table loads its exact text through the resource
// compiled from it (Windows only: Linux compiles the table itself in).
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

}  // namespace
