// Windows and message boxes on Linux, where there are no windows: a message
// box is a text box on the controlling terminal, answered by one key.
//
// Where Linux differs from Windows:
// - No window exists: EnumWindows finds none, GetConsoleWindow gives none,
//   IsWindow and IsIconic deny, and every other call about a window fails
//   with ERROR_INVALID_WINDOW_HANDLE.
// - A box shows its caption, its text and a line of buttons on the
//   controlling terminal. A button's first letter (either case) answers it,
//   Enter the default button, Escape Cancel (or a lone OK); other keys ring
//   the bell. Icons show nothing and the owner is ignored.
// - Without a controlling terminal, or in a background job of it, the
//   caption and text go to standard error (when there is one) and the box
//   fails (0), as a box that could not be shown.
// - MessageBeep rings the terminal's bell whatever sound is asked for; not
//   from a background job, which asks the user nothing there.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <iterator>
#include <mutex>
#include <string>
#include <string_view>

#include "winapi/linux/api.h"
#include "winapi/linux/handles.h"
#include "winapi/linux/last_error.h"
#include "winapi/linux/syscalls.h"
#include "winapi/linux/terminal.h"
#include "winapi/scoped_handle.h"

namespace {

struct ButtonSet {
  int count;
  int answers[3];
  const char* names[3];
};

// By MB_TYPEMASK. The first letters of a set's names differ: they are the keys.
constexpr ButtonSet kButtonSets[] = {
    {1, {IDOK}, {"OK"}},
    {2, {IDOK, IDCANCEL}, {"OK", "Cancel"}},
    {3, {IDABORT, IDRETRY, IDIGNORE}, {"Abort", "Retry", "Ignore"}},
    {3, {IDYES, IDNO, IDCANCEL}, {"Yes", "No", "Cancel"}},
    {2, {IDYES, IDNO}, {"Yes", "No"}},
    {2, {IDRETRY, IDCANCEL}, {"Retry", "Cancel"}},
};

constexpr unsigned char kEscape = 0x1b;
// The bytes of one key (an arrow's escape sequence) arrive together; a lone
// Escape is followed by nothing within this time.
constexpr int kKeySequenceMs = 30;

char AsciiLower(unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c); }

// The button that `key` answers in `set`, or -1 for none.
int ButtonFor(const ButtonSet& set, int defaultButton, unsigned char key) {
  if (key == '\r' || key == '\n') return defaultButton;
  for (int i = 0; i < set.count; ++i) {
    if (key == kEscape ? set.answers[i] == IDCANCEL
                       : AsciiLower(key) == AsciiLower(set.names[i][0]))
      return i;
  }
  return key == kEscape && set.count == 1 ? 0 : -1;
}

// "[Y]es  [N]o  (Enter: Yes) ": the keys and the default answer.
std::string ButtonLine(const ButtonSet& set, int defaultButton) {
  std::string line;
  for (int i = 0; i < set.count; ++i) {
    line += '[';
    line += set.names[i][0];
    line += ']';
    line += set.names[i] + 1;
    line += "  ";
  }
  line += "(Enter: ";
  line += set.names[defaultButton];
  line += ") ";
  return line;
}

// The controlling terminal, open while the object lives; its mode, once
// changed, goes back when the object dies.
class ControllingTerminal {
 public:
  explicit ControllingTerminal(int access)
      : fd_(sys.open("/dev/tty", access | O_NOCTTY | O_CLOEXEC, 0)) {
    if (!fd_) openError_ = errno;
  }
  ~ControllingTerminal() {
    if (token_ >= 0) RestoreTerminalMode(token_);
  }
  ControllingTerminal(const ControllingTerminal&) = delete;
  ControllingTerminal& operator=(const ControllingTerminal&) = delete;

  bool IsOpen() const { return static_cast<bool>(fd_); }
  bool InForeground() const { return !InBackground(fd_.Get()); }
  int OpenError() const { return openError_; }
  bool Write(std::string_view text) { return WriteText(fd_.Get(), text.data(), text.size()); }

  // Keys one at a time, without echo. Signals stay on: Ctrl-C interrupts.
  bool TakeKeys() {
    token_ = SaveTerminalMode(fd_.Get());
    if (token_ < 0) return false;
    struct termios modes;
    int result = sys.tcgetattr(fd_.Get(), &modes);
    if (result == 0) {
      modes.c_lflag &= ~(ICANON | ECHO);
      modes.c_cc[VMIN] = 1;
      modes.c_cc[VTIME] = 0;
      result = RetryOnInterrupt([&] { return sys.tcsetattr(fd_.Get(), TCSANOW, &modes); });
    }
    if (result != 0) SetLastErrorFromErrno(errno);
    return result == 0;
  }

