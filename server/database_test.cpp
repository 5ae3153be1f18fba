// The database folder against FIFOs, writers that ignore the lock, and concurrent writers.
#include "database.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#endif

#include <functional>
#include <thread>
#include <vector>

#include "platform.h"
#include "test_support.h"

namespace {

// No read, lock, write or journal line waits for the peer of a FIFO in the database.
TEST(DatabaseTest, FilesThatAreNoRegularFilesAreRefusedWithoutWaiting) {
#ifdef _WIN32
  GTEST_SKIP() << "Windows keeps no FIFO in a folder";
#else
  for (const char* name : {"items.txt", "checkouts.txt", "users.txt", "srcsafe.ini", "lock"}) {
    SCOPED_TRACE(name);
    TemporaryFolder root;
    const std::string folder = root / "db";
    Failure failure;
    ASSERT_TRUE(Database::Create(folder, &failure)) << failure.text;
    ASSERT_TRUE(std::filesystem::remove(folder + "/" + name));
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
#endif
}

// A writer that ignores the lock: a clean error while items.txt is read, never afterwards.
TEST(DatabaseTest, WritersThatIgnoreTheLockNeverChangeALoadedCatalog) {
  TemporaryFolder root;
  const std::string folder = root / "db", items = root / "db/items.txt";
  Failure failure;
  ASSERT_TRUE(Database::Create(folder, &failure)) << failure.text;
  std::string text = std::string(Catalog::kHeader) + "\nP\tlive\t$/\t\n";
  for (int i = 0; i < 2000; ++i) text += "F\tlive\t$/f" + std::to_string(i) + ".h\t/w\n";
  const struct {
    const char* name;
    std::function<void()> before, after;  // around the load
  } kCases[] = {
#ifndef _WIN32
      // A file that holds more than its size says, as one that grows while read.
      {"longer than its size",
       [&] {
         std::filesystem::remove(items);
         std::filesystem::create_symlink("/proc/self/status", items);
       },
       nullptr},
#endif
      {"rewritten in place", nullptr,
       [&] { std::ofstream(items, std::ios::in) << std::string(text.size(), 'x'); }},
      {"cut", nullptr, [&] { std::filesystem::resize_file(items, 100); }},
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

// A waiter for a held lock gives up, saying why; a journal line goes in whole or not at all.
TEST(DatabaseTest, NeitherAHeldLockNorAFullJournalMakesAnyoneWaitOrWriteHalf) {
  TemporaryFolder root;
  const std::string lock = root / "lock", journal = root / "journal.log";
  std::string error;
  FileLock holder, waiter;
  ASSERT_TRUE(holder.Acquire(lock, false, &error)) << error;
  EXPECT_FALSE(waiter.Acquire(lock, true, &error, 100));
  EXPECT_NE(std::string::npos, error.find("has not let go")) << error;
  holder.Release();
  EXPECT_TRUE(waiter.Acquire(lock, true, &error, 100)) << error;
#ifndef _WIN32
  std::ofstream(journal, std::ios::binary) << "an old line\n";
  struct rlimit was, room = {12 + 8, 0};
  getrlimit(RLIMIT_FSIZE, &was);
  room.rlim_max = was.rlim_max;
  const auto signalWas = signal(SIGXFSZ, SIG_IGN);
  setrlimit(RLIMIT_FSIZE, &room);
  const bool appended = AppendToFile(journal, "a line longer than the room\n", &error);
  setrlimit(RLIMIT_FSIZE, &was);
  signal(SIGXFSZ, signalWas);
  EXPECT_FALSE(appended);
  std::ifstream in(journal, std::ios::binary);
  EXPECT_EQ("an old line\n", std::string(std::istreambuf_iterator<char>(in), {}));
#endif
}

TEST(DatabaseTest, ConcurrentWritersLoseNoChangeAndReadersSeeWholeFiles) {
  TemporaryFolder root;
  const std::string folder = root / "db";
  Failure failure;
  ASSERT_TRUE(Database::Create(folder, &failure)) << failure.text;
  constexpr int kWriters = 4;
  constexpr int kChanges = 25;
  // Each thread opens the lock file itself, as another process would. The
  // last one only reads, and fails on any file it cannot parse.
  bool ok[kWriters + 1];
  std::vector<std::thread> threads;
  for (int w = 0; w <= kWriters; ++w) {
    threads.emplace_back([&, w] {
      const bool writer = w < kWriters;
      Failure failed;
      ok[w] = true;
      for (int i = 0; ok[w] && i < kChanges; ++i) {
        Database database(folder);
        ok[w] = writer ? database.Lock(true, &failed) && database.Load(false, &failed)
                       : database.Load(true, &failed);
        if (ok[w] && writer) {
          std::string name = "w" + std::to_string(w) + "-" + std::to_string(i) + ".h";
          database.Items().Add(0, ItemType::kFile, name, "/x/" + name);
          database.Checkouts()["$/" + name] = "writer";
          ok[w] = database.SaveItems(&failed) && database.SaveCheckouts(&failed);
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (int w = 0; w <= kWriters; ++w) EXPECT_TRUE(ok[w]) << w;
  Database database(folder);
  ASSERT_TRUE(database.Load(true, &failure)) << failure.text;
  EXPECT_EQ(1u + kWriters * kChanges, database.Items().Size());
  EXPECT_EQ(size_t{kWriters * kChanges}, database.Checkouts().size());
}

}  // namespace
