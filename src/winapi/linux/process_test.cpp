// Tests of the Linux layer's process functions: the rebuilt command line,
// modules, memory regions and guarded reads.
#include <dlfcn.h>
#include <errno.h>
#include <gtest/gtest.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <stddef.h>
#include <string.h>
#include <sys/auxv.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "winapi/linux/api.h"
#include "winapi/linux/command_line.h"

namespace {

const HANDLE kCurrentProcess = reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-1));

std::string Rebuild(std::vector<const char*> argv) {
  return BuildCommandLine(static_cast<int>(argv.size()), argv.data());
}

TEST(CommandLineTest, RebuildQuotesWhatIsNoSwitch) {
  const struct {
    const char* element;
    const char* expected;
  } cases[] = {
      {"-b:out/vars.bat", R"(-b:"out/vars.bat")"},
      {"-b:", R"(-b:"")"},  // or the next element would become the value
      {"-", "-"},
      {"/nologo", "/nologo"},
      {"/nologo/i", "/nologo/i"},
      {"/i-C:yes", R"(/i-C:"yes")"},
      {"/?", "/?"},
      {"/usr/include/x.h", R"("/usr/include/x.h")"},
      {"/tmp", R"("/tmp")"},
      {"/", R"("/")"},
      {"/bx", R"("/bx")"},
      {"/i/", R"("/i/")"},
      {"", R"("")"},
      {"?", R"("?")"},
      {"my file.h", R"("my file.h")"},
      {"say\"hi", R"(say"hi)"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(Rebuild({"/bin/prog", c.element}), std::string(R"("/bin/prog" )") + c.expected);
  EXPECT_EQ(Rebuild({"-prog", "x.h", "/b"}), R"("-prog" "x.h" /b)");
}

struct Item {
  bool isSwitch;
  std::string text;  // the argument, or the switch name
  std::string value;
  bool operator==(const Item&) const = default;
};

// The program's tokenizer as its rules read: blanks skip, "/" and "-" begin
// switches, a name runs to ":", "/", "-" or a blank, a value follows a ":",
// and a double quote takes everything up to the next one.
std::vector<Item> Tokenize(const std::string& line) {
  const std::string blanks = " \t\r\n";
  size_t rest = 0, mark = 0;
  auto skip = [&] {
    while (rest < line.size() && blanks.find(line[rest]) != std::string::npos) ++rest;
  };
  auto delimiter = [&](const std::string& set) -> char {
    mark = rest;
    skip();
    if (rest < line.size() && set.find(line[rest]) != std::string::npos) return line[rest++];
    return 0;
  };
  auto token = [&](const std::string& set) {
    mark = rest;
    skip();
    size_t start = rest, end;
    if (rest < line.size() && line[rest] == '"') {
      start = rest + 1;
      end = std::min(line.find('"', start), line.size());
      rest = std::min(end + 1, line.size());
    } else {
      end = rest = std::min(line.find_first_of(set + blanks, rest), line.size());
    }
    return line.substr(start, end - start);
  };
  std::vector<Item> items;
  while (rest < line.size()) {
    if (!delimiter("/-")) {
      if (rest < line.size()) items.push_back({false, token("/-"), ""});
      continue;
    }
    std::string name = token(":/-");
    if (name.empty()) continue;  // a lone prefix is ignored
    if (delimiter(":/-") == ':') {
      items.push_back({true, name, token("/-")});
    } else {
      rest = mark;
      items.push_back({true, name, ""});
    }
  }
  return items;
}

TEST(CommandLineTest, TokenizerReadsBackWhatTheUserMeant) {
  std::string line = Rebuild({"/usr/bin/tick-wright", "-b:out/vars.bat", "/usr/include/x.h",
                              "my file.h", "/nologo/I", "", "-b:", "y-z.h", "/b:a b"});
  std::vector<Item> expected = {
      {false, "/usr/bin/tick-wright", ""},
      {true, "b", "out/vars.bat"},
      {false, "/usr/include/x.h", ""},
      {false, "my file.h", ""},
      {true, "nologo", ""},
      {true, "I", ""},
      {false, "", ""},
      {true, "b", ""},
      {false, "y-z.h", ""},
      {true, "b", "a b"},
  };
  EXPECT_EQ(Tokenize(line), expected) << line;
}

TEST(CommandLineTest, TailSkipsTheProgramNameAndBlanks) {
  for (std::string line : {R"("my prog"  	/i)", "prog  /i", R"("prog"/i)"})
    EXPECT_STREQ(line.c_str() + CommandLineTailOffset(line.c_str()), "/i") << line;
  EXPECT_EQ(CommandLineTailOffset(R"("unclosed /i)"), 12u);
}

TEST(CommandLineTest, GetCommandLineRebuildsThisProcessArguments) {
  std::ifstream file("/proc/self/cmdline", std::ios::binary);
  std::string raw((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  std::vector<std::string> elements;
  for (size_t start = 0, end; start < raw.size(); start = end + 1)
    elements.push_back(raw.substr(start, (end = raw.find('\0', start)) - start));
  std::vector<const char*> argv;
  for (const std::string& element : elements) argv.push_back(element.c_str());
  EXPECT_EQ(GetCommandLineA(), Rebuild(argv));
}

void CodeOfThisBinary() {}

// The module that VirtualQuery finds for `address`, and its file name.
std::string ModuleOf(const void* address, MEMORY_BASIC_INFORMATION& info) {
  EXPECT_EQ(VirtualQuery(address, &info, sizeof info), sizeof info);
  char path[4096];
  DWORD n = GetModuleFileNameA(static_cast<HMODULE>(info.AllocationBase), path, sizeof path);
  return std::string(path, n);
}

TEST(ModuleTest, CodeAddressesLeadToTheirModuleFiles) {
  MEMORY_BASIC_INFORMATION info;
  const void* code = reinterpret_cast<const void*>(&CodeOfThisBinary);
  std::string path = ModuleOf(code, info);
  EXPECT_EQ(info.AllocationBase, static_cast<void*>(GetModuleHandleA(nullptr)));
  EXPECT_EQ(info.Type, MEM_IMAGE);
  EXPECT_EQ(info.Protect, PAGE_EXECUTE_READ);
  struct stat byName, executed;
  ASSERT_EQ(stat(path.c_str(), &byName), 0) << path;
  ASSERT_EQ(stat(reinterpret_cast<const char*>(getauxval(AT_EXECFN)), &executed), 0);
  EXPECT_EQ(byName.st_ino, executed.st_ino);

  // Vista's truncation: size - 1 characters, a NUL, and the size returned.
  char cut[5];
  EXPECT_EQ(GetModuleFileNameA(nullptr, cut, sizeof cut), sizeof cut);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(std::string(cut), path.substr(0, 4));

  std::string library = ModuleOf(dlsym(RTLD_DEFAULT, "gnu_get_libc_version"), info);
  EXPECT_NE(library.find("libc.so"), std::string::npos) << library;
  EXPECT_EQ(GetModuleHandleA("kernel32.dll"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
}

// Anonymous memory that unmaps itself.
struct Pages {
  size_t size;
  char* base;
  explicit Pages(size_t count)
      : size(count * static_cast<size_t>(sysconf(_SC_PAGESIZE))),
        base(static_cast<char*>(
            mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0))) {}
  ~Pages() {
    if (base != MAP_FAILED) munmap(base, size);
  }
};

TEST(ModuleTest, MemoryOutsideModulesHasNoModule) {
  MEMORY_BASIC_INFORMATION info;
  const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  char* freed;
  {
    Pages pages(4);
    ASSERT_NE(pages.base, MAP_FAILED);
    freed = pages.base;
    EXPECT_EQ(ModuleOf(pages.base + page + 5, info), "");
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
    EXPECT_EQ(info.Type, MEM_PRIVATE);
    EXPECT_EQ(info.Protect, PAGE_READWRITE);
    EXPECT_EQ(info.BaseAddress, pages.base + page);
    EXPECT_LE(info.AllocationBase, static_cast<void*>(pages.base));
  }
  EXPECT_EQ(VirtualQuery(freed, &info, sizeof info), sizeof info);
  EXPECT_EQ(info.State, MEM_FREE);
  EXPECT_EQ(info.AllocationBase, nullptr);
  EXPECT_GE(info.RegionSize, 4 * page);
  EXPECT_EQ(VirtualQuery(freed, &info, sizeof info - 1), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BAD_LENGTH));
}

// The guarded reads, as a mask of the ones that went wrong, so that a child
// process can report them through its exit code.
enum ReadFailure { kReadable = 1, kNullAddress = 2, kPartial = 4, kManyPages = 8 };

int GuardedReadFailures() {
  int failures = 0;
  auto failedAsFault = [] {
    return GetLastError() == ERROR_PARTIAL_COPY || GetLastError() == ERROR_NOACCESS;
  };
  char source[] = "readable", target[16];
  SIZE_T read = 0;
  if (!ReadProcessMemory(kCurrentProcess, source, target, sizeof source, &read) ||
      read != sizeof source || strcmp(source, target) != 0)
    failures |= kReadable;
  if (ReadProcessMemory(kCurrentProcess, nullptr, target, 8, &read) || read != 0 ||
      !failedAsFault())
    failures |= kNullAddress;

  // Readable up to a page that is not: the bytes before it arrive, the rest not.
  Pages pages(2);
  const size_t page = pages.size / 2;
  memset(pages.base, 'r', page);
  mprotect(pages.base + page, page, PROT_NONE);
  memset(target, 0, sizeof target);
  if (ReadProcessMemory(kCurrentProcess, pages.base + page - 10, target, 16, &read) || read != 10 ||
      !failedAsFault() || strcmp(target, "rrrrrrrrrr") != 0)
    failures |= kPartial;

  std::vector<char> large(300000, 'l'), copy(large.size());
  if (!ReadProcessMemory(kCurrentProcess, large.data(), copy.data(), large.size(), &read) ||
      read != large.size() || copy != large)
    failures |= kManyPages;
  return failures;
}

TEST(ReadProcessMemoryTest, ReadsWhatIsReadableAndFailsInsteadOfFaulting) {
  EXPECT_EQ(GuardedReadFailures(), 0) << "mask of ReadFailure";
  char target[4];
  EXPECT_FALSE(ReadProcessMemory(nullptr, "abc", target, 4, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

// As in containers whose seccomp policy refuses process_vm_readv.
bool RefuseProcessVmReadv() {
  struct sock_filter filter[] = {
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, nr)),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_process_vm_readv, 0, 1),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EPERM),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
  };
  struct sock_fprog program = {static_cast<unsigned short>(std::size(filter)), filter};
  return prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
         prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) == 0;
}

TEST(ReadProcessMemoryTest, FallsBackWhenProcessVmReadvIsRefused) {
  constexpr int kNoSeccomp = 100, kNotRefused = 101;
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (!RefuseProcessVmReadv()) _exit(kNoSeccomp);
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
