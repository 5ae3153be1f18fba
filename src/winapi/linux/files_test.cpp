// Tests of the Linux layer's file calls, with faults injected through the
// system-call table.
#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "winapi/linux/api.h"
#include "winapi/linux/handles.h"
#include "winapi/linux/syscalls.h"

namespace {

namespace fs = std::filesystem;

constexpr DWORD kReadWrite = GENERIC_READ | GENERIC_WRITE;

struct HandleCloser {
  void operator()(void* handle) const {
    if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
  }
};
using Handle = std::unique_ptr<void, HandleCloser>;

// A layer handle for a descriptor the test made itself.
Handle Wrap(int fd) {
  auto* file = new FileHandle;
  file->fd = fd;
  return Handle(file);
}

// State of the injected calls, which cannot capture.
int calls;
std::string spareFile, targetFile;
size_t chunk, failAfter, writtenSoFar;
int failErrno;

ssize_t ChoppyWrite(int fd, const void* buffer, size_t count) {
  if (writtenSoFar >= failAfter) {
    errno = failErrno;
    return -1;
  }
  count = std::min({count, chunk, failAfter - writtenSoFar});
  ssize_t result = realSyscalls.write(fd, buffer, count);
  if (result > 0) writtenSoFar += result;
  return result;
}

// Puts a new file at the target name, as a concurrent ReplaceFileA would.
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
  bool Exists(const std::string& name) const { return fs::exists(fs::symlink_status(Path(name))); }
  Handle Open(const std::string& name, DWORD access, DWORD share, DWORD creation,
              DWORD flags = FILE_ATTRIBUTE_NORMAL) const {
    return Handle(
        CreateFileA(Path(name).c_str(), access, share, nullptr, creation, flags, nullptr));
  }

  std::string dir_;
};

TEST_F(FilesTest, DispositionsHaveTheirWindowsMeanings) {
  struct Case {
    DWORD creation;
    bool exists;
    DWORD error;           // the last error afterwards, on success too
    const char* contents;  // null: no file
  };
  const Case kCases[] = {
      {CREATE_NEW, true, ERROR_FILE_EXISTS, "old"},
      {CREATE_NEW, false, ERROR_SUCCESS, ""},
      {CREATE_ALWAYS, true, ERROR_ALREADY_EXISTS, ""},
      {CREATE_ALWAYS, false, ERROR_SUCCESS, ""},
      {OPEN_EXISTING, true, ERROR_SUCCESS, "old"},
      {OPEN_EXISTING, false, ERROR_FILE_NOT_FOUND, nullptr},
      {OPEN_ALWAYS, true, ERROR_ALREADY_EXISTS, "old"},
      {OPEN_ALWAYS, false, ERROR_SUCCESS, ""},
      {TRUNCATE_EXISTING, true, ERROR_SUCCESS, ""},
      {TRUNCATE_EXISTING, false, ERROR_FILE_NOT_FOUND, nullptr},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(testing::Message() << "disposition " << c.creation << ", exists " << c.exists);
    fs::remove(Path("f"));
    if (c.exists) Put("f", "old");
    SetLastError(12345);
    bool failed = Open("f", kReadWrite, 0, c.creation).get() == INVALID_HANDLE_VALUE;
    EXPECT_EQ(GetLastError(), c.error);
    EXPECT_EQ(failed, c.error != ERROR_SUCCESS && c.error != ERROR_ALREADY_EXISTS);
    EXPECT_EQ(Exists("f"), c.contents != nullptr);
    if (c.contents) {
      EXPECT_EQ(Get("f"), c.contents);
    }
  }
}

