// The window side of the console dialogue: the console's window, raising it,
// and window message boxes on a thread of their own while another one shows.
#include "console/window_fallback.h"

#include "app/console_app.h"
#include "errors/exception.h"
#include "winapi/scoped_handle.h"

LONG messageBoxDepth = -1;

namespace {

// The record that GetWindowPlacement checks its length field against.
static_assert(sizeof(WINDOWPLACEMENT) == 44);

struct WindowSearch {
  DWORD thread;
  DWORD process;
  HWND found;
};

BOOL CALLBACK TakeOwnWindow(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<WindowSearch*>(param);
  DWORD process = 0;
  const DWORD thread = GetWindowThreadProcessId(window, &process);
  if (GetWindowLongA(window, GWL_STYLE) & WS_CHILD) return TRUE;
  if (thread == search->thread) {
    search->found = window;
    return FALSE;
  }
  // A window of another thread of ours will do unless one of this thread's
  // turns up later.
  if (process == search->process) search->found = window;
  return TRUE;
}

bool IsLiveWindow(HWND window) { return window && IsWindow(window); }

struct BoxRequest {
  HWND owner;
  const char* text;
  const char* caption;
  UINT style;
};

DWORD WINAPI ShowBoxOnThread(LPVOID param) {
  const auto* box = static_cast<const BoxRequest*>(param);
  // No owner: the owner's thread is busy showing the other box.
  return static_cast<DWORD>(MessageBoxA(nullptr, box->text, box->caption, box->style));
}

}  // namespace

HWND FindConsoleWindow() {
  ClConsoleApp* app = ClConsoleApp::Current();
  if (app && IsLiveWindow(app->consoleWindow)) return app->consoleWindow;
  WindowSearch search = {GetCurrentThreadId(), GetCurrentProcessId(), nullptr};
  EnumWindows(TakeOwnWindow, reinterpret_cast<LPARAM>(&search));
  // Windows' console windows belong to the console host's process, so the
  // enumeration rarely finds ours; the console knows it.
  if (!search.found) search.found = GetConsoleWindow();
  if (app) app->consoleWindow = search.found;
  return search.found;
}

void RaiseConsoleWindow(HWND window) {
  if (!IsLiveWindow(window)) return;
  if (IsIconic(window)) {
    WINDOWPLACEMENT placement = {};
    placement.length = sizeof placement;
    if (!GetWindowPlacement(window, &placement)) ThrowLastError();
    ShowWindow(window, (placement.flags & WPF_RESTORETOMAXIMIZED) ? SW_SHOWMAXIMIZED : SW_RESTORE);
  }
  SetForegroundWindow(window);
}

int ThreadMessageBox(HWND owner, const char* text, const char* caption, UINT style) {
  BoxRequest request = {owner, text, caption, style};
  ScopedObject thread(CreateThread(nullptr, 0, ShowBoxOnThread, &request, 0, nullptr));
  if (!thread) return MessageBoxA(owner, text, caption, style);
  // The thread reads `request` from this frame: leave only once it has ended.
  DWORD answer;
  do {
    WaitForSingleObject(thread.Get(), INFINITE);
    if (!GetExitCodeThread(thread.Get(), &answer)) return 0;
  } while (answer == STILL_ACTIVE);
  return static_cast<int>(answer);
}
