// The console on Linux: standard handles, terminal modes and the terminal
// title, and the guard that puts changed terminal modes back at the end.
//
// Where Linux differs from Windows:
// - A console is a terminal. Console calls on a redirected handle fail with
//   ERROR_INVALID_HANDLE, as Windows fails them.
// - An input console is standard input, or a terminal opened only for
//   reading; every other terminal handle is an output console, whose mode is
//   always processed and wrapping (sets are accepted and change nothing).
// - ENABLE_PROCESSED_INPUT is always on: signals stay on, so Ctrl-C still
//   interrupts the program.
// - A run in a background job of its terminal cannot set the terminal's
//   modes (SetConsoleMode fails), and its reads there fail at once: it is
//   never stopped and never waits for a key.
// - ReadConsoleA reads one byte per call, however many are asked for.
// - Text written to a console or to a standard handle ends its lines in LF,
//   as Linux programs do; each CR LF of the program's texts becomes one LF
//   (WriteText).
// - A standard descriptor that is closed at start, or whose handle is
//   closed, is held by a descriptor that leads nowhere, and its handle is
//   absent (null), as Windows gives no handle in its place.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <iterator>
#include <mutex>
#include <string>
#include <vector>

#include "winapi/linux/api.h"
#include "winapi/linux/handles.h"
#include "winapi/linux/last_error.h"
#include "winapi/linux/syscalls.h"
#include "winapi/linux/terminal.h"
#include "winapi/scoped_handle.h"