TEST_F(FilesTest, ConflictingOpensFailWithSharingViolation) {
  struct Case {
    DWORD access1, share1, access2, share2;
    bool secondOpens;
  };
  const Case kCases[] = {
      {GENERIC_READ, FILE_SHARE_READ, GENERIC_READ, FILE_SHARE_READ, true},
      {GENERIC_READ, 0, GENERIC_READ, FILE_SHARE_READ, false},
      {GENERIC_READ, FILE_SHARE_READ, GENERIC_READ, 0, false},
      {GENERIC_READ, FILE_SHARE_READ, GENERIC_WRITE, FILE_SHARE_READ, false},
      {GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, GENERIC_READ, FILE_SHARE_READ, false},
  };
  Put("f", "old");
  for (const Case& c : kCases) {
    SCOPED_TRACE(testing::Message() << "case " << (&c - kCases));
    Handle first = Open("f", c.access1, c.share1, OPEN_EXISTING);
    ASSERT_NE(first.get(), INVALID_HANDLE_VALUE);
    Handle second = Open("f", c.access2, c.share2, OPEN_EXISTING);
    EXPECT_EQ(second.get() != INVALID_HANDLE_VALUE, c.secondOpens);
    if (!c.secondOpens) {
      EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
      first.reset();  // closing releases the lock
      EXPECT_NE(Open("f", c.access2, c.share2, OPEN_EXISTING).get(), INVALID_HANDLE_VALUE);
    }
  }
  // A writer that loses the race must not have truncated the file first.
  Handle reader = Open("f", GENERIC_READ, 0, OPEN_EXISTING);
  EXPECT_EQ(Open("f", GENERIC_WRITE, FILE_SHARE_READ, CREATE_ALWAYS).get(), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
  EXPECT_EQ(Get("f"), "old");
}

TEST_F(FilesTest, ReadOnlyIsAnAttributeThatHoldsEvenForRoot) {
  Put("f", "old");
  ASSERT_TRUE(SetFileAttributesA(Path("f").c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(fs::status(Path("f")).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  EXPECT_EQ(GetFileAttributesA(Path("f").c_str()), FILE_ATTRIBUTE_READONLY);
  EXPECT_EQ(Open("f", GENERIC_WRITE, 0, OPEN_EXISTING).get(), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_EQ(Open("f", GENERIC_READ, 0, CREATE_ALWAYS).get(), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_FALSE(DeleteFileA(Path("f").c_str()));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_EQ(Get("f"), "old");
  EXPECT_NE(Open("f", GENERIC_READ, 0, OPEN_EXISTING).get(), INVALID_HANDLE_VALUE);

  ASSERT_TRUE(SetFileAttributesA(Path("f").c_str(), FILE_ATTRIBUTE_NORMAL));
  EXPECT_EQ(GetFileAttributesA(Path("f").c_str()), FILE_ATTRIBUTE_NORMAL);
  EXPECT_NE(Open("f", GENERIC_WRITE, 0, OPEN_EXISTING).get(), INVALID_HANDLE_VALUE);
}

TEST_F(FilesTest, AttributesAndMissingNames) {
  Put("f", "");
  fs::create_directory(Path("d"));
  struct Case {
    const char* name;
    DWORD attributes;
    DWORD error;
  };
  const Case kCases[] = {
      {"f", FILE_ATTRIBUTE_NORMAL, 0},
      {"d", FILE_ATTRIBUTE_DIRECTORY, 0},
      {"missing", INVALID_FILE_ATTRIBUTES, ERROR_FILE_NOT_FOUND},
      {"missing/f", INVALID_FILE_ATTRIBUTES, ERROR_PATH_NOT_FOUND},
      {"f/f", INVALID_FILE_ATTRIBUTES, ERROR_PATH_NOT_FOUND},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    SetLastError(0);
    EXPECT_EQ(GetFileAttributesA(Path(c.name).c_str()), c.attributes);
    EXPECT_EQ(GetLastError(), c.error);
  }
  EXPECT_EQ(Open("missing/f", GENERIC_READ, 0, OPEN_EXISTING).get(), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
  // A folder is neither opened nor deleted as a file.
  EXPECT_EQ(Open("d", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING).get(), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_FALSE(DeleteFileA(Path("d").c_str()));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_FALSE(DeleteFileA(Path("missing").c_str()));
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST_F(FilesTest, FailedCreateLeavesNoFileBehind) {
  sys.flock = [](int, int) {
    errno = ENOLCK;
    return -1;
  };
  for (DWORD creation : {CREATE_NEW, CREATE_ALWAYS, OPEN_ALWAYS}) {
    EXPECT_EQ(Open("f", kReadWrite, 0, creation).get(), INVALID_HANDLE_VALUE);
    EXPECT_FALSE(Exists("f")) << "disposition " << creation;
  }
}

TEST_F(FilesTest, DeleteOnCloseRemovesTheFileAtClose) {
  Handle file = Open("f", kReadWrite, 0, CREATE_NEW, FILE_FLAG_DELETE_ON_CLOSE);
  ASSERT_NE(file.get(), INVALID_HANDLE_VALUE);
  EXPECT_TRUE(Exists("f"));
  file.reset();
  EXPECT_FALSE(Exists("f"));
}

TEST_F(FilesTest, OpenRetriesWhenTheNameIsReplacedBeforeItsLock) {
  Put("f", "old");
  spareFile = Path("spare");
  targetFile = Path("f");
  sys.flock = [](int fd, int operation) {
    if (calls++ == 0) ReplaceTarget();
    return realSyscalls.flock(fd, operation);
  };
  Handle file = Open("f", kReadWrite, 0, OPEN_EXISTING);
  ASSERT_NE(file.get(), INVALID_HANDLE_VALUE);
  EXPECT_EQ(calls, 2);
  char text[8];
  DWORD count = 0;
  ASSERT_TRUE(ReadFile(file.get(), text, sizeof text, &count, nullptr));
  EXPECT_EQ(std::string(text, count), "new");
  // What is written through the handle lands in the file that has the name.
  ASSERT_TRUE(WriteFile(file.get(), "!", 1, &count, nullptr));
  EXPECT_EQ(Get("f"), "new!");

  // A name that changes at every attempt is given up on.
  file.reset();
  sys.flock = [](int fd, int operation) {
    ++calls;
    ReplaceTarget();
    return realSyscalls.flock(fd, operation);
  };
  EXPECT_EQ(Open("f", GENERIC_READ, 0, OPEN_EXISTING).get(), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
}

TEST_F(FilesTest, WriteFileCompletesShortWritesAndReportsFailures) {
  struct Case {
    size_t failAfter;
    int error;
    DWORD code;  // 0: the write succeeds
  };
  const Case kCases[] = {
      {SIZE_MAX, 0, 0},
      {4, ENOSPC, ERROR_DISK_FULL},
      {4, EFBIG, ERROR_FILE_TOO_LARGE},
  };
  sys.write = ChoppyWrite;
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.error);
    chunk = 3;
    failAfter = c.failAfter;
    failErrno = c.error;
    writtenSoFar = 0;
    Handle file = Open("f", GENERIC_WRITE, 0, CREATE_ALWAYS);
    DWORD written = 99;
    EXPECT_EQ(WriteFile(file.get(), "0123456789", 10, &written, nullptr), c.code == 0);
    if (c.code != 0) {
      EXPECT_EQ(GetLastError(), c.code);
    }
    EXPECT_EQ(written, std::min<size_t>(10, c.failAfter));
    EXPECT_EQ(Get("f"), std::string("0123456789", written));
  }
}

TEST_F(FilesTest, WriteToAPipeWithoutReaderIsNoDataNotDeath) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  close(fds[0]);
  Handle out = Wrap(fds[1]);
  DWORD written = 99;
  EXPECT_FALSE(WriteFile(out.get(), "x", 1, &written, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_NO_DATA);
  EXPECT_EQ(written, 0u);
}

TEST_F(FilesTest, ReadFileFillsFromFilesButTakesWhatAPipeHas) {
  Put("f", "0123456789");
  sys.read = [](int fd, void* buffer, size_t count) -> ssize_t {
    if (calls++ == 0) {
      errno = EINTR;
      return -1;
    }
    return realSyscalls.read(fd, buffer, std::min<size_t>(count, 2));
  };
  Handle file = Open("f", GENERIC_READ, 0, OPEN_EXISTING);
  char text[16];
  DWORD count = 0;
  ASSERT_TRUE(ReadFile(file.get(), text, 10, &count, nullptr));
  EXPECT_EQ(std::string(text, count), "0123456789");
  ASSERT_TRUE(ReadFile(file.get(), text, 10, &count, nullptr));
  EXPECT_EQ(count, 0u);  // end of file

  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  Handle in = Wrap(fds[0]);
  ASSERT_EQ(write(fds[1], "abc", 3), 3);
  close(fds[1]);
  ASSERT_TRUE(ReadFile(in.get(), text, sizeof text, &count, nullptr));
  EXPECT_EQ(std::string(text, count), "ab");  // one read, however short
}

TEST_F(FilesTest, FileSizeAndType) {
  Put("f", "12345");
  Handle file = Open("f", GENERIC_READ, 0, OPEN_EXISTING);
  DWORD high = 99;
  EXPECT_EQ(GetFileSize(file.get(), &high), 5u);
  EXPECT_EQ(high, 0u);
  EXPECT_EQ(GetFileType(file.get()), FILE_TYPE_DISK);

  // A low part of all ones is told from a failure by the last error.
  sys.fstat = [](int fd, struct stat* st) {
    int result = realSyscalls.fstat(fd, st);
    st->st_size = 0x1FFFFFFFFLL;
    return result;
  };
  SetLastError(ERROR_ACCESS_DENIED);
  EXPECT_EQ(GetFileSize(file.get(), &high), INVALID_FILE_SIZE);
  EXPECT_EQ(high, 1u);
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  sys = realSyscalls;

  EXPECT_EQ(GetFileSize(INVALID_HANDLE_VALUE, &high), INVALID_FILE_SIZE);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);

  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  Handle in = Wrap(fds[0]);
  Handle out = Wrap(fds[1]);
  EXPECT_EQ(GetFileType(in.get()), FILE_TYPE_PIPE);
  int master, slave;
  ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
  Handle terminal = Wrap(slave);
  close(master);
  EXPECT_EQ(GetFileType(terminal.get()), FILE_TYPE_CHAR);
  Handle folder = Wrap(open(dir_.c_str(), O_RDONLY | O_DIRECTORY));
  EXPECT_EQ(GetFileType(folder.get()), FILE_TYPE_UNKNOWN);
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
}

TEST_F(FilesTest, FullPathNameIsLexical) {
  sys.getcwd = [](char* buffer, size_t size) -> char* {
    static const char kFolder[] = "/base/dir";
    if (size < sizeof kFolder) {
      errno = ERANGE;
      return nullptr;
    }
    return static_cast<char*>(memcpy(buffer, kFolder, sizeof kFolder));
  };
  struct Case {
    const char* name;
    const char* full;
    const char* filePart;  // null: none
  };
  const Case kCases[] = {
      {"a", "/base/dir/a", "a"},
      {"./a/../b", "/base/dir/b", "b"},
      {"../../../x", "/x", "x"},
      {"/a//b///c", "/a/b/c", "c"},
      {"a/", "/base/dir/a/", nullptr},
      {"a/./", "/base/dir/a/", nullptr},
      {"a/b/.", "/base/dir/a/b", "b"},
      {".", "/base/dir", "dir"},
      {"..", "/base", "base"},
      {"/", "/", nullptr},
      {"/x/..", "/", nullptr},
      {"/..", "/", nullptr},
      {"a\\b", "/base/dir/a\\b", "a\\b"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    char buffer[64];
    char* filePart = buffer;
    DWORD length = GetFullPathNameA(c.name, sizeof buffer, buffer, &filePart);
    ASSERT_EQ(length, strlen(c.full));
    EXPECT_STREQ(buffer, c.full);
    if (c.filePart) {
      EXPECT_STREQ(filePart, c.filePart);
    } else {
      EXPECT_EQ(filePart, nullptr);
    }
  }

  // A buffer without room for the NUL asks for it and stays untouched.
  char buffer[16];
  memset(buffer, 'x', sizeof buffer);
  EXPECT_EQ(GetFullPathNameA("abc", 13, buffer, nullptr), 14u);  // "/base/dir/abc"
  EXPECT_EQ(buffer[0], 'x');
  EXPECT_EQ(GetFullPathNameA("abc", 0, nullptr, nullptr), 14u);
  EXPECT_EQ(GetFullPathNameA("abc", 14, buffer, nullptr), 13u);
  EXPECT_STREQ(buffer, "/base/dir/abc");
  EXPECT_EQ(GetFullPathNameA("", sizeof buffer, buffer, nullptr), 0u);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_NAME);
}

TEST_F(FilesTest, TempFileNames) {
  char name[MAX_PATH];
  sys.open = [](const char* path, int flags, mode_t mode) {
    if (calls++ < 2) {
      errno = EEXIST;
      return -1;
    }
    return realSyscalls.open(path, flags, mode);
  };
  UINT unique = GetTempFileNameA(dir_.c_str(), "abcdef", 0, name);
  ASSERT_NE(unique, 0u);
  EXPECT_EQ(calls, 3);  // two collisions, then a new number
  char expected[32];
  snprintf(expected, sizeof expected, "/abc%X.TMP", unique);
  EXPECT_EQ(name, dir_ + expected);
  EXPECT_EQ(fs::file_size(name), 0u);

  // A number given only forms the name.
  EXPECT_EQ(GetTempFileNameA((dir_ + "/").c_str(), "x", 0x1A2B, name), 0x1A2Bu);
  EXPECT_EQ(name, Path("x1A2B.TMP"));
  EXPECT_FALSE(Exists("x1A2B.TMP"));

  EXPECT_EQ(GetTempFileNameA(Path("missing").c_str(), "x", 0, name), 0u);
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
  sys.open = [](const char*, int, mode_t) {
    errno = EACCES;
    return -1;
  };
  EXPECT_EQ(GetTempFileNameA(dir_.c_str(), "x", 0, name), 0u);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
}

TEST_F(FilesTest, MoveFileEx) {
  Put("a", "A");
  Put("b", "B");
  EXPECT_FALSE(MoveFileExA(Path("a").c_str(), Path("b").c_str(), 0));
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  EXPECT_EQ(Get("a") + Get("b"), "AB");

  sys.fsync = [](int fd) {
    struct stat st;
    if (realSyscalls.fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) ++calls;
    return realSyscalls.fsync(fd);
  };
  EXPECT_TRUE(MoveFileExA(Path("a").c_str(), Path("b").c_str(),
                          MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH));
  EXPECT_EQ(calls, 1);  // the folder, so the rename survives a crash
  EXPECT_FALSE(Exists("a"));
  EXPECT_EQ(Get("b"), "A");

  EXPECT_FALSE(MoveFileExA(Path("a").c_str(), Path("c").c_str(), 0));
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(MoveFileExA(Path("b").c_str(), Path("missing/c").c_str(), 0));
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
}

TEST_F(FilesTest, ReplaceFileKeepsTheModeAndLeavesALinkALink) {
  Put("header", "old");
  Put("new", "new");
  fs::permissions(Path("header"),
                  fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  fs::permissions(Path("new"), fs::perms::owner_all);
  fs::create_symlink("header", Path("link"));
  ASSERT_TRUE(
      ReplaceFileA(Path("link").c_str(), Path("new").c_str(), nullptr, 0, nullptr, nullptr));
  EXPECT_TRUE(fs::is_symlink(Path("link")));
  EXPECT_EQ(Get("header"), "new");
  EXPECT_EQ(fs::status(Path("header")).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  EXPECT_FALSE(Exists("new"));
}

TEST_F(FilesTest, ReplaceFileDoesNotWaitForOpeners) {
  // The replacer keeps its own read handle (and its lock) until the file is
  // replaced, so that no other run reads the old number meanwhile.
  Put("header", "old");
  Put("new", "new");
  Handle reader = Open("header", GENERIC_READ, FILE_SHARE_DELETE, OPEN_EXISTING);
  ASSERT_TRUE(
      ReplaceFileA(Path("header").c_str(), Path("new").c_str(), nullptr, 0, nullptr, nullptr));
  EXPECT_EQ(Get("header"), "new");
}

TEST_F(FilesTest, FailedReplaceLeavesBothFiles) {
  Put("header", "old");
  Put("new", "new");
  EXPECT_FALSE(
      ReplaceFileA(Path("missing").c_str(), Path("new").c_str(), nullptr, 0, nullptr, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  // A read-only file is not replaced, even by root.
  fs::permissions(Path("header"), fs::perms::owner_read);
  EXPECT_FALSE(
      ReplaceFileA(Path("header").c_str(), Path("new").c_str(), nullptr, 0, nullptr, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  fs::permissions(Path("header"), fs::perms::owner_read | fs::perms::owner_write);
  sys.rename = [](const char*, const char*) {
    errno = EXDEV;
    return -1;
  };
  EXPECT_FALSE(
      ReplaceFileA(Path("header").c_str(), Path("new").c_str(), nullptr, 0, nullptr, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_UNABLE_TO_MOVE_REPLACEMENT);
  EXPECT_EQ(Get("header") + Get("new"), "oldnew");
}

}  // namespace
