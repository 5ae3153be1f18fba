// Tests of the Linux layer's file calls, faults injected through the system-call table.
#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "winapi/linux/api.h"
#include "winapi/linux/handles.h"
#include "winapi/linux/syscalls.h"
#include "winapi/scoped_handle.h"

namespace {

namespace fs = std::filesystem;

using Handle = ScopedHandle<FileHandleTraits>;

// A layer handle for a descriptor the test made itself.
Handle Wrap(int fd) {
  auto* file = new FileHandle;
  file->fd = fd;
  return Handle(file);
}

// The last error of a call that failed; ERROR_SUCCESS for one that did not.
DWORD ErrorOf(bool succeeded) { return succeeded ? ERROR_SUCCESS : GetLastError(); }

// State of the injected calls, which cannot capture.
int calls;
std::string spareFile, targetFile;
size_t failAfter, writtenSoFar;

// Puts a new file at the target name, as a concurrent replacement would.
void ReplaceTarget() {
  std::ofstream(spareFile) << "new";
  realSyscalls.rename(spareFile.c_str(), targetFile.c_str());
}

class FilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "files_test.XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    calls = 0;
  }
  void TearDown() override {
    sys = realSyscalls;
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }

  std::string Path(const std::string& name) const { return dir_ + "/" + name; }
  void Put(const std::string& name, const std::string& text) const {
    std::ofstream(Path(name), std::ios::binary) << text;
  }
  std::string Get(const std::string& name) const {
    std::ifstream in(Path(name), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }
  Handle Open(const std::string& name, DWORD share = 0) const {
    return Handle(CreateFileA(Path(name).c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  }
  // ERROR_SUCCESS when the file opens (it is closed again), else the last error.
  DWORD OpenError(const std::string& name, DWORD share = 0) const {
    return ErrorOf(static_cast<bool>(Open(name, share)));
  }

  std::string dir_;
};

TEST_F(FilesTest, ConflictingOpensFailWithSharingViolation) {
  const struct {
    DWORD share1, share2;
    bool secondOpens;
  } kCases[] = {
      {FILE_SHARE_READ, FILE_SHARE_READ, true},
      {0, FILE_SHARE_READ, false},
      {FILE_SHARE_READ, 0, false},
  };
  Put("f", "old");
  for (const auto& c : kCases) {
    Handle first = Open("f", c.share1);
    ASSERT_TRUE(first);
    EXPECT_EQ(OpenError("f", c.share2), c.secondOpens ? ERROR_SUCCESS : ERROR_SHARING_VIOLATION)
        << "case " << (&c - kCases);
    first.Reset();  // closing releases the lock
    EXPECT_EQ(OpenError("f", c.share2), ERROR_SUCCESS);
  }
}

TEST_F(FilesTest, OpenRetriesWhenTheNameIsReplacedBeforeItsLock) {
  Put("f", "old");
  spareFile = Path("spare");
  targetFile = Path("f");
  sys.flock = [](int fd, int operation) {
    if (calls++ == 0) ReplaceTarget();
    return realSyscalls.flock(fd, operation);
  };
  Handle file = Open("f");
  ASSERT_TRUE(file);
  EXPECT_EQ(calls, 2);
  char text[8];
  DWORD count = 0;
  ASSERT_TRUE(ReadFile(file.Get(), text, sizeof text, &count, nullptr));
  EXPECT_EQ(std::string(text, count), "new");  // the file that has the name

  // A name that changes at every attempt is given up on.
  file.Reset();
  sys.flock = [](int fd, int operation) {
    ReplaceTarget();
    return realSyscalls.flock(fd, operation);
  };
  EXPECT_EQ(OpenError("f"), ERROR_SHARING_VIOLATION);
}

TEST_F(FilesTest, WriteFileCompletesShortWritesAndReportsAFullDisk) {
  // At most 3 bytes a call; the disk is full after failAfter bytes.
  sys.write = [](int fd, const void* buffer, size_t count) -> ssize_t {
    if (writtenSoFar >= failAfter) {
      errno = ENOSPC;
      return -1;
    }
    ssize_t result =
        realSyscalls.write(fd, buffer, std::min({count, size_t{3}, failAfter - writtenSoFar}));
    if (result > 0) writtenSoFar += result;
    return result;
  };
  for (size_t limit : {SIZE_MAX, size_t{4}}) {
    failAfter = limit;
    writtenSoFar = 0;
    Handle file = Wrap(open(Path("f").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    DWORD written = 99;
    EXPECT_EQ(ErrorOf(WriteFile(file.Get(), "0123456789", 10, &written, nullptr)),
              limit == 4 ? ERROR_DISK_FULL : ERROR_SUCCESS);
    EXPECT_EQ(written, std::min<size_t>(10, limit));
    EXPECT_EQ(Get("f"), std::string("0123456789", written));
  }
}

TEST_F(FilesTest, ReadsFillFromFilesButTakeWhatPipesHave) {
  Put("f", "0123456789");
  sys.read = [](int fd, void* buffer, size_t count) -> ssize_t {
    if (calls++ == 0) {
      errno = EINTR;
      return -1;
    }
    return realSyscalls.read(fd, buffer, std::min<size_t>(count, 2));
  };
  Handle file = Open("f");
  char text[16];
  DWORD count = 0;
  ASSERT_TRUE(ReadFile(file.Get(), text, 10, &count, nullptr));
  EXPECT_EQ(std::string(text, count), "0123456789");

  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  Handle in = Wrap(fds[0]), out = Wrap(fds[1]);
  ASSERT_TRUE(WriteFile(out.Get(), "abc", 3, &count, nullptr));
  ASSERT_TRUE(ReadFile(in.Get(), text, sizeof text, &count, nullptr));
  EXPECT_EQ(std::string(text, count), "ab");  // one read, however short
  // A pipe without reader is an error, not the death of the process.
  in.Reset();
  EXPECT_EQ(ErrorOf(WriteFile(out.Get(), "x", 1, &count, nullptr)), ERROR_NO_DATA);
}

TEST_F(FilesTest, FullPathNameIsLexical) {
  sys.getcwd = [](char* buffer, size_t) { return strcpy(buffer, "/base/dir"); };
  const struct {
    const char* name;
    const char* full;
    const char* filePart;  // null: none
  } kCases[] = {
      {"a", "/base/dir/a", "a"},    {"./a/../b", "/base/dir/b", "b"},  {"../../../x", "/x", "x"},
      {"/a//b///c", "/a/b/c", "c"}, {"a/./", "/base/dir/a/", nullptr}, {".", "/base/dir", "dir"},
      {"/x/..", "/", nullptr},
  };
  for (const auto& c : kCases) {
    char buffer[64];
    char* filePart = buffer;
    ASSERT_EQ(GetFullPathNameA(c.name, sizeof buffer, buffer, &filePart), strlen(c.full)) << c.name;
    EXPECT_STREQ(buffer, c.full);
    EXPECT_STREQ(filePart, c.filePart) << c.name;
  }
  // A buffer without room for the NUL asks for it and stays untouched.
  char buffer[16] = "untouched";
  EXPECT_EQ(GetFullPathNameA("abc", 13, buffer, nullptr), 14u);  // "/base/dir/abc"
  EXPECT_STREQ(buffer, "untouched");
  EXPECT_EQ(GetFullPathNameA("abc", 14, buffer, nullptr), 13u);
  EXPECT_STREQ(buffer, "/base/dir/abc");
}

}  // namespace
