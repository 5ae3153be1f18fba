// Tests of the database: its text format, lookups, the folder's files, the
// lock under concurrent writers and the check-out.
#include "database.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform.h"
#include "test_support.h"
#include "text.h"

namespace {

// $/, $/app (working folder), $/app/a.h, $/app/sub, $/app/sub/b.h,
// $/old (deleted) with $/old/c.h, then $/lib/d.h.
void Fill(Catalog& items) {
  uint32_t app = items.Add(0, ItemType::kProject, "App", "/w/app");
  items.Add(app, ItemType::kFile, "a.h", "/w/app/a.h");
  uint32_t sub = items.Add(app, ItemType::kProject, "sub", "");
  items.Add(sub, ItemType::kFile, "b.h", "/w/app/sub/b.h");
  uint32_t old = items.Add(0, ItemType::kProject, "old", "/w/old");
  items.Add(old, ItemType::kFile, "c.h", "/w/old/c.h");
  items.MarkDeleted(old);
  uint32_t lib = items.Add(0, ItemType::kProject, "lib", "");
  items.Add(lib, ItemType::kFile, "d h.h", "/w/lib/d h.h");
}

TEST(CatalogTest, TextRoundTripKeepsItemsStateAndOrder) {
  Catalog built;
  Fill(built);
  std::string text = built.Serialize();
  Catalog loaded;
  Failure failure;
  ASSERT_TRUE(loaded.Parse(text, "items.txt", &failure)) << failure.text;
  EXPECT_EQ(text, loaded.Serialize());
  ASSERT_EQ(built.Size(), loaded.Size());
  for (uint32_t i = 0; i < built.Size(); ++i) {
    EXPECT_EQ(built.At(i).spec, loaded.At(i).spec);
    EXPECT_EQ(built.At(i).local, loaded.At(i).local);
    EXPECT_EQ(built.At(i).type, loaded.At(i).type);
    EXPECT_EQ(built.At(i).hidden, loaded.At(i).hidden) << built.At(i).spec;
  }
  // Children in the order of adding; the deleted project is not one.
  std::vector<std::string> top;
  for (uint32_t child : loaded.Children(0)) top.emplace_back(loaded.At(child).spec);
  EXPECT_EQ((std::vector<std::string>{"$/App", "$/lib"}), top);
}

TEST(CatalogTest, FindIgnoresCaseAndSkipsDeletedItems) {
  Catalog items;
  Fill(items);
  const struct {
    const char* spec;
    const char* found;  // null: not found
  } cases[] = {
      {"$/", "$/"},
      {"$/app", "$/App"},
      {"$/APP/", "$/App"},
      {"$/app/A.H", "$/App/a.h"},
      {"$/app/sub/b.h", "$/App/sub/b.h"},
      {"$/lib/d h.h", "$/lib/d h.h"},
      {"$/old", nullptr},
      {"$/old/c.h", nullptr},
      {"$/app/b.h", nullptr},
      {"$/app/sub/b.h/x", nullptr},
      {"app/a.h", nullptr},
      {"", nullptr},
  };
  for (const auto& c : cases) {
    uint32_t found = items.Find(c.spec);
    if (c.found) {
      ASSERT_NE(kNoItem, found) << c.spec;
      EXPECT_EQ(c.found, items.At(found).spec) << c.spec;
    } else {
      EXPECT_EQ(kNoItem, found) << c.spec;
    }
  }
}

TEST(CatalogTest, ReAddedProjectTakesItsOwnChildrenAfterReload) {
  Catalog items;
  uint32_t first = items.Add(0, ItemType::kProject, "p", "");
  items.Add(first, ItemType::kFile, "old.h", "/old.h");
  items.MarkDeleted(first);
  uint32_t second = items.Add(0, ItemType::kProject, "p", "");
  items.Add(second, ItemType::kFile, "new.h", "/new.h");
  std::string text = items.Serialize();
  Catalog loaded;
  ASSERT_TRUE(loaded.Parse(text, "items.txt", nullptr));
  EXPECT_EQ(kNoItem, loaded.Find("$/p/old.h"));
  ASSERT_NE(kNoItem, loaded.Find("$/p/new.h"));
  EXPECT_EQ("/new.h", loaded.At(loaded.Find("$/p/new.h")).local);
}

TEST(CatalogTest, DamagedFilesAreRefusedWithTheirLine) {
  const std::string header = std::string(Catalog::kHeader) + "\n";
  const std::string root = "P\tlive\t$/\t\n";
  const struct {
    std::string text;
    const char* line;
  } cases[] = {
      {"", "line 1"},
      {"# another format\n" + root, "line 1"},
      {header, "line 2"},
      {header + "P\tlive\t$/a\t\n", "line 2"},
      {header + root + "X\tlive\t$/a\t\n", "line 3"},
      {header + root + "F\tgone\t$/a\t/a\n", "line 3"},
      {header + root + "F\tlive\t$/a\n", "line 3"},
      {header + root + "F\tlive\t$/p/a\t/a\n", "line 3"},
      {header + root + "F\tlive\t$/f\t/f\nF\tlive\t$/f/a\t/a\n", "line 4"},
      {header + root + "F\tlive\tapp/a\t/a\n", "line 3"},
  };
  for (const auto& c : cases) {
    Catalog items;
    Failure failure;
    EXPECT_FALSE(items.Parse(c.text, "items.txt", &failure)) << c.text;
    EXPECT_NE(std::string::npos, failure.text.find(c.line)) << c.text << failure.text;
  }
}

TEST(CatalogTest, ManyFilesLoadInOrderUnderTheirProjects) {
  Catalog items;
  const uint32_t kFiles = 100000;
  uint32_t projects[3];
  for (int p = 0; p < 3; ++p) {
    projects[p] = items.Add(0, ItemType::kProject, "p" + std::to_string(p), "");
  }
  for (uint32_t i = 0; i < kFiles; ++i) {
    std::string name = "f" + std::to_string(i) + ".h";
    items.Add(projects[i % 3], ItemType::kFile, name, "/w/" + name);
  }
  std::string text = items.Serialize();  // the catalog points into it
  Catalog loaded;
  ASSERT_TRUE(loaded.Parse(text, "items.txt", nullptr));
  ASSERT_EQ(kFiles + 4, loaded.Size());
  std::vector<uint32_t> children = loaded.Children(loaded.Find("$/p1"));
  ASSERT_EQ(kFiles / 3, children.size());
  EXPECT_EQ("$/p1/f1.h", loaded.At(children.front()).spec);
  EXPECT_EQ("$/p1/f99997.h", loaded.At(children.back()).spec);
  EXPECT_EQ("/w/f99999.h", loaded.At(loaded.Find("$/p0/F99999.H")).local);
}

class DatabaseTest : public testing::Test {
 protected:
  void SetUp() override {
    Failure failure;
    ASSERT_TRUE(Database::Create(root / "db", &failure)) << failure.text;
    Database database(root / "db");
    ASSERT_TRUE(database.Lock(true, &failure));
    ASSERT_TRUE(database.Load(false, &failure)) << failure.text;
    uint32_t app = database.Items().Add(0, ItemType::kProject, "app", root / "app");
    local = root.WriteFile("app/a.h", "// 1\n");
    MakeReadOnly(local);
    database.Items().Add(app, ItemType::kFile, "a.h", local);
    database.Items().Add(app, ItemType::kFile, "gone.h", root / "app/gone.h");
    ASSERT_TRUE(database.SaveItems(&failure)) << failure.text;
  }

