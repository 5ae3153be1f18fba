// The application object of a run: registered as the current application
// while the run flow runs, so that message boxes go through it and share its
// console window and caption.
#pragma once

#include "base/string.h"
#include "winapi/winapi.h"

class ClConsoleApp final {
 public:
  // Registers itself as the current application.
  ClConsoleApp();
  // Clears the current application. Not virtual: there are no subclasses.
  ~ClConsoleApp();
  ClConsoleApp(const ClConsoleApp&) = delete;
  ClConsoleApp& operator=(const ClConsoleApp&) = delete;

  // The live application object, or null outside the run flow.
  static ClConsoleApp* Current();

  // Shows a message as ConsoleMessageBox does, with the same arguments and
  // answer.
  int ShowMessage(const ClString& text, UINT style, HWND owner, const char* captionText);
  // The caption of window boxes: string `titleId`, loaded on first need.
  const ClString& GetCaption();

  HWND consoleWindow;  // found and cached by the console dialogue
  ClString caption;
  WORD titleId;
};