namespace {

// One saved terminal mode. The signal handlers read these while other
// threads fill them, so a slot is published by storing its fd last.
constexpr int kFree = -1;
constexpr int kFilling = -2;
struct SavedMode {
  std::atomic<int> fd{kFree};
  std::atomic<unsigned> order{0};
  struct termios mode {};
};
SavedMode savedModes[8];
std::atomic<unsigned> savesMade{0};

constexpr int kGuardedSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

void RestoreAndResignal(int signal) {
  RestoreTerminalModes();
  // SA_RESETHAND has put the default action back and SA_NODEFER lets it act
  // at once: the process ends as it would have without us.
  raise(signal);
}

void InstallRestoreHooks() {
  atexit(RestoreTerminalModes);
  for (int signal : kGuardedSignals) {
    struct sigaction previous {};
    // A program that ignores or handles the signal itself keeps it: only
    // the default action would end the process with the mode unrestored.
    if (sigaction(signal, nullptr, &previous) != 0 || previous.sa_handler != SIG_DFL) continue;
    struct sigaction action {};
    action.sa_handler = RestoreAndResignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESETHAND | SA_NODEFER;
    sigaction(signal, &action, nullptr);
  }
}

bool GetModes(int fd, struct termios* modes) {
  if (sys.tcgetattr(fd, modes) == 0) return true;
  SetLastErrorFromErrno(errno);
  return false;
}

bool SetModes(int fd, const struct termios& modes) {
  // TCSANOW, not TCSAFLUSH: a key typed ahead must survive the change.
  if (RetryOnInterrupt([&] { return sys.tcsetattr(fd, TCSANOW, &modes); }) == 0) return true;
  SetLastErrorFromErrno(errno);
  return false;
}

bool IsTerminal(int fd) {
  struct termios modes;
  return sys.tcgetattr(fd, &modes) == 0;
}

// The first change to a console's mode guards the mode it had before; later
// changes keep that first one as the mode to go back to.
bool GuardConsoleMode(int fd) {
  static std::mutex mutex;
  static std::vector<int> guarded;
  std::lock_guard<std::mutex> lock(mutex);
  for (int known : guarded)
    if (known == fd) return true;
  if (SaveTerminalMode(fd) < 0) return false;
  guarded.push_back(fd);
  return true;
}

// The terminal behind a console handle, or null with ERROR_INVALID_HANDLE:
// a redirected handle is no console.
FileHandle* ConsoleFrom(HANDLE console) {
  FileHandle* file = FileHandleFrom(console);
  if (file && !IsTerminal(file->fd)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return file;
}

bool IsInputConsole(const FileHandle& console) {
  if (console.fd == STDIN_FILENO) return true;
  const int flags = sys.fcntl(console.fd, F_GETFL, 0);
  return flags >= 0 && (flags & O_ACCMODE) == O_RDONLY;
}

// Puts a descriptor that leads nowhere at `fd`, so that no file opened later
// gets that number: /dev/null, or an eventfd where /dev/null cannot be
// opened. Neither is inherited, so a child finds the descriptor closed.
bool HoldDescriptor(int fd) {
  ScopedFile holder(sys.open("/dev/null", O_RDWR | O_CLOEXEC, 0));
  if (!holder) holder.Reset(sys.eventfd(0, EFD_CLOEXEC));
  if (!holder) {
    SetLastErrorFromErrno(errno);
    return false;
  }
  if (holder.Get() == fd) {
    holder.Release();  // it is the held descriptor itself
    return true;
  }
  const bool held = sys.dup3(holder.Get(), fd, O_CLOEXEC) == fd;
  if (!held) SetLastErrorFromErrno(errno);
  return held;
}

std::atomic<bool> standardAbsent[3];

struct StandardHandle : FileHandle {
  // The descriptor stays taken: a file opened later would otherwise receive
  // everything printed.
  bool Close() override {
    if (fd < 0) return true;
    const int closed = fd;
    fd = -1;
    standardAbsent[closed] = true;
    return HoldDescriptor(closed);
  }
  bool IsStatic() const override { return true; }
};

void SetFlag(tcflag_t* flags, tcflag_t flag, bool on) {
  if (on)
    *flags |= flag;
  else
    *flags &= ~flag;
}

}  // namespace

int SaveTerminalMode(int fd) {
  static std::once_flag hooksInstalled;
  struct termios mode;
  if (!GetModes(fd, &mode)) return -1;
  std::call_once(hooksInstalled, InstallRestoreHooks);
  for (int token = 0; token < static_cast<int>(std::size(savedModes)); ++token) {
    SavedMode& slot = savedModes[token];
    int expected = kFree;
    if (!slot.fd.compare_exchange_strong(expected, kFilling)) continue;
    slot.mode = mode;
    slot.order.store(++savesMade);
    slot.fd.store(fd, std::memory_order_release);
    return token;
  }
  SetLastError(ERROR_TOO_MANY_OPEN_FILES);
  return -1;
}

void RestoreTerminalMode(int token) {
  if (token < 0 || token >= static_cast<int>(std::size(savedModes))) return;
  SavedMode& slot = savedModes[token];
  int fd = slot.fd.load(std::memory_order_acquire);
  if (fd < 0) return;
  SetModes(fd, slot.mode);
  slot.fd.store(kFree);
}

void RestoreTerminalModes() {
  int savedErrno = errno;
  // Latest first, without sorting: only async-signal-safe work here.
  unsigned below = ~0u;
  for (;;) {
    int latest = -1;
    unsigned latestOrder = 0;
    for (int token = 0; token < static_cast<int>(std::size(savedModes)); ++token) {
      if (savedModes[token].fd.load(std::memory_order_acquire) < 0) continue;
      unsigned order = savedModes[token].order.load();
      if (order < below && order >= latestOrder) {
        latest = token;
        latestOrder = order;
      }
    }
    if (latest < 0) break;
    SavedMode& slot = savedModes[latest];
    int fd = slot.fd.load(std::memory_order_acquire);
    if (fd >= 0) RetryOnInterrupt([&] { return sys.tcsetattr(fd, TCSANOW, &slot.mode); });
    below = latestOrder;
  }
  errno = savedErrno;
}

bool WriteAll(int fd, const void* data, size_t size, size_t* written) {
  const char* bytes = static_cast<const char*>(data);
  size_t done = 0;
  bool ok = true;
  while (done < size) {
    const ssize_t result =
        RetryOnInterrupt([&] { return sys.write(fd, bytes + done, size - done); });
    if (result < 0) {
      SetLastErrorFromErrno(errno);
      ok = false;
      break;
    }
    done += static_cast<size_t>(result);
  }
  if (written) *written = done;
  return ok;
}

bool InBackground(int fd) {
  const pid_t foreground = sys.tcgetpgrp(fd);
  return foreground > 0 && foreground != getpgrp();
}

bool WriteText(int fd, const char* text, size_t size, size_t* consumed) {
  std::string lines;
  lines.reserve(size);
  for (size_t i = 0; i < size; ++i)
    if (text[i] != '\r' || i + 1 == size || text[i + 1] != '\n') lines += text[i];
  size_t done = 0;
  const bool ok = WriteAll(fd, lines.data(), lines.size(), &done);
  if (consumed) {
    // Back from the bytes written to the bytes of `text` they stand for.
    size_t in = 0;
    for (size_t out = 0; out < done; ++in)
      if (text[in] != '\r' || in + 1 == size || text[in + 1] != '\n') ++out;
    if (ok) in = size;
    *consumed = in;
  }
  return ok;
}

HANDLE WINAPI GetStdHandle(DWORD which) {
  int fd;
  switch (which) {
    case STD_INPUT_HANDLE:
      fd = STDIN_FILENO;
      break;
    case STD_OUTPUT_HANDLE:
      fd = STDOUT_FILENO;
      break;
    case STD_ERROR_HANDLE:
      fd = STDERR_FILENO;
      break;
    default:
      SetLastError(ERROR_INVALID_HANDLE);
      return INVALID_HANDLE_VALUE;
  }
  // Never destroyed: exit-time code may still print through them.
  static StandardHandle* const handles = [] {
    auto* standard = new StandardHandle[3];
    for (int i = 0; i < 3; ++i) standard[i].fd = i;
    return standard;
  }();
  // As Windows: no such handle, no error.
  struct stat st;
  if (standardAbsent[fd] || sys.fstat(fd, &st) != 0) return nullptr;
  return &handles[fd];
}

void ReserveStandardHandles() {
  // One call for the three: a closed descriptor answers POLLNVAL at once.
  struct pollfd standard[3] = {{0, 0, 0}, {1, 0, 0}, {2, 0, 0}};
  if (RetryOnInterrupt([&] { return sys.poll(standard, 3, 0); }) < 0) return;
  for (const struct pollfd& descriptor : standard) {
    if (!(descriptor.revents & POLLNVAL)) continue;
    standardAbsent[descriptor.fd] = true;
    HoldDescriptor(descriptor.fd);
  }
}

BOOL WINAPI GetConsoleMode(HANDLE console, LPDWORD mode) {
  FileHandle* file = ConsoleFrom(console);
  if (!file) return FALSE;
  if (!mode) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (!IsInputConsole(*file)) {
    *mode = ENABLE_PROCESSED_OUTPUT | ENABLE_WRAP_AT_EOL_OUTPUT;
    return TRUE;
  }
  struct termios modes;
  if (!GetModes(file->fd, &modes)) return FALSE;
  *mode = ENABLE_PROCESSED_INPUT;
  if (modes.c_lflag & ICANON) *mode |= ENABLE_LINE_INPUT;
  if (modes.c_lflag & ECHO) *mode |= ENABLE_ECHO_INPUT;
  return TRUE;
}

BOOL WINAPI SetConsoleMode(HANDLE console, DWORD mode) {
  FileHandle* file = ConsoleFrom(console);
  if (!file) return FALSE;
  if (!IsInputConsole(*file)) return TRUE;
  const bool lineInput = mode & ENABLE_LINE_INPUT;
  const bool echo = mode & ENABLE_ECHO_INPUT;
  if (echo && !lineInput) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (InBackground(file->fd)) {
    SetLastErrorFromErrno(EIO);  // what a read from the background gets
    return FALSE;
  }
  struct termios modes;
  if (!GetModes(file->fd, &modes)) return FALSE;
  struct termios wanted = modes;
  SetFlag(&wanted.c_lflag, ICANON, lineInput);
  SetFlag(&wanted.c_lflag, ECHO, echo);
  if (!lineInput) {
    // Without line input a read returns as soon as one key is there.
    wanted.c_cc[VMIN] = 1;
    wanted.c_cc[VTIME] = 0;
  }
  if (wanted.c_lflag == modes.c_lflag && wanted.c_cc[VMIN] == modes.c_cc[VMIN] &&
      wanted.c_cc[VTIME] == modes.c_cc[VTIME])
    return TRUE;
  if (!GuardConsoleMode(file->fd)) return FALSE;
  return SetModes(file->fd, wanted) ? TRUE : FALSE;
}

BOOL WINAPI ReadConsoleA(HANDLE console, LPVOID buffer, DWORD toRead, LPDWORD read, LPVOID) {
  FileHandle* file = ConsoleFrom(console);
  if (!file) return FALSE;
  if (read) *read = 0;
  if (toRead == 0) return TRUE;
  const ssize_t result = RetryOnInterrupt([&] { return sys.read(file->fd, buffer, 1); });
  if (result < 0) {
    SetLastErrorFromErrno(errno);
    return FALSE;
  }
  if (read) *read = static_cast<DWORD>(result);  // 0: end of input
  return TRUE;
}

BOOL WINAPI WriteConsoleA(HANDLE console, const void* buffer, DWORD toWrite, LPDWORD written,
                          LPVOID) {
  FileHandle* file = ConsoleFrom(console);
  if (written) *written = 0;
  if (!file) return FALSE;
  size_t done = 0;
  bool ok = WriteText(file->fd, static_cast<const char*>(buffer), toWrite, &done);
  if (written) *written = static_cast<DWORD>(done);
  return ok ? TRUE : FALSE;
}

BOOL WINAPI SetConsoleTitleA(LPCSTR title) {
  if (!IsTerminal(STDOUT_FILENO)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  std::string escape = "\x1b]0;";
  // A control character inside would end the escape early or garble it.
  for (const char* p = title ? title : ""; *p; ++p) {
    unsigned char c = static_cast<unsigned char>(*p);
    if (c >= 0x20 && c != 0x7f) escape += *p;
  }
  escape += '\a';
  return WriteAll(STDOUT_FILENO, escape.data(), escape.size()) ? TRUE : FALSE;
}
