// The application entry: the one handler around the run flow, which turns
// any failure into its report and exit code 5.
#include <exception>

#include "app/run_flow.h"
#include "console/message_box.h"
#include "errors/exception.h"
#include "errors/structured_exception.h"
#if TICKWRIGHT_FAULT_HOOKS
#include "app/fault_hooks.h"
#endif

namespace {

void ShowReportAndDelete(ClException* e) {
  {
    ClString report;
    e->BuildReport(report);
    ShowError(report);
  }
  delete e;
}

std::terminate_handler previousTerminate;

// A fault inside a function that throws nothing (a C library function) is
// thrown all the same, but cannot unwind past the frame that called it, and
// the run would end without a word. It ends here instead, as at the entry.
[[noreturn]] void ReportEscapedException() {
  static bool reporting = false;
  if (std::current_exception() && !reporting) {
    reporting = true;
    try {
      throw;
    } catch (ClException* e) {
      ShowReportAndDelete(e);
      exit(5);
    } catch (...) {
    }
  }
  previousTerminate();
  abort();
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int show) {
  SetFaultTranslator(StructuredTranslator);
  previousTerminate = std::set_terminate(ReportEscapedException);
  try {
#if TICKWRIGHT_FAULT_HOOKS
    MakeRequestedFault();
#endif
    return RunFlow(instance, commandLine, show);
  } catch (ClException* e) {
    ShowReportAndDelete(e);
    return 5;
  }
}
