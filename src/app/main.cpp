// The application entry: the one handler around the run flow, which turns
// any failure into its report and exit code 5.
#include "app/run_flow.h"
#include "console/message_box.h"
#include "errors/exception.h"
#include "errors/structured_exception.h"
#if TICKWRIGHT_FAULT_HOOKS
#include "app/fault_hooks.h"
#endif

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int show) {
  SetFaultTranslator(StructuredTranslator);
  try {
#if TICKWRIGHT_FAULT_HOOKS
    MakeRequestedFault();
#endif
    return RunFlow(instance, commandLine, show);
  } catch (ClException* e) {
    {
      ClString report;
      e->BuildReport(report);
      ShowError(report);
    }
    delete e;
    return 5;
  }
}
