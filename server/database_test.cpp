// Tests of the database: its text format, damaged files, many items and the
// lock under concurrent writers.
#include "database.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>

#include "test_support.h"

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

// A FIFO (or any file that is no regular file) in the database is refused at
// once: reading, locking, writing and journaling never wait for a peer.
TEST(DatabaseTest, FilesThatAreNoRegularFilesAreRefusedWithoutWaiting) {
  for (const char* name : {"items.txt", "checkouts.txt", "users.txt", "srcsafe.ini", "lock"}) {
    SCOPED_TRACE(name);
    TemporaryFolder root;
    const std::string folder = root / "db";
    Failure failure;
    ASSERT_TRUE(Database::Create(folder, &failure)) << failure.text;
    ASSERT_EQ(0, unlink((folder + "/" + name).c_str()));
    ASSERT_EQ(0, mkfifo((folder + "/" + name).c_str(), 0666));
    Database database(folder);
    const bool loaded = database.Lock(true, &failure) && database.Load(false, &failure);
    if (loaded) {
      database.Journal("alice", "test", "$/");
      EXPECT_FALSE(database.SaveItems(&failure) && database.SaveCheckouts(&failure) &&
                   database.SaveUsers(&failure));
    }
    EXPECT_NE(std::string::npos, failure.text.find("Not a regular file")) << failure.text;
  }
}

// The catalog is the text read under the lock: what a writer that ignores
// the lock does to items.txt reaches the catalog as a clean error while it
// is read, and never afterwards (a cut under a mapping ends in SIGBUS).
TEST(DatabaseTest, WritersThatIgnoreTheLockNeverChangeALoadedCatalog) {
  TemporaryFolder root;
  const std::string folder = root / "db", items = folder + "/items.txt";
  Failure failure;
  ASSERT_TRUE(Database::Create(folder, &failure)) << failure.text;
  std::string text = std::string(Catalog::kHeader) + "\nP\tlive\t$/\t\n";
  for (int i = 0; i < 2000; ++i) text += "F\tlive\t$/f" + std::to_string(i) + ".h\t/w\n";
  const struct {
    const char* name;
    std::function<void()> before, after;  // around the load
  } kCases[] = {
      // A file that holds more than its size says, as one that grows while read.
      {"longer than its size",
       [&] {
         std::filesystem::remove(items);
         std::filesystem::create_symlink("/proc/self/status", items);
       },
       nullptr},
      {"rewritten in place", nullptr,
       [&] { std::ofstream(items, std::ios::in) << std::string(text.size(), 'x'); }},
      {"cut", nullptr, [&] { ASSERT_EQ(0, truncate(items.c_str(), 100)); }},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove(items);
    std::ofstream(items, std::ios::binary) << text;
    if (c.before) c.before();
    Database database(folder);
    const bool loaded = database.Load(true, &failure);
    if (c.before) {
      EXPECT_FALSE(loaded);
      EXPECT_NE(std::string::npos, failure.text.find("changed while it was read")) << failure.text;
      continue;
    }
    ASSERT_TRUE(loaded) << failure.text;
    c.after();
    EXPECT_TRUE(text == database.Items().Serialize());
    EXPECT_EQ("$/f1999.h", database.Items().At(2000).spec);
  }
}

TEST(DatabaseTest, ConcurrentWritersLoseNoChangeAndReadersSeeWholeFiles) {
  TemporaryFolder root;
  const std::string folder = root / "db";
  Failure failure;
  ASSERT_TRUE(Database::Create(folder, &failure)) << failure.text;
  constexpr int kWriters = 4;
  constexpr int kChanges = 25;
  std::vector<pid_t> children;
  for (int w = 0; w <= kWriters; ++w) {
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child > 0) {
      children.push_back(child);
      continue;
    }
    // The last child only reads, and fails on any file it cannot parse.
    const bool writer = w < kWriters;
    bool ok = true;
    for (int i = 0; ok && i < kChanges; ++i) {
      Database database(folder);
      ok = writer ? database.Lock(true, &failure) && database.Load(false, &failure)
                  : database.Load(true, &failure);
      if (ok && writer) {
        std::string name = "w" + std::to_string(w) + "-" + std::to_string(i) + ".h";
        database.Items().Add(0, ItemType::kFile, name, "/x/" + name);
        database.Checkouts()["$/" + name] = "writer";
        ok = database.SaveItems(&failure) && database.SaveCheckouts(&failure);
      }
    }
    _exit(ok ? 0 : 1);
  }
  for (pid_t child : children) {
    int status = 0;
    ASSERT_EQ(child, waitpid(child, &status, 0));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  Database database(folder);
  ASSERT_TRUE(database.Load(true, &failure)) << failure.text;
  EXPECT_EQ(1u + kWriters * kChanges, database.Items().Size());
  EXPECT_EQ(size_t{kWriters * kChanges}, database.Checkouts().size());
}

}  // namespace
