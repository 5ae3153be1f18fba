// SafeWrite on both systems; on Linux also failing calls through the layer's table.
#include "winapi/safe_write.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#ifndef _WIN32
#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "winapi/linux/syscalls.h"
#endif

namespace fs = std::filesystem;

namespace {

// The last error of a step that failed; ERROR_SUCCESS for one that did not.
DWORD ErrorOf(bool succeeded) { return succeeded ? ERROR_SUCCESS : GetLastError(); }

class SafeWriteTest : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("tw-safe-write-" + std::to_string(GetCurrentProcessId()) + "-" +
            testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override {
#ifndef _WIN32
    sys = realSyscalls;
#endif
    std::error_code ignored;
    for (auto& entry : fs::directory_iterator(dir_))
      fs::permissions(entry, fs::perms::owner_write, fs::perm_options::add, ignored);
    fs::remove_all(dir_, ignored);
  }

  std::string Path(const std::string& name) const { return (dir_ / name).string(); }
  void Put(const std::string& name, const std::string& text) const {
    std::ofstream(Path(name), std::ios::binary) << text;
  }
  std::string Get(const std::string& name) const {
    std::ifstream in(Path(name), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir_))
      names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
  // Claims `name` and commits `text`; ERROR_SUCCESS or the last error.
  DWORD Write(const std::string& name, std::string_view text,
              SafeWrite::OwnText ownText = nullptr) const {
    SafeWrite write;
    return ErrorOf(write.Claim(Path(name).c_str(), ownText) &&
                   write.Commit(text.data(), text.size()));
  }

  fs::path dir_;
};

// Refused by the check, before anything is written, as opening for writing would refuse them.
TEST_F(SafeWriteTest, TargetsThatCannotBeWrittenAreRefusedBeforeAnyWrite) {
  Put("ro.h", "old");
  fs::permissions(Path("ro.h"),
                  fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  fs::create_directory(dir_ / "dir.h");
  const struct {
    const char* name;
    DWORD code;
  } kCases[] = {{"ro.h", ERROR_ACCESS_DENIED},
                {"dir.h", ERROR_ACCESS_DENIED},
                {"missing/a.h", ERROR_PATH_NOT_FOUND}};
  for (const auto& c : kCases) {
    SafeWrite write;
    ASSERT_TRUE(write.Claim(Path(c.name).c_str())) << c.name;
    EXPECT_EQ(c.code, ErrorOf(write.Check())) << c.name;
    EXPECT_EQ(c.code, ErrorOf(write.Prepare("new", 3))) << c.name;
    EXPECT_EQ(SafeWrite::Step::kOpen, write.FailedStep()) << c.name;
  }
  EXPECT_EQ("old", Get("ro.h"));
  EXPECT_EQ((std::vector<std::string>{"dir.h", "ro.h"}), Names());
}

bool IsOwnText(const char* data, size_t size) {
  return std::string_view(data, size) == std::string_view("new").substr(0, size);
}

// A killed run's claim file (empty, or the start of our text) is taken over; nothing else is.
TEST_F(SafeWriteTest, OnlyAStaleClaimIsTakenOverAndForeignNamesStay) {
  Put("a.h", "old");
  Put("a.h.TMP", "ne");
  EXPECT_EQ(ERROR_SUCCESS, Write("a.h", "new", IsOwnText));
  EXPECT_EQ("new", Get("a.h"));
  EXPECT_FALSE(fs::exists(dir_ / "a.h.TMP"));

  for (const char* planted : {"precious", ""}) {
    if (*planted) {
      Put("a.h.TMP", planted);
    } else {
      fs::create_directory(dir_ / "a.h.TMP");
      Put("a.h.TMP/keep", "kept");
    }
    EXPECT_EQ(ERROR_SUCCESS, Write("a.h", "newer, and longer", IsOwnText));
    EXPECT_EQ("newer, and longer", Get("a.h"));
    EXPECT_EQ(*planted ? planted : "kept", Get(*planted ? "a.h.TMP" : "a.h.TMP/keep"));
    fs::remove_all(dir_ / "a.h.TMP");
  }
}

#ifndef _WIN32

constexpr char kOld[] = "// 41 and the old text, longer than the new one";
constexpr char kNew[] = "// 42 new";
constexpr mode_t kMode = 0640;

template <int error, typename... Args>
int Failing(Args...) {
  errno = error;
  return -1;
}

bool IsClaimFile(const char* path) { return std::string(path).ends_with(".TMP"); }
bool IsClaimFile(int fd) {
  char link[64], target[4096];
  snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  const ssize_t length = readlink(link, target, sizeof target - 1);
  return length > 0 && IsClaimFile(std::string(target, static_cast<size_t>(length)).c_str());
}

class SafeWriteOnLinuxTest : public SafeWriteTest {
 protected:
  void SetUp() override {
    SafeWriteTest::SetUp();
    Put("a.h", kOld);
    chmod(Path("a.h").c_str(), kMode);
  }
  struct stat Stat(const std::string& name) const {
    struct stat st = {};
    stat(Path(name).c_str(), &st);
    return st;
  }
  ino_t Inode(const std::string& name) const { return Stat(name).st_ino; }
  mode_t Mode(const std::string& name) const { return Stat(name).st_mode & 07777; }
};

// Each failure leaves the old text or the new; where a rename cannot be, the same file in place.
TEST_F(SafeWriteOnLinuxTest, EachFailingCallLeavesTheOldTextOrTheNewOne) {
  static size_t partial;  // bytes that a failing in-place write lets through
  LinuxSyscalls claimFull = realSyscalls, claimUnflushed = realSyscalls, renameFails = realSyscalls,
                acrossDevices = realSyscalls, sticky = realSyscalls, noRoom = realSyscalls,
                halfWritten = realSyscalls, notCut = realSyscalls, unflushed = realSyscalls;
  claimFull.pwrite = [](int fd, const void* data, size_t size, off_t at) -> ssize_t {
    return IsClaimFile(fd) ? Failing<ENOSPC>() : realSyscalls.pwrite(fd, data, size, at);
  };
  claimUnflushed.fsync = [](int fd) { return IsClaimFile(fd) ? Failing<EIO>() : 0; };
  renameFails.rename = Failing<EIO>;
  acrossDevices.rename = Failing<EXDEV>;
  sticky.rename = Failing<EPERM>;
  // In place: the claim file's folder takes no new file.
  for (LinuxSyscalls* calls : {&noRoom, &halfWritten, &notCut, &unflushed}) {
    calls->open = [](const char* path, int flags, mode_t mode) {
      return IsClaimFile(path) ? Failing<EACCES>() : realSyscalls.open(path, flags, mode);
    };
  }
  noRoom.fallocate = Failing<ENOSPC>;
  halfWritten.pwrite = [](int fd, const void* data, size_t size, off_t at) -> ssize_t {
    if (at == 0 && size >= strlen(kNew) && !memcmp(data, kNew, strlen(kNew))) {
      realSyscalls.pwrite(fd, data, partial, at);
      return Failing<EIO>();
    }
    return realSyscalls.pwrite(fd, data, size, at);
  };
  notCut.ftruncate = Failing<EIO>;
  unflushed.fsync = Failing<EIO>;
  const struct {
    const char* name;
    const LinuxSyscalls& calls;
    bool longer;  // the new text is longer than the old one
    DWORD code;
    bool newText;
  } kCases[] = {
      {"claim file cannot be filled", claimFull, false, ERROR_SUCCESS, true},
      {"claim file cannot be flushed", claimUnflushed, false, ERROR_IO_DEVICE, false},
      {"rename fails", renameFails, false, ERROR_IO_DEVICE, false},
      {"rename across devices", acrossDevices, false, ERROR_SUCCESS, true},
      {"rename in a sticky folder", sticky, false, ERROR_SUCCESS, true},
      {"in place, no room", noRoom, true, ERROR_DISK_FULL, false},
      {"in place, half written", halfWritten, false, ERROR_IO_DEVICE, false},
      {"in place, not cut", notCut, false, ERROR_IO_DEVICE, false},
      {"in place, not flushed", unflushed, false, ERROR_IO_DEVICE, false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    const std::string old = c.longer ? std::string(kOld).substr(0, 4) : kOld;
    Put("a.h", old);
    partial = 4;
    const ino_t inode = Inode("a.h");
    sys = c.calls;
    EXPECT_EQ(c.code, Write("a.h", kNew));
    sys = realSyscalls;
    EXPECT_EQ(c.newText ? kNew : old, Get("a.h"));
    EXPECT_EQ(inode, Inode("a.h"));  // the fallbacks write the same file
    EXPECT_EQ(std::vector<std::string>{"a.h"}, Names());
    EXPECT_EQ(kMode, Mode("a.h"));
  }
}

// Whatever the umask, nobody else opens a claim file, nor reaches the text through a stale one.
TEST_F(SafeWriteOnLinuxTest, TheClaimFileIsNobodyElsesBeforeItIsFull) {
  const mode_t umaskWas = umask(0);
  {
    SafeWrite write;
    ASSERT_TRUE(write.Claim(Path("a.h").c_str()));
    EXPECT_EQ(0600u, Mode("a.h.TMP"));
    ASSERT_TRUE(write.Prepare(kNew, strlen(kNew)));
    EXPECT_EQ(kNew, Get("a.h.TMP"));
    EXPECT_EQ(kMode, Mode("a.h.TMP"));
    ASSERT_TRUE(write.Commit());
  }
  Put("a.h.TMP", "");  // left by a killed run, and opened by somebody meanwhile
  const int kept = open(Path("a.h.TMP").c_str(), O_WRONLY);
  ASSERT_GE(kept, 0);
  EXPECT_EQ(ERROR_SUCCESS, Write("a.h", kNew));
  EXPECT_EQ(5, pwrite(kept, "evil!", 5, 0));
  close(kept);
  umask(umaskWas);
  EXPECT_EQ(kNew, Get("a.h"));
  EXPECT_EQ(kMode, Mode("a.h"));
  EXPECT_EQ(std::vector<std::string>{"a.h"}, Names());
}

// The locks of a claim: its claim file's, the target's, else (no claim file) the folder's.
TEST_F(SafeWriteOnLinuxTest, AClaimHoldsTheLocksThatKeepOtherRunsOut) {
  fs::create_directory(Path("b.h.TMP"));
  fs::create_directory(Path("b.bat.TMP"));
  const std::string tooLong = std::string(252, 'n') + ".h";
  const struct {
    std::string target;
    std::vector<std::string> locked;  // "" for the folder
  } kCases[] = {
      {"a.h", {"a.h", "a.h.TMP"}},
      {"new.h", {"new.h.TMP"}},
      {"b.h", {""}},
      {tooLong, {""}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.target.size() > 10 ? "a name too long for a claim file" : c.target);
    SafeWrite write, sideFile;
    ASSERT_TRUE(write.Claim(Path(c.target).c_str()));
    ASSERT_TRUE(sideFile.Claim(Path("b.bat").c_str()));
    for (const std::string& name : c.locked) {
      const int fd = open(name.empty() ? dir_.c_str() : Path(name).c_str(), O_RDONLY);
      EXPECT_NE(0, flock(fd, LOCK_EX | LOCK_NB)) << name;
      EXPECT_EQ(EWOULDBLOCK, errno) << name;
      close(fd);
    }
    ASSERT_TRUE(write.Commit(kNew, strlen(kNew)) && sideFile.Commit(kNew, strlen(kNew)));
    EXPECT_EQ(kNew, Get(c.target));
  }
}

#endif  // !_WIN32

}  // namespace
