// The catalog: items.txt read and written, items found, damaged files refused.
#include "catalog.h"

#include <gtest/gtest.h>

namespace {

TEST(CatalogTest, ManyItemsRoundTripInOrderAndAreFoundIgnoringCase) {
  Catalog built;
  uint32_t old = built.Add(0, ItemType::kProject, "old", "");
  built.Add(old, ItemType::kFile, "c.h", "/w/old/c.h");
  built.MarkDeleted(old);
  uint32_t again = built.Add(0, ItemType::kProject, "old", "");  // re-added after deletion
  built.Add(again, ItemType::kFile, "d h.h", "/w/d h.h");
  built.MarkDeleted(built.Add(again, ItemType::kFile, "gone.h", "/w/gone.h"));
  const uint32_t kFiles = 100000;
  uint32_t projects[3];
  for (int p = 0; p < 3; ++p) {
    projects[p] = built.Add(0, ItemType::kProject, "P" + std::to_string(p), "/w");
  }
  for (uint32_t i = 0; i < kFiles; ++i) {
    std::string name = "f" + std::to_string(i) + ".h";
    built.Add(projects[i % 3], ItemType::kFile, name, "/w/" + name);
  }
  const std::string text = built.Serialize();  // the loaded catalog points into it
  Catalog loaded;
  Failure failure;
  ASSERT_TRUE(loaded.Parse(text, "items.txt", &failure)) << failure.text;
  EXPECT_EQ(text, loaded.Serialize());
  ASSERT_EQ(kFiles + 9, loaded.Size());
  std::vector<uint32_t> children = loaded.Children(loaded.Find("$/p1"));
  ASSERT_EQ(kFiles / 3, children.size());
  EXPECT_EQ("$/P1/f1.h", loaded.At(children.front()).spec);
  EXPECT_EQ("$/P1/f99997.h", loaded.At(children.back()).spec);
  const struct {
    const char* spec;
    const char* local;  // null: not found
  } kCases[] = {
      {"$/p0/", "/w"},        {"$/P0/F99999.H", "/w/f99999.h"}, {"$/old/d h.h", "/w/d h.h"},
      {"$/old/c.h", nullptr}, {"$/old/gone.h", nullptr},        {"$/p0/f0.h/x", nullptr},
      {"p0/f0.h", nullptr}};
  for (const auto& c : kCases) {
    const uint32_t found = loaded.Find(c.spec);
    EXPECT_EQ(c.local ? c.local : "-", found == kNoItem ? "-" : loaded.At(found).local) << c.spec;
  }
}

TEST(CatalogTest, DamagedFilesAreRefusedWithTheirLine) {
  const std::string header = std::string(Catalog::kHeader) + "\n";
  const std::string root = "P\tlive\t$/\t\n";
  const struct {
    std::string text;
    const char* line;
  } cases[] = {
      {"# another format\n" + root, "line 1"},
      {header, "line 2"},
      {header + "P\tlive\t$/a\t\n", "line 2"},
      {header + root + "X\tlive\t$/a\t\n", "line 3"},
      {header + root + "F\tgone\t$/a\t/a\n", "line 3"},
      {header + root + "F\tlive\t$/a\n", "line 3"},
      {header + root + "F\tlive\t$/p/a\t/a\n", "line 3"},
      {header + root + "F\tlive\t$/f\t/f\nF\tlive\t$/f/a\t/a\n", "line 4"},
      {header + root + "F\tlive\tapp/a\t/a\n", "line 3"},
      // Found by fuzz/database_fuzz.cpp: saved, "/src\r" would read back as "/src".
      {header + root + "P\tlive\t$/a\t/src\r\r\n", "line 3"},
      // Found by fuzz/database_fuzz.cpp: the first $/old could not be found.
      {header + root + "P\tlive\t$/old\t\nP\tdeleted\t$/OLD\t\n", "line 4"},
      // Found by fuzz/database_fuzz.cpp: Find("$/a") gave the item of "$//a".
      {header + root + "F\tlive\t$//a\t/x\nF\tlive\t$/a\t/a\n", "line 3"},
  };
  for (const auto& c : cases) {
    Catalog items;
    Failure failure;
    EXPECT_FALSE(items.Parse(c.text, "items.txt", &failure)) << c.text;
    EXPECT_NE(std::string::npos, failure.text.find(c.line)) << c.text << failure.text;
  }
}

}  // namespace
