// Tests of the Linux layer's command line and guarded reads.
#include <errno.h>
#include <gtest/gtest.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <stddef.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <iterator>
#include <string>
#include <vector>

#include "base/tokenizer.h"
#include "winapi/linux/api.h"
#include "winapi/linux/command_line.h"

namespace {

// The rows that tests/e2e/test_command_line.py does not run.
TEST(CommandLineTest, TheProgramsTokenizerReadsBackWhatTheUserMeant) {
  const struct {
    std::vector<const char*> elements;
    const char* read;  // switches as /name:value, arguments in brackets
  } kCases[] = {
      {{"-b:out/vars.bat"}, "/b:out/vars.bat"},
      {{"/b:a b"}, "/b:a b"},
      {{"/nologo/E:out/ci.env"}, "/nologo: /E:out/ci.env"},
      {{"/usr/include/x.h"}, "[/usr/include/x.h]"},
      {{"my file.h", ""}, "[my file.h] []"},
      // Across elements, as a Windows console reads the words.
      {{"/nologo/", "b:my-file.bat"}, "/nologo: /b:my-file.bat"},
      {{"-b :out.bat"}, "/b:out.bat"},  // a blank among the names ends a word
      {{"x.h", ":", "/"}, "[x.h] [:]"},
      // A ":" after a prefix names nothing: the word from there on stands alone.
      {{"/nologo/", ":x"}, "/nologo: [:x]"},
      {{"-:x"}, "[:x]"},
      {{"/b:", "-", ":x"}, "/b: [:x]"},
      // A double quote cannot be carried: a stand-in takes the element's place.
      {{"-", "a\"b", "-x:\"", "?"}, "[0\"] /1\": [?]"},
  };
  for (const auto& c : kCases) {
    // A quotation mark in the program's name cannot end its quoting early.
    std::vector<const char*> argv = {"/usr/bin/tick-\"wright"};
    argv.insert(argv.end(), c.elements.begin(), c.elements.end());
    std::vector<std::string> uncarried;
    const std::string line =
        BuildCommandLine(static_cast<int>(argv.size()), argv.data(), &uncarried);
    ClCommandLine items(ClString(line.c_str()));
    std::string read;
    while (items.Next()) {
      read += items.switchName.IsEmpty()
                  ? "[" + std::string(items.argument.GetText().GetText()) + "] "
                  : "/" + std::string(items.switchName.GetText().GetText()) + ":" +
                        items.switchValue.GetText().GetText() + " ";
    }
    EXPECT_EQ(read, "[/usr/bin/tick-wright] " + std::string(c.read) + " ") << line;
    std::vector<std::string> quoted;
    for (const char* element : c.elements)
      if (strchr(element, '"')) quoted.push_back(element);
    EXPECT_EQ(uncarried, quoted) << line;
  }
}

// The guarded reads that went wrong, as a mask that a child can give as its exit code.
enum ReadFailure { kReadable = 1, kNullAddress = 2, kPartial = 4 };

int GuardedReadFailures() {
  const HANDLE self = reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-1));
  int failures = 0;
  char source[] = "readable", target[16];
  SIZE_T read = 0;
  if (!ReadProcessMemory(self, source, target, sizeof source, &read) || read != sizeof source ||
      strcmp(source, target) != 0)
    failures |= kReadable;
  if (ReadProcessMemory(self, nullptr, target, 8, &read) || read != 0) failures |= kNullAddress;

  // Readable up to a page that is not: the bytes before it arrive, the rest not.
  const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  auto* pages = static_cast<char*>(
      mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
  memset(pages, 'r', page);
  mprotect(pages + page, page, PROT_NONE);
  memset(target, 0, sizeof target);
  if (ReadProcessMemory(self, pages + page - 10, target, 16, &read) || read != 10 ||
      strcmp(target, "rrrrrrrrrr") != 0)
    failures |= kPartial;
  munmap(pages, 2 * page);
  return failures;
}

TEST(ReadProcessMemoryTest, ReadsWhatIsReadableAndFailsInsteadOfFaulting) {
  EXPECT_EQ(GuardedReadFailures(), 0) << "mask of ReadFailure";
}

// As in containers whose seccomp policy refuses process_vm_readv.
TEST(ReadProcessMemoryTest, FallsBackWhenProcessVmReadvIsRefused) {
  constexpr int kNoSeccomp = 100, kNotRefused = 101;
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    struct sock_filter filter[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_process_vm_readv, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EPERM),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    struct sock_fprog program = {static_cast<unsigned short>(std::size(filter)), filter};
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
        prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) != 0)
      _exit(kNoSeccomp);
    char byte = 0, copy;
    struct iovec local = {&copy, 1}, remote = {&byte, 1};
    if (process_vm_readv(getpid(), &local, 1, &remote, 1, 0) >= 0 || errno != EPERM)
      _exit(kNotRefused);
    _exit(GuardedReadFailures());
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == kNoSeccomp) GTEST_SKIP() << "seccomp filters are not available";
  EXPECT_EQ(WEXITSTATUS(status), 0) << "mask of ReadFailure, or " << kNotRefused;
}

}  // namespace
