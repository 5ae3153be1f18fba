// ConsolePrint: the console first, then a redirected output, then a box.
#include "console/console_print.h"

#include <string.h>

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
    // Text and line break go in one write where they fit here, so that
    // programs sharing the output (a parallel build) cannot split the line.
    char joined[256];
    const bool join = length <= sizeof joined - 2;
    if (join) {
      memcpy(joined, text, length);
      memcpy(joined + length, kLineBreak, 2);
    }
    DWORD written = 0;
    if (join ? WriteConsoleA(output, joined, length + 2, &written, nullptr)
             : WriteConsoleA(output, text, length, &written, nullptr) &&
                   WriteConsoleA(output, kLineBreak, 2, &written, nullptr)) {
      return true;
    }
    if (noFallback) return false;
    // No console: a file or a pipe takes the text. A short write of the text
    // does not count; the line break alone may go missing.
    if (join) {
      if (WriteFile(output, joined, length + 2, &written, nullptr) || written >= length)
        return false;
    } else if (WriteFile(output, text, length, &written, nullptr) && written == length) {
      WriteFile(output, kLineBreak, 2, &written, nullptr);
      return false;
    }
  } else if (noFallback) {
    return false;
  }
  ShowInWindowBox(text);
  return false;
}
