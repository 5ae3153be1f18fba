// The Linux layer's console modes, message boxes and interlocked counts (pseudo-terminals).
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "winapi/linux/api.h"

namespace {

constexpr unsigned kCooked = ICANON | ECHO;

struct ChildRun {
  int result = -1;             // what the body returned (0-255); -1 after a signal or time-out
  int signal = 0;              // the signal that ended the child, if one did
  std::string terminal;        // all the terminal showed: console output, bells, boxes
  unsigned terminalModes = 0;  // the terminal's local modes (c_lflag) once the child ended
};

// Keys typed once the terminal has shown `after` since the previous keys.
struct KeyStep {
  std::string after;
  std::string keys;
};

void Put(int fd, const std::string& data) {
  if (write(fd, data.data(), data.size()) != static_cast<ssize_t>(data.size())) perror("write");
}

// Runs `body` in a fork in a new session whose controlling terminal, standard input, output
// and error is a fresh raw pseudo-terminal; types the `steps` in order, then sends `signal`.
ChildRun OnTerminal(const std::function<int()>& body, const std::vector<KeyStep>& steps,
                    int signal = 0) {
  ChildRun run;
  int master = -1, slave = -1;
  if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) return run;
  struct termios modes;
  tcgetattr(slave, &modes);
  modes.c_oflag &= ~OPOST;  // the bytes as written, CR LF included
  tcsetattr(slave, TCSANOW, &modes);
  fflush(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    for (int ending : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) ::signal(ending, SIG_DFL);
    setsid();
    ioctl(slave, TIOCSCTTY, 0);
    for (int fd = 0; fd < 3; ++fd) dup2(slave, fd);
    close(master);
    close(slave);
    _exit(body() & 0xff);
  }
  close(slave);

  // Reading the terminal fails once nobody holds it: the child has ended.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  size_t step = 0, from = 0;
  bool ended = false;
  char buffer[512];
  while (pid > 0 && !ended && std::chrono::steady_clock::now() < deadline) {
    for (; step < steps.size() && run.terminal.find(steps[step].after, from) != std::string::npos;
         ++step) {
      Put(master, steps[step].keys);
      from = run.terminal.size();
    }
    if (step == steps.size() && signal != 0) {
      kill(pid, signal);
      signal = 0;
    }
    struct pollfd ready = {master, POLLIN, 0};
    if (poll(&ready, 1, 50) <= 0) continue;
    const ssize_t n = read(master, buffer, sizeof buffer);
    ended = n <= 0;
    if (n > 0) run.terminal.append(buffer, n);
  }
  if (tcgetattr(master, &modes) == 0) run.terminalModes = modes.c_lflag;
  int status = 0;
  if (pid > 0 && !ended) kill(pid, SIGKILL);
  if (pid > 0 && waitpid(pid, &status, 0) == pid) {
    if (WIFEXITED(status)) run.result = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) run.signal = WTERMSIG(status);
  }
  close(master);
  return run;
}

TEST(ConsoleModeTest, IsRestoredAtExitAndWhenKilledBySigterm) {
  for (int signal : {0, SIGTERM}) {
    ChildRun run = OnTerminal(
        [signal]() -> int {
          SetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), ENABLE_PROCESSED_INPUT);
          struct termios modes {};
          tcgetattr(STDIN_FILENO, &modes);
          if (modes.c_lflag & kCooked) return 1;
          fputs("raw", stderr);
          if (signal == 0) exit(0);  // through the exit hooks
          for (;;) pause();
        },
        {{"raw", ""}}, signal);
    EXPECT_EQ(run.result, signal ? -1 : 0) << run.terminal;
    EXPECT_EQ(run.signal, signal) << run.terminal;
    EXPECT_EQ(run.terminalModes & kCooked, kCooked) << "signal " << signal;
  }
}

TEST(MessageBoxTest, IsAnsweredByOneKeyOnTheTerminal) {
  const struct {
    UINT type;
    std::vector<std::string> keys;  // all but the last are refused with a bell
    int answer;
  } kCases[] = {
      {MB_YESNO | MB_ICONQUESTION, {"x", "n"}, IDNO},
      {MB_YESNO | MB_DEFBUTTON2, {"\r"}, IDNO},
      {MB_YESNOCANCEL, {"\x1b"}, IDCANCEL},
      {MB_YESNOCANCEL, {"\x1b[A", "y"}, IDYES},  // an arrow key is no Escape
      {MB_OK, {"c", "\x1b"}, IDOK},
  };
  for (const auto& c : kCases) {
    std::vector<KeyStep> steps = {{"(Enter: ", c.keys[0]}};
    for (size_t i = 1; i < c.keys.size(); ++i) steps.push_back({"\a", c.keys[i]});
    ChildRun run = OnTerminal(
        [&] { return MessageBoxA(nullptr, "Increment the build number?", "Tickwright", c.type); },
        steps);
    SCOPED_TRACE(testing::Message() << "type " << c.type << ", terminal " << run.terminal);
    EXPECT_EQ(run.result, c.answer);
    EXPECT_EQ(run.terminal.rfind("Tickwright\nIncrement the build number?\n[", 0), 0u);
    EXPECT_EQ(run.terminalModes & kCooked, kCooked);
  }
}

LONG volatile counter;

DWORD WINAPI Hammer(LPVOID) {
  for (int i = 0; i < 100000; ++i) {
    InterlockedIncrement(&counter);
    InterlockedIncrement(&counter);
    InterlockedDecrement(&counter);
  }
  return 0;
}

// Strings count their references with these, from any thread.
TEST(InterlockedTest, CountsExactlyFromSeveralThreadsAndReturnsTheNewValue) {
  counter = 0;
  HANDLE threads[4];
  for (HANDLE& thread : threads) thread = CreateThread(nullptr, 0, Hammer, nullptr, 0, nullptr);
  for (HANDLE thread : threads) {
    EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
    CloseHandle(thread);
  }
  EXPECT_EQ(counter, 400000);
  EXPECT_EQ(InterlockedDecrement(&counter), 399999);
  EXPECT_EQ(InterlockedIncrement(&counter), 400000);
}

}  // namespace