  // The next byte typed, or -1 with the last error set.
  int ReadByte() {
    unsigned char byte;
    const ssize_t result = RetryOnInterrupt([&] { return sys.read(fd_.Get(), &byte, 1); });
    if (result == 1) return byte;
    if (result == 0)
      SetLastError(ERROR_HANDLE_EOF);
    else
      SetLastErrorFromErrno(errno);
    return -1;
  }

  bool InputWithin(int milliseconds) {
    struct pollfd ready = {fd_.Get(), POLLIN, 0};
    return sys.poll(&ready, 1, milliseconds) > 0 && (ready.revents & POLLIN);
  }

  // Drops what is left of a key of several bytes.
  void DropRestOfKey() {
    unsigned char byte;
    for (int i = 0; i < 64 && InputWithin(0); ++i)
      if (sys.read(fd_.Get(), &byte, 1) <= 0) break;
  }

 private:
  ScopedFile fd_;
  int openError_ = 0;
  int token_ = -1;
};

int AskOnTerminal(ControllingTerminal& tty, const ButtonSet& set, int defaultButton,
                  const std::string& body) {
  if (!tty.TakeKeys() || !tty.Write(body + ButtonLine(set, defaultButton))) return 0;
  for (;;) {
    int key = tty.ReadByte();
    if (key < 0) return 0;
    bool sequence = key == kEscape && tty.InputWithin(kKeySequenceMs);
    int button = sequence ? -1 : ButtonFor(set, defaultButton, static_cast<unsigned char>(key));
    if (button >= 0) {
      tty.Write(std::string(set.names[button]) + "\n");
      return set.answers[button];
    }
    tty.DropRestOfKey();
    if (!tty.Write("\a")) return 0;
  }
}

BOOL NoWindow() {
  SetLastError(ERROR_INVALID_WINDOW_HANDLE);
  return FALSE;
}

}  // namespace

int WINAPI MessageBoxA(HWND, LPCSTR text, LPCSTR caption, UINT type) {
  UINT buttons = type & MB_TYPEMASK;
  if (buttons >= std::size(kButtonSets)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const ButtonSet& set = kButtonSets[buttons];
  int defaultButton = static_cast<int>((type & MB_DEFBUTTON4) >> 8);
  if (defaultButton >= set.count) defaultButton = 0;

  std::string body = caption ? caption : "Error";
  body += '\n';
  body += text ? text : "";
  if (body.back() != '\n') body += '\n';

  // Boxes of several threads would read each other's keys.
  static std::mutex oneBoxAtATime;
  std::lock_guard<std::mutex> lock(oneBoxAtATime);
  ControllingTerminal tty(O_RDWR);
  if (!tty.IsOpen() || !tty.InForeground()) {
    if (FileHandle* standardError = FileHandleFrom(GetStdHandle(STD_ERROR_HANDLE)))
      WriteText(standardError->fd, body.data(), body.size());
    SetLastErrorFromErrno(tty.IsOpen() ? EIO : tty.OpenError());
    return 0;
  }
  return AskOnTerminal(tty, set, defaultButton, body);
}

BOOL WINAPI MessageBeep(UINT) {
  ControllingTerminal tty(O_WRONLY);
  if (tty.IsOpen() && tty.InForeground()) tty.Write("\a");
  return TRUE;
}

BOOL WINAPI EnumWindows(WNDENUMPROC, LPARAM) { return TRUE; }

HWND WINAPI GetConsoleWindow() { return nullptr; }

DWORD WINAPI GetWindowThreadProcessId(HWND, LPDWORD) { return NoWindow(); }

LONG WINAPI GetWindowLongA(HWND, int) { return NoWindow(); }

BOOL WINAPI IsWindow(HWND) { return NoWindow(); }

BOOL WINAPI IsIconic(HWND) { return NoWindow(); }

BOOL WINAPI GetWindowPlacement(HWND, WINDOWPLACEMENT*) { return NoWindow(); }

BOOL WINAPI ShowWindow(HWND, int) { return NoWindow(); }

BOOL WINAPI SetForegroundWindow(HWND) { return NoWindow(); }
