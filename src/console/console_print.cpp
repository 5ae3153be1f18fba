// ConsolePrint: the console first, then a redirected output, then a box.
#include "console/console_print.h"

namespace {

const char kLineBreak[] = "\r\n";

void ShowInWindow(const char* text) {
  if (MessageBoxA(nullptr, text, nullptr, MB_OK) == 0) MessageBeep(MB_ICONHAND);
}

}  // namespace

bool ConsolePrint(const char* text, DWORD length, bool noFallback) {
  HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
  if (!output || output == INVALID_HANDLE_VALUE) {
    if (noFallback) return false;
    ShowInWindow(text);
    return false;
  }
  DWORD written = 0;
  if ((length == 0 || WriteConsoleA(output, text, length, &written, nullptr)) &&
      WriteConsoleA(output, kLineBreak, 2, &written, nullptr)) {
    return true;
  }
  if (noFallback) return false;
  // Not a console: a file or a pipe.
  if (length == 0 || (WriteFile(output, text, length, &written, nullptr) && written == length)) {
    WriteFile(output, kLineBreak, 2, &written, nullptr);
    return false;
  }
  ShowInWindow(text);
  return false;
}
