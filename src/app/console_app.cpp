// ClConsoleApp: the current application and its caption.
#include "app/console_app.h"

#include "console/message_box.h"
#include "errors/resource_strings.h"

namespace {

ClConsoleApp* currentApp;

}  // namespace

ClConsoleApp::ClConsoleApp() : consoleWindow(nullptr), titleId(IDS_TITLE) { currentApp = this; }

ClConsoleApp::~ClConsoleApp() {
  if (currentApp == this) currentApp = nullptr;
}

ClConsoleApp* ClConsoleApp::Current() { return currentApp; }

int ClConsoleApp::ShowMessage(const ClString& text, UINT style, HWND owner,
                              const char* captionText) {
  return ConsoleMessageBox(text, style, owner, captionText);
}

const ClString& ClConsoleApp::GetCaption() {
  if (caption.IsEmpty()) LoadResString(caption, titleId);
  return caption;
}
