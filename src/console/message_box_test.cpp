// Tests of the console message box with redirected input: answers by key,
// and the default answers at the end of input.
#include "console/message_box.h"

#include <gtest/gtest.h>

#include "console/console_test_child.h"

namespace {

TEST(ConsoleMessageBoxTest, RedirectedInputGivesKeysAndDefaultAnswers) {
  SKIP_WITHOUT_CHILD_RUNS();
  const std::string kYesNo = "Q?\n\a\tYes, No (Y,N)\n";
  const struct {
    std::string input;
    UINT style;
    int answer;
    std::string terminal;
  } kCases[] = {
      {"n", MB_YESNO | MB_ICONQUESTION, IDNO, kYesNo},
      {"xy", MB_YESNO | MB_ICONQUESTION, IDYES, kYesNo + "\a\tYes, No (Y,N)\n"},
      {"", MB_YESNO | MB_ICONQUESTION, IDYES, kYesNo},
      {"", MB_YESNOCANCEL | MB_DEFBUTTON3, IDCANCEL, "Q?\n\a\tYes, No, Cancel (Y,N,C)\n"},
      {"", 0, IDOK, "Q?\n\a\tHit any key to continue...\n"},
      {"", 0x37, IDOK, "Q?\n\a\tHit any key to continue...\n"},  // no such button set
      // No default answer: the window box asks, and is answered "n".
      {"", MB_YESNO | MB_DEFBUTTON3, IDNO, kYesNo + "Error\nQ?\n[Y]es  [N]o  (Enter: Yes) No\n"},
  };
  for (Stream in : {Stream::kFile, Stream::kPipe}) {
    for (const auto& c : kCases) {
      ChildRun run = RunInChild(in, c.input, Stream::kTerminal,
                                [&] { return ConsoleMessageBox("Q?", c.style, nullptr, nullptr); },
                                {{"(Enter: ", "n"}});
      EXPECT_EQ(run.result, c.answer) << c.input << " " << c.style;
      EXPECT_EQ(run.terminal, c.terminal) << c.input << " " << c.style;
    }
  }
}

}  // namespace
