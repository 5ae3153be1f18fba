// Child processes for the console dialogue's tests on Windows: not made, so
// the tests that need a terminal and a second process are skipped there.
#include "console/console_test_child.h"

bool ChildRunsSupported() { return false; }

ChildRun RunInChild(Stream, const std::string&, Stream, const std::function<int()>&,
                    const std::vector<KeyStep>&, int) {
  return ChildRun();
}
