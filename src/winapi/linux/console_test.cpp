// Tests of the console, message boxes and threads of the Linux layer. Code
// that needs a terminal runs in a child process whose controlling terminal,
// standard input and output are a pseudo-terminal; its failed checks come
// back through a pipe.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "winapi/linux/api.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kPatience = std::chrono::seconds(10);

// The failed checks of a child's body, with their source lines.
struct Checks {
  std::string failures;
  void Expect(bool ok, const char* what, int line) {
    if (!ok) failures += "line " + std::to_string(line) + ": " + what + "\n";
  }
};
#define CHILD_EXPECT(checks, condition) (checks).Expect((condition), #condition, __LINE__)

std::string ReadAll(int fd) {
  std::string text;
  char buffer[512];
  for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;) text.append(buffer, n);
  return text;
}

// A forked process that runs `setup`, then `body`, whose failed checks come
// back through Report(). Signals that end a process have their default action.
class Child {
 public:
  Child(const std::function<void()>& setup, const std::function<std::string()>& body,
        bool runExitHooks = false) {
    if (pipe2(report_, O_CLOEXEC) != 0) return;
    fflush(nullptr);
    if ((pid_ = fork()) == 0) {
      for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) ::signal(signal, SIG_DFL);
      setup();
      std::string failures = body();
      (void)!write(report_[1], failures.data(), failures.size());
      runExitHooks ? exit(0) : _exit(0);
    }
    close(report_[1]);
  }
  ~Child() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    close(report_[0]);
  }
  pid_t pid() const { return pid_; }
  // The wait status, or -1 when the child is still running after kPatience.
  int Wait() {
    int status = -1;
    for (auto deadline = Clock::now() + kPatience; Clock::now() < deadline;) {
      if (waitpid(pid_, &status, WNOHANG) == pid_) return pid_ = 0, status;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return -1;
  }
  std::string Report() const { return ReadAll(report_[0]); }

 private:
  int report_[2] = {-1, -1};
  pid_t pid_ = -1;
};

