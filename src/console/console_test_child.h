// Tests of the console dialogue: code run in a child process whose standard
// handles and controlling terminal the test chooses.
#pragma once

#include <functional>
#include <string>

// Standard output is never a file here: tests redirect it to one in-process.
enum class Stream { kTerminal, kFile, kPipe, kClosed };

struct ChildRun {
  int result = -1;       // what the body returned (0-255); -1 after a crash or time-out
  std::string terminal;  // all the terminal showed: console output, bells, boxes
  std::string output;    // what a pipe on standard output received
};

// False where the platform makes no such children (Windows).
bool ChildRunsSupported();
#define SKIP_WITHOUT_CHILD_RUNS() \
  if (!ChildRunsSupported()) GTEST_SKIP() << "needs fork and a pseudo-terminal"

// Runs `body` in a new session whose controlling terminal is a fresh
// pseudo-terminal that passes output through unchanged, also as standard
// error. Standard input is `in` holding `input` (typed ahead on a terminal).
// `keys` are typed once the terminal has shown `keysAfter`.
ChildRun RunInChild(Stream in, const std::string& input, Stream out,
                    const std::function<int()>& body, const std::string& keysAfter = "",
                    const std::string& keys = "");
