// The run flow of one run of the tool.
#include "app/run_flow.h"

#include "app/console_app.h"
#include "app/counter_header.h"
#include "app/options.h"
#include "base/tokenizer.h"
#include "console/console_print.h"
#include "errors/resource_strings.h"

namespace {

const char kVersion[] = "2.0";

}  // namespace

int RunFlow(HINSTANCE instance, LPSTR, int) {
  ClConsoleApp app;
  programModule = instance;

  ClString title;
  LoadResString(title, app.titleId);
  SetConsoleTitleA(title.GetText());

  const ClString commandLine(GetCommandLineA());
  ClCommandLine items(commandLine);
  CounterOptions options;
  bool showBanner = true;
  bool badCommandLine = false;
  while (items.Next()) {
    switch (ApplyCommandLineItem(items, options, showBanner)) {
      case ItemOutcome::kAccepted:
        break;
      case ItemOutcome::kBad:
        badCommandLine = true;
        break;
      case ItemOutcome::kUsage:
        return 0;
      case ItemOutcome::kVersion:
        ConsolePrint(ClString(IDS_BANNER, kVersion));
        return 0;
    }
  }
  if (badCommandLine) return 1;

  // Only once the whole command line is accepted.
  if (showBanner) ConsolePrint(ClString(IDS_BANNER, kVersion));
  UpdateBuildNumber(options);
  return 0;
}
