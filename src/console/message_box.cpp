// The console message box: a question on the console answered by one key,
// with a window message box where the console cannot show it or answer it.
#include "console/message_box.h"

#include <iterator>

#include "app/console_app.h"
#include "console/console_print.h"
#include "console/window_fallback.h"
#include "errors/exception.h"
#include "errors/resource_strings.h"

namespace {

// Keys come in pairs, upper then lower case, in the order of the answers.
struct ButtonSet {
  UINT prompt;
  UINT keys;  // 0: any key answers
  int answers[3];
};

// By MB_TYPEMASK.
constexpr ButtonSet kButtonSets[] = {
    {IDS_PROMPT_OK, 0, {IDOK, 0, 0}},
    {IDS_PROMPT_OKCANCEL, IDS_KEYS_OKCANCEL, {IDOK, IDCANCEL, 0}},
    {IDS_PROMPT_ABORTRETRYIGNORE, IDS_KEYS_ABORTRETRYIGNORE, {IDABORT, IDRETRY, IDIGNORE}},
    {IDS_PROMPT_YESNOCANCEL, IDS_KEYS_YESNOCANCEL, {IDYES, IDNO, IDCANCEL}},
    {IDS_PROMPT_YESNO, IDS_KEYS_YESNO, {IDYES, IDNO, 0}},
    {IDS_PROMPT_RETRYCANCEL, IDS_KEYS_RETRYCANCEL, {IDRETRY, IDCANCEL, 0}},
};

// The answer that `key` gives, or 0 when it gives none.
int AnswerFor(const ButtonSet& set, const ClString& keys, char key) {
  const char* found = static_cast<const char*>(memchr(keys.GetText(), key, keys.GetLength()));
  if (!found) return 0;
  // A key set that failed to load holds the loader's placeholder text, whose
  // letters must not reach past the answers.
  const size_t answer = static_cast<size_t>(found - keys.GetText()) / 2;
  return answer < std::size(set.answers) ? set.answers[answer] : 0;
}

// The style's default button when no key can be read; 0 for none.
int DefaultAnswer(const ButtonSet& set, UINT style) {
  const UINT button = (style & MB_DEFBUTTON4) >> 8;
  return button < std::size(set.answers) ? set.answers[button] : 0;
}

// The question on the console; 0 when it has to go to a window box instead.
int AskOnConsole(const ClString& text, UINT style) {
  if (!ConsolePrint(text, true)) return 0;
  MessageBeep(style);
  const ButtonSet& set = kButtonSets[style & MB_TYPEMASK];
  ClString prompt;
  LoadResString(prompt, set.prompt);
  if (set.keys == 0) {
    if (ConsolePrint(prompt, true)) ReadConsoleKey();
    return IDOK;
  }
  ClString keys;
  LoadResString(keys, set.keys);
  bool consoleOk = true;
  for (;;) {
    // Without the console the user has not seen the prompt: a wrong key
    // cannot be asked about again here.
    if (!ConsolePrint(prompt)) consoleOk = false;
    const char key = ReadConsoleKey();
    if (key == 0) return DefaultAnswer(set, style);
    if (int answer = AnswerFor(set, keys, key)) return answer;
    if (!consoleOk) return 0;
    MessageBeep(MB_ICONASTERISK);
  }
}

class MessageBoxCount {
 public:
  MessageBoxCount() : depth_(InterlockedIncrement(&messageBoxDepth)) {}
  ~MessageBoxCount() { InterlockedDecrement(&messageBoxDepth); }
  MessageBoxCount(const MessageBoxCount&) = delete;
  MessageBoxCount& operator=(const MessageBoxCount&) = delete;
  // Whether another box of ours was showing when this one was counted.
  bool Nested() const { return depth_ > 0; }

 private:
  LONG depth_;
};

int AskInWindowBox(HWND window, const ClString& text, UINT style, const char* caption) {
  ClConsoleApp* app = ClConsoleApp::Current();
  if (!caption && app) caption = app->GetCaption().GetText();
  MessageBoxCount count;
  if (count.Nested()) return ThreadMessageBox(window, text.GetText(), caption, style);
  return MessageBoxA(window, text.GetText(), caption, style);
}

}  // namespace

int ConsoleMessageBox(const ClString& text, UINT style, HWND owner, const char* caption) {
  // Button sets 6 to 15 have no keys and no window counterpart: OK stands in.
  if ((style & MB_TYPEMASK) >= std::size(kButtonSets)) style &= ~MB_TYPEMASK;
  if (style == 0) style = MB_OK | MB_ICONINFORMATION;
  ClConsoleApp* app = ClConsoleApp::Current();
  if (owner && app) app->consoleWindow = owner;
  HWND window = FindConsoleWindow();
  RaiseConsoleWindow(window);
  try {
    if (int answer = AskOnConsole(text, style)) return answer;
  } catch (ClException* e) {
    delete e;
  }
  return AskInWindowBox(window, text, style, caption);
}

char ReadConsoleKey() {
  HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  if (!input || input == INVALID_HANDLE_VALUE) return 0;
  char key = 0;
  DWORD read = 0;
  DWORD mode = 0;
  if (GetFileType(input) == FILE_TYPE_CHAR && GetConsoleMode(input, &mode)) {
    // One key, unechoed. The mode stays so: the next question wants it too.
    bool usable = !(mode & ENABLE_LINE_INPUT) ||
                  SetConsoleMode(input, mode & ~(ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT));
    if (usable && ReadConsoleA(input, &key, 1, &read, nullptr) && read == 1) return key;
  }
  if (ReadFile(input, &key, 1, &read, nullptr) && read == 1) return key;
  return 0;
}

int AppMessageBox(const ClString& text, UINT style, HWND owner, const char* caption) {
  if (ClConsoleApp* app = ClConsoleApp::Current())
    return app->ShowMessage(text, style, owner, caption);
  return ConsoleMessageBox(text, style, owner, caption);
}

void ShowError(const ClString& text) {
  try {
    AppMessageBox(text, MB_ICONEXCLAMATION | MB_OK, nullptr, nullptr);
  } catch (ClException* e) {
    delete e;
    MessageBeep(MB_ICONEXCLAMATION);
  } catch (...) {
    MessageBeep(MB_ICONHAND);
  }
}