bool ExitedCleanly(int status) {
  return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

class Pty {
 public:
  Pty() { EXPECT_EQ(openpty(&master_, &slave_, nullptr, nullptr, nullptr), 0); }
  ~Pty() {
    close(master_);
    close(slave_);
  }
  // For a child: the pty becomes its controlling terminal and standard handles.
  void BecomeTerminal() const {
    setsid();
    ioctl(slave_, TIOCSCTTY, 0);
    for (int fd = 0; fd < 3; ++fd) dup2(slave_, fd);
  }
  // Reads the child's output until `text` appears after `from`, for kPatience.
  bool WaitFor(const std::string& text, size_t from = 0) {
    struct pollfd ready = {master_, POLLIN, 0};
    char buffer[256];
    while (output.find(text, from) == std::string::npos) {
      if (poll(&ready, 1, kPatience.count() * 1000) <= 0) return false;
      ssize_t n = read(master_, buffer, sizeof buffer);
      if (n <= 0) return false;
      output.append(buffer, n);
    }
    return true;
  }
  void Send(const std::string& keys) const {
    ASSERT_EQ(write(master_, keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));
  }
  tcflag_t LocalModes() const {
    struct termios modes {};
    EXPECT_EQ(tcgetattr(slave_, &modes), 0);
    return modes.c_lflag;
  }
  std::string output;

 private:
  int master_ = -1;
  int slave_ = -1;
};

constexpr tcflag_t kCooked = ICANON | ECHO;

DWORD ModeOf(HANDLE console) {
  DWORD mode = 0xdead;
  return GetConsoleMode(console, &mode) ? mode : 0xdead;
}

TEST(ConsoleModeTest, TogglesLineInputAndEchoAndIsRestoredAtExit) {
  Pty pty;
  Child child([&] { pty.BecomeTerminal(); },
              [] {
                Checks checks;
                HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
                const DWORD cooked = ENABLE_PROCESSED_INPUT | ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT;
                CHILD_EXPECT(checks, ModeOf(in) == cooked);
                CHILD_EXPECT(checks, ModeOf(GetStdHandle(STD_OUTPUT_HANDLE)) ==
                                         (ENABLE_PROCESSED_OUTPUT | ENABLE_WRAP_AT_EOL_OUTPUT));
                CHILD_EXPECT(checks, !SetConsoleMode(in, ENABLE_ECHO_INPUT));
                CHILD_EXPECT(checks, GetLastError() == ERROR_INVALID_PARAMETER);
                CHILD_EXPECT(checks, ModeOf(in) == cooked);

                CHILD_EXPECT(checks,
                             SetConsoleMode(in, ENABLE_PROCESSED_INPUT | ENABLE_LINE_INPUT));
                CHILD_EXPECT(checks, ModeOf(in) == (ENABLE_PROCESSED_INPUT | ENABLE_LINE_INPUT));
                CHILD_EXPECT(checks, SetConsoleMode(in, 0));
                CHILD_EXPECT(checks, ModeOf(in) == ENABLE_PROCESSED_INPUT);
                struct termios modes {};
                tcgetattr(STDIN_FILENO, &modes);
                CHILD_EXPECT(checks, (modes.c_lflag & (kCooked | ISIG)) == ISIG);
                return checks.failures;
              },
              /*runExitHooks=*/true);
  EXPECT_TRUE(ExitedCleanly(child.Wait()));
  EXPECT_EQ(child.Report(), "");
  EXPECT_EQ(pty.LocalModes() & kCooked, kCooked);
}

TEST(ConsoleModeTest, IsRestoredWhenKilledBySignal) {
  for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
    SCOPED_TRACE(strsignal(signal));
    Pty pty;
    Child child([&] { pty.BecomeTerminal(); },
                [] {
                  SetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), ENABLE_PROCESSED_INPUT);
                  (void)!write(STDOUT_FILENO, "ready\n", 6);
                  for (;;) pause();
                  return std::string();
                });
    ASSERT_TRUE(pty.WaitFor("ready"));
    EXPECT_EQ(pty.LocalModes() & kCooked, 0u);
    kill(child.pid(), signal);
    int status = child.Wait();
    EXPECT_TRUE(status != -1 && WIFSIGNALED(status) && WTERMSIG(status) == signal);
    EXPECT_EQ(pty.LocalModes() & kCooked, kCooked);
  }
}

TEST(ConsoleTest, ReadsKeysWithoutEnterAndWritesTitleAndText) {
  Pty pty;
  Child child(
      [&] { pty.BecomeTerminal(); },
      [] {
        Checks checks;
        HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
        HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
        CHILD_EXPECT(checks, SetConsoleTitleA("Tick\awright"));
        CHILD_EXPECT(checks, SetConsoleMode(in, ENABLE_PROCESSED_INPUT));
        DWORD written = 0;
        CHILD_EXPECT(checks, WriteConsoleA(out, "ready\n", 6, &written, nullptr) && written == 6);
        char keys[8] = {};
        DWORD read = 0;
        // One byte per call, as soon as it is typed.
        CHILD_EXPECT(checks, ReadConsoleA(in, keys, sizeof keys, &read, nullptr) && read == 1);
        CHILD_EXPECT(checks, ReadConsoleA(in, keys + 1, sizeof keys, &read, nullptr) && read == 1);
        CHILD_EXPECT(checks, std::string(keys) == "kl");
        return checks.failures;
      });
  ASSERT_TRUE(pty.WaitFor("ready"));
  EXPECT_NE(pty.output.find("\x1b]0;Tickwright\a"), std::string::npos);
  pty.Send("kl");
  EXPECT_TRUE(ExitedCleanly(child.Wait()));
  EXPECT_EQ(child.Report(), "");
}

