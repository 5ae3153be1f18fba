// ConsolePrint: the console first, then a redirected output, then a box.
#include "console/console_print.h"

#include "app/console_app.h"
#include "console/window_fallback.h"

namespace {

const char kLineBreak[] = "\r\n";

bool IsUsable(HANDLE handle) { return handle && handle != INVALID_HANDLE_VALUE; }

// A plain OK box outside the message-box count: no question waits on it.
void ShowInWindowBox(const char* text) {
  ClConsoleApp* app = ClConsoleApp::Current();
  const char* caption = app ? app->GetCaption().GetText() : nullptr;
  HWND window = FindConsoleWindow();
  RaiseConsoleWindow(window);
  // Nothing else can reach the user now; the beep is the last sign of life.
  if (MessageBoxA(window, text, caption, MB_OK) == 0) MessageBeep(MB_ICONHAND);
}

}  // namespace

bool ConsolePrint(const char* text, DWORD length, bool noFallback) {
  HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
  if (IsUsable(output)) {
    DWORD written = 0;
    if ((length == 0 || WriteConsoleA(output, text, length, &written, nullptr)) &&
        WriteConsoleA(output, kLineBreak, 2, &written, nullptr)) {
      return true;
    }
    if (noFallback) return false;
    // No console: a file or a pipe takes the text; a short write does not count.
    if (length == 0 || (WriteFile(output, text, length, &written, nullptr) && written == length)) {
      WriteFile(output, kLineBreak, 2, &written, nullptr);
      return false;
    }
  } else if (noFallback) {
    return false;
  }
  ShowInWindowBox(text);
  return false;
}
