// Failures that only the Linux layer's replaceable system calls can stage.
#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "base/replace_file.h"
#include "errors/exception.h"
#include "winapi/linux/syscalls.h"

namespace fs = std::filesystem;

namespace {

class ReplaceFaultTest : public testing::Test {
 protected:
  void SetUp() override {
    folder = fs::temp_directory_path() / ("tw-replace-fault-" + std::to_string(getpid()));
    fs::remove_all(folder);
    fs::create_directories(folder);
    std::ofstream(folder / "a.h") << "old text";
    fs::permissions(folder / "a.h", fs::perms::owner_read | fs::perms::owner_write |
                                        fs::perms::group_read);
  }
  void TearDown() override {
    sys = realSyscalls;
    fs::remove_all(folder);
  }
  ClString Target() const { return ClString((folder / "a.h").string().c_str()); }
  std::string Content() const {
    std::ifstream in(folder / "a.h", std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  size_t FilesInFolder() const {
    return static_cast<size_t>(std::distance(fs::directory_iterator(folder), {}));
  }

  fs::path folder;
};

TEST_F(ReplaceFaultTest, ADiskFullLeavesTheOldTextWhole) {
  sys.write = [](int fd, const void* buffer, size_t count) -> ssize_t {
    if (count > 2) {
      realSyscalls.write(fd, buffer, 2);  // part of it went out, then the disk filled
      errno = ENOSPC;
      return -1;
    }
    return realSyscalls.write(fd, buffer, count);
  };
  try {
    WriteByReplacing(Target(), "new text", 8);
    FAIL() << "no exception";
  } catch (ClException* e) {
    auto* file = dynamic_cast<ClFileException*>(e);
    ASSERT_NE(nullptr, file);
    EXPECT_EQ(static_cast<DWORD>(ERROR_DISK_FULL), file->errorCode);
    EXPECT_STREQ(Target().GetText(), file->fileName.GetText());
    delete e;
  }
  EXPECT_EQ("old text", Content());
  EXPECT_EQ(1u, FilesInFolder());
}

TEST_F(ReplaceFaultTest, AFailedFlushOrRenameLeavesTheOldTextWhole) {
  sys.fsync = [](int) {
    errno = EIO;
    return -1;
  };
  EXPECT_THROW(WriteByReplacing(Target(), "new", 3), ClException*);
  sys = realSyscalls;
  sys.rename = [](const char*, const char*) {
    errno = EIO;
    return -1;
  };
  try {
    WriteByReplacing(Target(), "new", 3);
    FAIL() << "no exception";
  } catch (ClException* e) {
    ClString report;
    e->BuildReport(report);
    EXPECT_EQ(0u, std::string(report.GetText()).rfind("ERROR! Cannot rename or move file:", 0))
        << report.GetText();
    delete e;
  }
  EXPECT_EQ("old text", Content());
  EXPECT_EQ(1u, FilesInFolder());
}

TEST_F(ReplaceFaultTest, WhereNoTemporaryFileFitsTheCallerWritesInPlace) {
  sys.open = [](const char* path, int flags, mode_t mode) {
    if ((flags & O_CREAT) && std::string(path).ends_with(".TMP")) {
      errno = EACCES;
      return -1;
    }
    return realSyscalls.open(path, flags, mode);
  };
  EXPECT_FALSE(WriteByReplacing(Target(), "new", 3));
  EXPECT_EQ("old text", Content());
  sys = realSyscalls;
  sys.rename = [](const char*, const char*) {
    errno = EXDEV;
    return -1;
  };
  EXPECT_FALSE(WriteByReplacing(Target(), "new", 3));
  EXPECT_EQ("old text", Content());
  EXPECT_EQ(1u, FilesInFolder());
}

TEST_F(ReplaceFaultTest, TheNewTextKeepsTheOldPermissions) {
  ASSERT_TRUE(WriteByReplacing(Target(), "new", 3));
  EXPECT_EQ("new", Content());
  EXPECT_EQ(fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read,
            fs::status(folder / "a.h").permissions() & fs::perms::all);
}

}  // namespace
