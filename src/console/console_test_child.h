// Code run in a child process whose standard handles and controlling terminal a test chooses.
#pragma once

#include <functional>
#include <string>
#include <vector>

enum class Stream { kTerminal, kFile, kPipe, kClosed };

struct ChildRun {
  int result = -1;             // what the body returned (0-255); -1 after a signal or time-out
  int signal = 0;              // the signal that ended the child, if one did
  std::string terminal;        // all the terminal showed: console output, bells, boxes
  std::string output;          // what a file or pipe on standard output received
  unsigned terminalModes = 0;  // the terminal's local modes (c_lflag) once the child ended
};

// Keys typed once the terminal has shown `after` since the previous keys.
struct KeyStep {
  std::string after;
  std::string keys;
};

// False where the platform makes no such children (Windows).
bool ChildRunsSupported();
#define SKIP_WITHOUT_CHILD_RUNS() \
  if (!ChildRunsSupported()) GTEST_SKIP() << "needs fork and a pseudo-terminal"

// Runs `body` on a fresh raw pseudo-terminal (also standard error), `in` holding `input`; types
// the `steps` in order, then sends `signal` (if not 0).
ChildRun RunInChild(Stream in, const std::string& input, Stream out,
                    const std::function<int()>& body, const std::vector<KeyStep>& steps = {},
                    int signal = 0);
