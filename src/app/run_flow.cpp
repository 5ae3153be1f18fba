// The run flow of one run of the tool.
#include "app/run_flow.h"

#include "app/counter_header.h"
#include "base/tokenizer.h"
#include "console/console_print.h"
#include "errors/resource_strings.h"

int RunFlow(HINSTANCE instance, LPSTR, int) {
  programModule = instance;
  ClString title;
  LoadResString(title, IDS_TITLE);
  SetConsoleTitleA(title.GetText());

  ClString commandLine(GetCommandLineA());
  ClCommandLine items(commandLine);
  CounterOptions options;
  while (items.Next()) {
    if (!items.switchName.IsEmpty()) continue;
    if (items.argIndex == 1) options.headerFile = items.argument.GetText();
    if (items.argIndex == 2) options.buildName = items.argument.GetText();
  }
  ConsolePrint(ClString(IDS_BANNER, "2.0"));
  UpdateBuildNumber(options);
  return 0;
}
