// Failures that only the Linux layer's replaceable system calls can stage.
#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>

#include "base/replace_file.h"
#include "base/test_folder.h"
#include "errors/exception.h"
#include "winapi/linux/syscalls.h"

namespace fs = std::filesystem;

namespace {

template <int error, typename... Args>
int Failing(Args...) {
  errno = error;
  return -1;
}

constexpr fs::perms kMode = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read;

class ReplaceFaultTest : public TestFolder {
 protected:
  void SetUp() override {
    TestFolder::SetUp();
    Create("a.h", "old text");
    fs::permissions(folder / "a.h", kMode);
  }
  void TearDown() override {
    sys = realSyscalls;
    TestFolder::TearDown();
  }
  ClString Target() const { return Path("a.h"); }
  std::string Content() const { return TestFolder::Content("a.h"); }
};

// Each failure is reported on the target, which keeps its old text; no other file stays.
TEST_F(ReplaceFaultTest, AFullDiskOrAFailedFlushOrRenameLeavesTheOldTextWhole) {
  LinuxSyscalls fullDisk = realSyscalls, failedFlush = realSyscalls, failedRename = realSyscalls;
  fullDisk.write = [](int fd, const void* buffer, size_t count) -> ssize_t {
    realSyscalls.write(fd, buffer, std::min<size_t>(count, 2));  // part of it went out
    return Failing<ENOSPC>();
  };
  failedFlush.fsync = Failing<EIO>;
  failedRename.rename = Failing<EIO>;
  const struct {
    const LinuxSyscalls& calls;
    const char* reportStart;
  } kCases[] = {{fullDisk, "ERROR writing file"},
                {failedFlush, "ERROR writing file"},
                {failedRename, "ERROR! Cannot rename or move file:"}};
  for (const auto& c : kCases) {
    sys = c.calls;
    try {
      WriteByReplacing(Target(), "new text", 8);
      ADD_FAILURE() << c.reportStart << ": no exception";
    } catch (ClFileException* e) {
      ClString report;
      e->BuildReport(report);
      EXPECT_TRUE(std::string(report.GetText()).starts_with(c.reportStart)) << report.GetText();
      EXPECT_STREQ(e->fileName.GetText(), Target().GetText());
      delete e;
    }
    EXPECT_EQ(Content(), "old text");
    EXPECT_EQ(FilesInFolder(), 1u);
  }
}

TEST_F(ReplaceFaultTest, WhereNoTemporaryFileFitsTheCallerWritesInPlace) {
  sys.open = [](const char* path, int flags, mode_t mode) {
    if ((flags & O_CREAT) && std::string(path).ends_with(".TMP")) return Failing<EACCES>();
    return realSyscalls.open(path, flags, mode);
  };
  EXPECT_FALSE(WriteByReplacing(Target(), "new", 3));
  EXPECT_EQ("old text", Content());
  EXPECT_EQ(1u, FilesInFolder());
}

TEST_F(ReplaceFaultTest, TheNewTextKeepsTheOldPermissions) {
  ASSERT_TRUE(WriteByReplacing(Target(), "new", 3));
  EXPECT_EQ("new", Content());
  EXPECT_EQ(kMode, fs::status(folder / "a.h").permissions() & fs::perms::all);
}

}  // namespace
