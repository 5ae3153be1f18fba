// The process entry of the Linux build: main() in the shape of a Windows
// program's start-up, handing WinMain the command line after the program name.
#include <signal.h>

#include "winapi/linux/api.h"
#include "winapi/linux/command_line.h"
#include "winapi/linux/handles.h"

// argv was taken before main ran (see GetCommandLineA); WinMain gets the
// same line that GetCommandLineA returns, without the program name. Where
// memory runs out before that line is built, WinMain gets an empty one: the
// run flow reads the line itself, under the handler that reports it.
int main(int, char**) {
  ReserveStandardHandles();
  // A write to a pipe without a reader, or beyond the file size limit, fails
  // on Windows (ERROR_NO_DATA, ERROR_FILE_TOO_LARGE); here it would end the
  // process by a signal, with no report and whatever was half written.
  signal(SIGPIPE, SIG_IGN);
  signal(SIGXFSZ, SIG_IGN);
  // A run in a background job must never be stopped by its terminal, or it
  // would hold its claim on the header for ever: its writes there go
  // through, and its reads fail at once (the console layer asks nothing of
  // a terminal whose foreground belongs to another job).
  signal(SIGTTOU, SIG_IGN);
  signal(SIGTTIN, SIG_IGN);
  static char noLine[] = "";
  LPSTR tail = noLine;
  try {
    LPSTR line = GetCommandLineA();
    tail = line + CommandLineTailOffset(line);
  } catch (...) {
  }
  return WinMain(GetModuleHandleA(nullptr), nullptr, tail, SW_SHOWDEFAULT);
}
