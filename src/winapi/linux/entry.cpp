// The process entry of the Linux build: main() in the shape of a Windows
// program's start-up, handing WinMain the command line after the program name.
#include "winapi/linux/api.h"
#include "winapi/linux/command_line.h"
#include "winapi/linux/handles.h"

// argv was taken before main ran (see GetCommandLineA); WinMain gets the
// same line that GetCommandLineA returns, without the program name.
int main(int, char**) {
  ReserveStandardHandles();
  LPSTR line = GetCommandLineA();
  return WinMain(GetModuleHandleA(nullptr), nullptr, line + CommandLineTailOffset(line),
                 SW_SHOWDEFAULT);
}