TEST(MessageBoxTest, IsAnsweredByOneKeyOnTheTerminal) {
  struct Case {
    UINT type;
    std::vector<std::string> keys;  // all but the last are refused with a bell
    int answer;
  } cases[] = {
      {MB_YESNO | MB_ICONQUESTION, {"x", "n"}, IDNO},
      {MB_YESNO | MB_DEFBUTTON2, {"\r"}, IDNO},
      {MB_YESNOCANCEL, {"\x1b"}, IDCANCEL},
      {MB_YESNO, {"\x1b", "Y"}, IDYES},          // no Cancel to escape to
      {MB_YESNOCANCEL, {"\x1b[A", "y"}, IDYES},  // an arrow key is no Escape
      {MB_ABORTRETRYIGNORE, {"I"}, IDIGNORE},
      {MB_OKCANCEL | MB_DEFBUTTON3, {"\n"}, IDOK},  // no third button: the first
      {MB_OK, {"c", "\x1b"}, IDOK},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(testing::Message() << "type " << test.type << ", last key " << test.keys.back());
    Pty pty;
    Child child([&] { pty.BecomeTerminal(); },
                [&] {
                  Checks checks;
                  int answer =
                      MessageBoxA(nullptr, "Increment the build number?", "Tickwright", test.type);
                  CHILD_EXPECT(checks, answer == test.answer);
                  struct termios modes {};
                  tcgetattr(STDIN_FILENO, &modes);
                  CHILD_EXPECT(checks, (modes.c_lflag & kCooked) == kCooked);
                  return checks.failures;
                });
    ASSERT_TRUE(pty.WaitFor("(Enter: "));
    EXPECT_NE(pty.output.find("Tickwright\r\nIncrement the build number?\r\n"), std::string::npos);
    for (size_t i = 0; i < test.keys.size(); ++i) {
      size_t seen = pty.output.size();
      pty.Send(test.keys[i]);
      if (i + 1 < test.keys.size()) {
        EXPECT_TRUE(pty.WaitFor("\a", seen));
      }
    }
    EXPECT_TRUE(ExitedCleanly(child.Wait()));
    EXPECT_EQ(child.Report(), "");
    EXPECT_EQ(pty.LocalModes() & kCooked, kCooked);
  }
}

// Without a terminal (no session, output to a pipe, no input) nothing is a
// console, and a message box shows its text on standard error and fails.
TEST(ConsoleTest, WithoutTerminal) {
  int pipeFds[2];
  ASSERT_EQ(pipe(pipeFds), 0);
  Child child(
      [&] {
        setsid();
        dup2(pipeFds[1], STDOUT_FILENO);
        dup2(pipeFds[1], STDERR_FILENO);
        close(pipeFds[1]);
        close(STDIN_FILENO);
      },
      [] {
        Checks checks;
        HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
        DWORD written = 7;
        CHILD_EXPECT(checks, !WriteConsoleA(out, "abc", 3, &written, nullptr) && written == 0);
        CHILD_EXPECT(checks, GetLastError() == ERROR_INVALID_HANDLE);
        CHILD_EXPECT(checks, !SetConsoleTitleA("title"));
        CHILD_EXPECT(checks, GetLastError() == ERROR_INVALID_HANDLE);
        CHILD_EXPECT(checks, ModeOf(out) == 0xdead && GetLastError() == ERROR_INVALID_HANDLE);
        CHILD_EXPECT(checks, GetStdHandle(STD_INPUT_HANDLE) == nullptr);
        SetLastError(0);
        CHILD_EXPECT(checks, MessageBoxA(nullptr, "Disk full.", nullptr, MB_OK) == 0);
        CHILD_EXPECT(checks, GetLastError() != 0);
        CHILD_EXPECT(checks, MessageBeep(MB_ICONERROR));
        CHILD_EXPECT(checks, MessageBoxA(nullptr, "never shown", "x", 6) == 0);
        CHILD_EXPECT(checks, GetLastError() == ERROR_INVALID_PARAMETER);
        return checks.failures;
      });
  close(pipeFds[1]);
  EXPECT_TRUE(ExitedCleanly(child.Wait()));
  EXPECT_EQ(child.Report(), "");
  EXPECT_EQ(ReadAll(pipeFds[0]), "Error\nDisk full.\n");
  close(pipeFds[0]);
}

