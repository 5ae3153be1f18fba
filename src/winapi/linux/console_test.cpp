// Tests of the Linux layer's console modes, message boxes and interlocked counts
// (pseudo-terminals).
#include <gtest/gtest.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "console/console_test_child.h"
#include "winapi/linux/api.h"

namespace {

constexpr unsigned kCooked = ICANON | ECHO;

// Runs `body` with the pseudo-terminal as standard input and output.
ChildRun OnTerminal(const std::function<int()>& body, const std::vector<KeyStep>& steps,
                    int signal = 0) {
  return RunInChild(Stream::kTerminal, "", Stream::kTerminal, body, steps, signal);
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
