// The application entry: the one handler around the run flow.
#include "app/run_flow.h"
#include "console/console_print.h"
#include "errors/exception.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int show) {
  try {
    return RunFlow(instance, commandLine, show);
  } catch (ClException* e) {
    ClString report;
    e->BuildReport(report);
    ConsolePrint(report);
    delete e;
    return 5;
  }
}
