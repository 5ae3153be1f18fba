// ClComLibrary: one start of COM per process, refused in the multithreaded apartment.
#include "scc/com_library.h"

#include <gtest/gtest.h>

#include <string>

#include "scc/com_exception.h"

namespace {

bool ComStarted() {
  const CLSID unregistered = {0x0BADC0DE, 0x1, 0x2, {3, 4, 5, 6, 7, 8, 9, 10}};
  void* object = nullptr;
  return CoCreateInstance(unregistered, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &object) !=
         CO_E_NOTINITIALIZED;
}

// Runs in a process of its own, where nothing started COM yet, and tells what it saw.
void EnsureInAFreshProcess() {
  bool refused = false;
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  try {
    ClComLibrary::Ensure();
  } catch (ClComException* thrown) {
    ClString report;
    thrown->BuildReport(report);
    refused = thrown->errorCode == static_cast<DWORD>(RPC_E_CHANGED_MODE) &&
              std::string(report.GetText())
                      .rfind(
                          "Error initializing component library. (Cannot change threading mode)"
                          "\r\n\r\n",
                          0) == 0;
    delete thrown;
  }
  CoUninitialize();
  // The failure registered nothing: the thread can still start it, once.
  ClComLibrary::Ensure();
  ClComLibrary::Ensure();
  const bool started = ComStarted();
  CoUninitialize();
  const bool once = !ComStarted();
  CoInitialize(nullptr);  // for the exit list to end
  fprintf(stderr, "refused=%d started=%d once=%d\n", refused, started, once);
  exit(0);
}

TEST(ComLibraryTest, StartsComOnceAndNotInTheMultithreadedApartment) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(EnsureInAFreshProcess(), ::testing::ExitedWithCode(0), "refused=1 started=1 once=1");
}

}  // namespace
