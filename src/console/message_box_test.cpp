// Tests of the console message box: answers by key from a file, a pipe or a
// terminal, default answers at the end of input, and the window box where
// the console cannot ask.
#include "console/message_box.h"

#include <gtest/gtest.h>

#include <optional>

#include "app/console_app.h"
#include "console/console_test_child.h"
#include "console/window_fallback.h"

namespace {

const std::string kYesNo = "\tYes, No (Y,N)\r\n";
const std::string kAnyKey = "\tHit any key to continue...\r\n";

class ConsoleMessageBoxTest : public ::testing::Test {
 protected:
  void SetUp() override { SKIP_WITHOUT_CHILD_RUNS(); }
  // Asks "Q?" in a child; a window box that opens is answered "n".
  static ChildRun Ask(Stream in, const std::string& input, Stream out, UINT style) {
    return RunInChild(
        in, input, out, [=] { return ConsoleMessageBox("Q?", style, nullptr, nullptr); },
        "(Enter: ", "n");
  }
};

class RedirectedInputTest : public ConsoleMessageBoxTest,
                            public ::testing::WithParamInterface<Stream> {};

TEST_P(RedirectedInputTest, KeysAndDefaultAnswers) {
  const struct {
    std::string input;
    UINT style;
    int answer;
    std::string terminal;
  } cases[] = {
      {"n", MB_YESNO | MB_ICONQUESTION, IDNO, "Q?\r\n\a" + kYesNo},
      {"Y", MB_YESNO | MB_ICONQUESTION, IDYES, "Q?\r\n\a" + kYesNo},
      {"xy", MB_YESNO | MB_ICONQUESTION, IDYES, "Q?\r\n\a" + kYesNo + "\a" + kYesNo},
      {"\r", MB_YESNO | MB_ICONQUESTION, IDYES, "Q?\r\n\a" + kYesNo + "\a" + kYesNo},
      {"", MB_YESNO | MB_ICONQUESTION, IDYES, "Q?\r\n\a" + kYesNo},
      {std::string("\0y", 2), MB_YESNO | MB_DEFBUTTON2, IDNO, "Q?\r\n\a" + kYesNo},
      {"", MB_YESNOCANCEL | MB_DEFBUTTON3, IDCANCEL, "Q?\r\n\a\tYes, No, Cancel (Y,N,C)\r\n"},
      {"i", MB_ABORTRETRYIGNORE, IDIGNORE, "Q?\r\n\a\tAbort, Retry, Ignore (A,R,I)\r\n"},
      {"", 0, IDOK, "Q?\r\n\a" + kAnyKey},
      {"", 0x37, IDOK, "Q?\r\n\a" + kAnyKey},  // no such button set: OK
  };
  for (const auto& c : cases) {
    ChildRun run = Ask(GetParam(), c.input, Stream::kTerminal, c.style);
    EXPECT_EQ(run.result, c.answer) << c.input << " " << c.style;
    EXPECT_EQ(run.terminal, c.terminal) << c.input << " " << c.style;
  }
}

TEST_P(RedirectedInputTest, NoDefaultAnswerOpensTheWindowBox) {
  ChildRun run = Ask(GetParam(), "", Stream::kTerminal, MB_YESNO | MB_DEFBUTTON3);
  EXPECT_EQ(run.result, IDNO);
  EXPECT_EQ(run.terminal.rfind("Q?\r\n\a" + kYesNo + "Error\nQ?\n", 0), 0u) << run.terminal;
}

INSTANTIATE_TEST_SUITE_P(FileAndPipe, RedirectedInputTest,
                         ::testing::Values(Stream::kFile, Stream::kPipe),
                         [](const ::testing::TestParamInfo<Stream>& p) {
                           return p.param == Stream::kFile ? "File" : "Pipe";
                         });

TEST_F(ConsoleMessageBoxTest, ConsoleInputIsReadWithoutWaitingForALine) {
  // With line input left on, the key would wait for Enter until the time-out.
  EXPECT_EQ(Ask(Stream::kTerminal, "n", Stream::kTerminal, MB_YESNO).result, IDNO);
}

TEST_F(ConsoleMessageBoxTest, RedirectedOutputAsksInAWindowBoxWithItsCaption) {
  const struct {
    const char* caption;
    bool withApp;
    const char* shown;
  } cases[] = {{"Mine", true, "Mine\nQ?\n"},
               {nullptr, true, "Automaitc Tickwright\nQ?\n"},
               {nullptr, false, "Error\nQ?\n"}};
  for (const auto& c : cases) {
    ChildRun run = RunInChild(
        Stream::kFile, "y", Stream::kPipe,
        [&] {
          std::optional<ClConsoleApp> app;
          if (c.withApp) app.emplace();
          return ConsoleMessageBox("Q?", MB_YESNO, nullptr, c.caption);
        },
        "(Enter: ", "n");
    EXPECT_EQ(run.result, IDNO) << c.shown;
    EXPECT_EQ(run.output, "");
    EXPECT_EQ(run.terminal.rfind(c.shown, 0), 0u) << run.terminal;
  }
}

TEST_F(ConsoleMessageBoxTest, NestedBoxAnswersFromItsOwnThread) {
  ChildRun run = RunInChild(
      Stream::kClosed, "", Stream::kPipe,
      [] {
        messageBoxDepth = 0;  // as if another box were showing
        const int answer = ConsoleMessageBox("Q?", MB_YESNO, nullptr, nullptr);
        return messageBoxDepth == 0 ? answer : 99;
      },
      "(Enter: ", "n");
  EXPECT_EQ(run.result, IDNO);
}

TEST_F(ConsoleMessageBoxTest, ShowErrorGoesToTheConsoleWithTheOkPrompt) {
  ChildRun run = RunInChild(Stream::kFile, "", Stream::kTerminal, [] {
    ShowError("Report");
    return 0;
  });
  EXPECT_EQ(run.result, 0);
  EXPECT_EQ(run.terminal, "Report\r\n\a" + kAnyKey);
}

}  // namespace
