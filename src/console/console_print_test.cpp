// Tests of ConsolePrint: a redirected output, the console, and the window box
// when no output takes the text.
#include "console/console_print.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>

#include "console/console_test_child.h"

namespace {

// What `print` sent to standard output while that was a new file.
std::string OutputToFile(const std::function<void()>& print) {
  const auto path = std::filesystem::temp_directory_path() /
                    ("tickwright-print-" + std::to_string(GetCurrentProcessId()));
  fflush(stdout);
  const int saved = dup(1);
  const int file = open(path.string().c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  dup2(file, 1);
  close(file);
  print();
  dup2(saved, 1);
  close(saved);
  std::ifstream written(path, std::ios::binary);
  std::string text{std::istreambuf_iterator<char>(written), {}};
  written.close();
  std::filesystem::remove(path);
  return text;
}

TEST(ConsolePrintTest, RedirectedFileGetsTheLineUnlessNoFallback) {
  const struct {
    DWORD length;
    bool noFallback;
    const char* expected;
  } cases[] = {{3, false, "abc\r\n"}, {0, false, "\r\n"}, {3, true, ""}};
  for (const auto& c : cases) {
    bool onConsole = true;
    EXPECT_EQ(OutputToFile([&] { onConsole = ConsolePrint("abc", c.length, c.noFallback); }),
              c.expected)
        << c.length << " " << c.noFallback;
    EXPECT_FALSE(onConsole);
  }
}

TEST(ConsolePrintTest, PipeConsoleAndWindowBox) {
  SKIP_WITHOUT_CHILD_RUNS();
  auto print = [](Stream out, bool noFallback) {  // an open box is answered with Enter
    return RunInChild(
        Stream::kClosed, "", out, [=] { return ConsolePrint("abc", 3, noFallback) ? 1 : 0; },
        "(Enter: ", "\r");
  };
  ChildRun pipe = print(Stream::kPipe, false);
  EXPECT_EQ(pipe.result, 0);
  EXPECT_EQ(pipe.output, "abc\r\n");
  EXPECT_EQ(pipe.terminal, "");
  ChildRun console = print(Stream::kTerminal, true);
  EXPECT_EQ(console.result, 1);
  EXPECT_EQ(console.terminal, "abc\r\n");
  EXPECT_EQ(print(Stream::kClosed, true).terminal, "");
  // Without an application object the box has the system's default caption.
  ChildRun box = print(Stream::kClosed, false);
  EXPECT_EQ(box.result, 0);
  EXPECT_EQ(box.terminal.rfind("Error\nabc\n", 0), 0u) << box.terminal;
}

}  // namespace