std::atomic<bool> released;

DWORD WINAPI WaitForRelease(LPVOID parameter) {
  while (!released) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  InterlockedExchange(static_cast<LONG volatile*>(parameter),
                      static_cast<LONG>(GetCurrentThreadId()));
  return 42;
}

TEST(ThreadTest, ExitCodeIsStillActiveUntilTheRoutineReturns) {
  released = false;
  LONG seenId = 0;
  DWORD id = 0;
  HANDLE thread = CreateThread(nullptr, 0, WaitForRelease, &seenId, 0, &id);
  ASSERT_NE(thread, nullptr);
  DWORD code = 0;
  EXPECT_EQ(WaitForSingleObject(thread, 20), WAIT_TIMEOUT);
  EXPECT_TRUE(GetExitCodeThread(thread, &code));
  EXPECT_EQ(code, STILL_ACTIVE);
  released = true;
  EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
  EXPECT_TRUE(GetExitCodeThread(thread, &code));
  EXPECT_EQ(code, 42u);
  EXPECT_EQ(static_cast<DWORD>(seenId), id);
  EXPECT_NE(id, GetCurrentThreadId());
  EXPECT_TRUE(CloseHandle(thread));

  EXPECT_EQ(WaitForSingleObject(GetStdHandle(STD_ERROR_HANDLE), 0), WAIT_FAILED);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_EQ(CreateThread(nullptr, 0, WaitForRelease, &seenId, CREATE_SUSPENDED, nullptr), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST(ThreadTest, ClosingTheHandleLeavesTheThreadRunning) {
  released = false;
  LONG volatile seenId = 0;
  HANDLE thread =
      CreateThread(nullptr, 64 * 1024, WaitForRelease, const_cast<LONG*>(&seenId), 0, nullptr);
  ASSERT_NE(thread, nullptr);
  EXPECT_TRUE(CloseHandle(thread));
  released = true;
  auto deadline = Clock::now() + kPatience;
  while (InterlockedCompareExchange(&seenId, 0, 0) == 0 && Clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_NE(InterlockedCompareExchange(&seenId, 0, 0), 0);
}

LONG volatile counter, casCounter, balance;

DWORD WINAPI Hammer(LPVOID) {
  for (int i = 0; i < 100000; ++i) {
    InterlockedIncrement(&counter);
    for (LONG seen = 0, before;
         (before = InterlockedCompareExchange(&casCounter, seen + 1, seen)) != seen;)
      seen = before;
    InterlockedIncrement(&balance);
    InterlockedDecrement(&balance);
  }
  return 0;
}

TEST(InterlockedTest, CountsExactlyFromSeveralThreads) {
  counter = 0;
  casCounter = 0;
  balance = 0;
  std::vector<HANDLE> threads;
  for (int i = 0; i < 4; ++i)
    threads.push_back(CreateThread(nullptr, 0, Hammer, nullptr, 0, nullptr));
  for (HANDLE thread : threads) {
    ASSERT_NE(thread, nullptr);
    EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
    CloseHandle(thread);
  }
  EXPECT_EQ(counter, 400000);
  EXPECT_EQ(casCounter, 400000);
  EXPECT_EQ(balance, 0);
}

TEST(InterlockedTest, ReturnsWhatWindowsReturns) {
  LONG volatile value = INT32_MAX;
  EXPECT_EQ(InterlockedIncrement(&value), INT32_MIN);  // wraps, as on Windows
  EXPECT_EQ(InterlockedDecrement(&value), INT32_MAX);
  EXPECT_EQ(InterlockedExchange(&value, 5), INT32_MAX);
  EXPECT_EQ(InterlockedCompareExchange(&value, 9, 4), 5);  // no match: unchanged
  EXPECT_EQ(InterlockedCompareExchange(&value, 9, 5), 5);
  EXPECT_EQ(value, 9);
}

}  // namespace