  std::unique_ptr<Database> Open() {
    auto database = std::make_unique<Database>(root / "db");
    Failure failure;
    EXPECT_TRUE(database->Load(true, &failure)) << failure.text;
    return database;
  }

  TemporaryFolder root;
  std::string local;
};

TEST_F(DatabaseTest, CreateRefusesAnExistingDatabase) {
  Failure failure;
  EXPECT_FALSE(Database::Create(root / "db", &failure));
  EXPECT_EQ(FormatText(ADM_DATABASE_EXISTS, {root / "db"}), failure.text);
  EXPECT_EQ(4u, Open()->Items().Size());
}

TEST_F(DatabaseTest, LoadTellsAMissingFromAForeignDatabase) {
  Failure failure;
  Database missing(root.Path());
  EXPECT_FALSE(missing.Load(true, &failure));
  EXPECT_EQ(kSsFileNotFound, failure.code);
  EXPECT_EQ(FormatText(SS_NO_DATABASE, {root.Path(), root / "srcsafe.ini"}), failure.text);

  root.WriteFile("other/srcsafe.ini", "Data_Path = data\n");
  Database foreign(root / "other");
  EXPECT_FALSE(foreign.Load(true, &failure));
  EXPECT_EQ(kSsFileNotFound, failure.code);
  EXPECT_NE(std::string::npos, failure.text.find("Tickwright_Database_Format = 1"));
}

TEST_F(DatabaseTest, CheckOutMakesTheWorkingCopyWritableAndRecordsTheUser) {
  auto database = Open();
  uint32_t file = database->Items().Find("$/app/a.h");
  Failure failure;
  ASSERT_TRUE(CheckOutFile(*database, file, "alice", &failure)) << failure.text;
  EXPECT_TRUE(IsWritable(local));
  EXPECT_EQ("alice", Open()->CheckedOutBy(file));

  // The same user again (a run after a failure) succeeds and keeps it.
  MakeReadOnly(local);
  ASSERT_TRUE(CheckOutFile(*database, file, "alice", &failure)) << failure.text;
  EXPECT_TRUE(IsWritable(local));

  // Another user, with a view loaded before alice's check-out, is refused.
  MakeReadOnly(local);
  auto stale = std::make_unique<Database>(root / "db");
  ASSERT_TRUE(stale->Load(true, &failure));
  stale->Checkouts().clear();
  EXPECT_FALSE(CheckOutFile(*stale, file, "bob", &failure));
  EXPECT_EQ(kSsCheckedOut, failure.code);
  EXPECT_EQ(FormatText(SS_CHECKED_OUT_BY_OTHER, {"$/app/a.h", "alice", "alice"}), failure.text);
  EXPECT_FALSE(IsWritable(local));
}

TEST_F(DatabaseTest, CurrentProjectFallsBackToTheRootWhenUnsetOrGone) {
  auto database = Open();
  database->Users()["alice"] = "$/APP";
  database->Users()["bob"] = "$/gone";
  database->Users()["carol"] = "$/app/a.h";
  EXPECT_EQ("$/app", database->CurrentProject("alice"));
  EXPECT_EQ("$/", database->CurrentProject("bob"));
  EXPECT_EQ("$/", database->CurrentProject("carol"));
  EXPECT_EQ("$/", database->CurrentProject("dave"));
}

TEST_F(DatabaseTest, CheckOutWithoutWorkingCopyChangesNothing) {
  auto database = Open();
  uint32_t file = database->Items().Find("$/app/gone.h");
  Failure failure;
  EXPECT_FALSE(CheckOutFile(*database, file, "alice", &failure));
  EXPECT_EQ(kSsFileNotFound, failure.code);
  EXPECT_EQ(FormatText(SS_WORKING_COPY_MISSING, {root / "app/gone.h", "$/app/gone.h"}),
            failure.text);
  EXPECT_EQ("", Open()->CheckedOutBy(file));
}

TEST_F(DatabaseTest, CheckOutOfAnItemDeletedSinceLoadingIsRefused) {
  auto database = Open();
  uint32_t file = database->Items().Find("$/app/a.h");
  {
    auto admin = std::make_unique<Database>(root / "db");
    Failure failure;
    ASSERT_TRUE(admin->Lock(true, &failure));
    ASSERT_TRUE(admin->Load(false, &failure));
    admin->Items().MarkDeleted(admin->Items().Find("$/app"));
    ASSERT_TRUE(admin->SaveItems(&failure));
  }
  Failure failure;
  EXPECT_FALSE(CheckOutFile(*database, file, "alice", &failure));
  EXPECT_EQ(kSsItemNotFound, failure.code);
  EXPECT_FALSE(IsWritable(local));
}

TEST_F(DatabaseTest, ConcurrentWritersLoseNoChangeAndReadersSeeWholeFiles) {
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
    // Each writer adds its files one change at a time; the last child only
    // reads, and fails on any file it cannot parse.
    bool ok = true;
    for (int i = 0; ok && i < kChanges; ++i) {
      Database database(root / "db");
      Failure failure;
      if (w == kWriters) {
        ok = database.Load(true, &failure) && database.Items().Find("$/app/a.h") != kNoItem;
        continue;
      }
      ok = database.Lock(true, &failure) && database.Load(false, &failure);
      if (ok) {
        std::string name = "w" + std::to_string(w) + "-" + std::to_string(i) + ".h";
        database.Items().Add(database.Items().Find("$/app"), ItemType::kFile, name, "/x/" + name);
        database.Checkouts()["$/app/" + name] = "writer";
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
  auto database = Open();
  EXPECT_EQ(4u + kWriters * kChanges, database->Items().Size());
  EXPECT_EQ(static_cast<size_t>(kWriters * kChanges), database->Checkouts().size());
  for (int w = 0; w < kWriters; ++w) {
    for (int i = 0; i < kChanges; ++i) {
      std::string spec = "$/app/w" + std::to_string(w) + "-" + std::to_string(i) + ".h";
      EXPECT_NE(kNoItem, database->Items().Find(spec)) << spec;
    }
  }
}

TEST(SelectionTest, EmptyOpenArgumentsFollowSsdirAndSsuser) {
  Failure failure;
  std::string folder, user;
  {
    ScopedEnvironment ssdir("SSDIR", nullptr);
    EXPECT_FALSE(SelectDatabaseFolder("", &folder, &failure));
    EXPECT_EQ(kSsFileNotFound, failure.code);
    EXPECT_EQ(ServerText(SS_NO_SSDIR), failure.text);
    ASSERT_TRUE(SelectDatabaseFolder("/data/vss/srcsafe.ini", &folder, &failure));
    EXPECT_EQ("/data/vss", folder);
  }
  {
    ScopedEnvironment ssdir("SSDIR", "/data/vss/");
    ASSERT_TRUE(SelectDatabaseFolder("", &folder, &failure));
    EXPECT_EQ("/data/vss/", folder);
  }
  ScopedEnvironment ssuser("SSUSER", "carol");
  ASSERT_TRUE(SelectUser("", &user, &failure));
  EXPECT_EQ("carol", user);
  ASSERT_TRUE(SelectUser("dave", &user, &failure));
  EXPECT_EQ("dave", user);
  EXPECT_FALSE(SelectUser("da\tve", &user, &failure));
  {
    ScopedEnvironment unset("SSUSER", nullptr);
    ASSERT_TRUE(SelectUser("", &user, &failure));
    EXPECT_EQ(LoginName(), user);
  }
}

TEST(TextTest, Utf8AndUtf16RoundTripAndRepairBadInput) {
  const std::string text = "$/proj/\xC3\xA4\xE2\x82\xAC\xF0\x9F\x98\x80.h";
  WideText wide = WideFromUtf8(text);
  EXPECT_EQ(WideText(u"$/proj/\u00E4\u20AC\U0001F600.h"), wide);
  EXPECT_EQ(text, Utf8FromWide(wide.data(), wide.size()));
  EXPECT_EQ(WideText(u"a\uFFFD\uFFFDb"), WideFromUtf8("a\xC0\xAF"
                                                      "b"));
  const OLECHAR lone[] = {u'x', 0xD800, u'y'};
  EXPECT_EQ("x\xEF\xBF\xBDy", Utf8FromWide(lone, 3));
  // Arguments go in order; a "%s" without one stays.
  EXPECT_EQ(std::string(ServerText(ADM_ERROR)), FormatText(ADM_ERROR, {}));
  EXPECT_EQ("tw-ssadmin add: 50% %s", FormatText(ADM_ERROR, {"add", "50% %s"}));
}

}  // namespace
