// The process and its modules on Linux: the command line, module handles and
// names, memory regions and guarded reads of our own memory.
//
// Where Linux differs:
// - Linux hands argv over already split; GetCommandLineA rebuilds one line
//   that the program's tokenizer reads back to the same items
//   (command_line.h). An argument that holds a double quote cannot be put on
//   that line: a stand-in item takes its place, and UncarriedArgument names
//   the argument behind it.
// - A module is the executable or a shared object; its handle is its load
//   address (dladdr's dli_fbase). Memory outside every module is described
//   from /proc/self/maps as private memory.
// - ReadProcessMemory reads only the current process.
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <link.h>
#include <stdlib.h>
#include <string.h>
#include <sys/auxv.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <vector>

#include "res/switch_words.h"
#include "winapi/linux/api.h"
#include "winapi/linux/command_line.h"
#include "winapi/linux/syscalls.h"
#include "winapi/portable.h"
#include "winapi/scoped_handle.h"

namespace {

// --- The command line -------------------------------------------------------

std::string& CapturedLine() {
  static std::string line;
  return line;
}

std::vector<std::string>& UncarriedArguments() {
  static std::vector<std::string> arguments;
  return arguments;
}

// glibc passes the program's arguments to .init_array functions, so the layer
// has them without main's help. Only the list of pointers is copied then
// (later code, a test framework say, may rearrange argv in place); the line
// is built on first need, where running out of memory is reported like any
// other failure. Should that list be missing, the line is read from /proc.
struct CapturedArguments {
  int count = 0;
  char** values = nullptr;
} capturedArguments;

void CaptureArguments(int argc, char** argv, char**) {
  if (!argv || argc <= 0) return;
  auto** copy = static_cast<char**>(malloc(sizeof(char*) * static_cast<size_t>(argc)));
  if (!copy) return;
  memcpy(copy, argv, sizeof(char*) * static_cast<size_t>(argc));
  capturedArguments = {argc, copy};
}
[[gnu::used, gnu::section(".init_array")]] void (*captureArguments)(int, char**,
                                                                    char**) = CaptureArguments;

bool IsSwitchWord(const std::string& name) {
  for (const SwitchWord& word : kSwitchWords) {
    if (name.size() != strlen(word.name)) continue;
    bool same = true;
    for (size_t i = 0; i < name.size() && same; ++i) {
      char c = name[i];
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
      same = c == word.name[i];
    }
    if (same) return true;
  }
  return false;
}

// Whether an element that begins with "/" is a switch group: when it names
// only switches of the tool, as the tokenizer splits it (names run up to the
// next "/", "-" or ":"; an empty name is skipped), or when no further "/"
// comes before its value, so that a mistyped switch (/nolgo) is reported and
// never made a file at the root. Anything else (/usr/include/x.h) is a path.
bool IsSlashSwitchGroup(const std::string& element) {
  std::string names = element.substr(0, element.find(':'));
  if (names.find('/', 1) == std::string::npos) return true;
  size_t start = 1;
  while (true) {
    size_t end = names.find_first_of("/-", start);
    std::string name = names.substr(start, end - start);
    if (!name.empty() && !IsSwitchWord(name)) return false;
    if (end == std::string::npos) return true;
    start = end + 1;
  }
}

void AppendQuoted(std::string& line, const std::string& text) {
  line += '"';
  line += text;
  line += '"';
}

bool IsPrefix(char c) { return c == '/' || c == '-'; }

// Writes argv out as one Windows line, element by element. Across elements
// the tokenizer reads the line as a Windows console reads the same words
// typed with blanks between them: a prefix at the end of a word takes its
// name from the next word, a switch name takes a value from a following
// ":", and an empty value from the next word. `state_` is where the
// tokenizer stands after the line so far; `pending_` holds trailing
// prefixes, written only once the next word shows that it names a switch.
class LineBuilder {
 public:
  static constexpr const char* kBlanks = " \t\r\n";  // the tokenizer's whitespace

  LineBuilder(std::string& line, std::vector<std::string>* uncarried)
      : line_(line), uncarried_(uncarried) {}

  void Append(const std::string& element) {
    const bool group = !element.empty() &&
                       (element[0] == '-' || (element[0] == '/' && IsSlashSwitchGroup(element)));
    const size_t blank = element.substr(0, element.find(':')).find_first_of(kBlanks);
    if (group && blank != std::string::npos && element.find('"') == std::string::npos) {
      // Blanks among a group's names split it into words, as on a console,
      // where "-b :x" is the switch b with the value x.
      Append(element.substr(0, blank));
      const size_t next = element.find_first_not_of(kBlanks, blank);
      if (next != std::string::npos) Append(element.substr(next));
    } else if (element.find('"') != std::string::npos) {
      AppendUncarried(element);
    } else if (!element.empty() && element[0] == ':') {
      AppendColonWord(element);
    } else if (group) {
      AppendSwitchGroup(element);
    } else if (!pending_.empty() && !element.empty() &&
               element.find_first_of(kBlanks) == std::string::npos) {
      AppendSwitchGroup(element);  // the names (and value) of the prefix before it
    } else {
      // A positional word, a path or the empty word: quoted, it keeps its
      // "/", "-", ":" and blanks. After a prefix it is the switch's name.
      const bool named = !pending_.empty();
      Flush();
      line_ += ' ';
      AppendQuoted(line_, element);
      state_ = named && !element.empty() ? kAfterName : kNewItem;
    }
  }

 private:
  enum State {
    kNewItem,    // the next word starts an item
    kAfterName,  // a switch name was read: a ":" next starts its value
    kAfterColon  // a ":" was read: the next word, if no switch, is the value
  };

  void Flush() {
    line_ += pending_;
    pending_.clear();
  }

  // Leaves out the trailing prefixes before a word that names no switch (one
  // that starts with ":", a stand-in), as Windows skips a prefix before a
  // colon; an empty value before them ends there.
  void Drop() {
    pending_.clear();
    if (state_ == kAfterColon) line_ += " \"\"";  // the empty value ends here
    state_ = kNewItem;
  }

  void AppendColonWord(const std::string& element) {
    if (!pending_.empty()) Drop();
    if (state_ == kAfterName) {
      // The switch's value: "/b :out.bat", or "/b : out.bat" with the next word.
      line_ += " :";
      if (element.size() > 1) AppendQuoted(line_, element.substr(1));
      state_ = element.size() > 1 ? kNewItem : kAfterColon;
      return;
    }
    line_ += ' ';
    AppendQuoted(line_, element);
    state_ = kNewItem;
  }

  // A group's names are written as given; its value, after the first ":",
  // in double quotes, so that it keeps "/", "-" and blanks. A ":" right
  // after a prefix ends no name: Windows reads a word from there on.
  void AppendSwitchGroup(const std::string& element) {
    const size_t colon = element.find(':');
    if (colon != std::string::npos && IsPrefix(element[colon - 1])) {
      AppendSwitchGroup(element.substr(0, colon));
      AppendColonWord(element.substr(colon));
      return;
    }
    if (colon != std::string::npos) {
      Flush();
      line_ += ' ';
      line_.append(element, 0, colon + 1);
      if (colon + 1 < element.size()) AppendQuoted(line_, element.substr(colon + 1));
      state_ = colon + 1 < element.size() ? kNewItem : kAfterColon;
      return;
    }
    const size_t names = element.find_last_not_of("/-") + 1;
    if (names == 0) {
      pending_ += ' ' + element;
      return;
    }
    Flush();
    line_ += ' ';
    line_.append(element, 0, names);
    pending_ = element.substr(names);
    state_ = kAfterName;
  }

  // An element that holds a double quote, which the line cannot carry,
  // stands in it as the item "N\"" (N its number in `uncarried`), a switch
  // where the element is one: reported in its place, or never after "?".
  void AppendUncarried(const std::string& element) {
    Drop();
    const size_t number = uncarried_ ? uncarried_->size() : 0;
    if (uncarried_) uncarried_->push_back(element);
    line_ += ' ';
    if (element[0] == '-' || (element[0] == '/' && IsSlashSwitchGroup(element))) line_ += '-';
    line_ += std::to_string(number) + '"';
  }

  std::string& line_;
  std::vector<std::string>* uncarried_;
  State state_ = kNewItem;
  std::string pending_;
};

// The whole of a file of /proc (whose size stat does not tell); false with
// errno set on failure.
bool ReadWholeFile(const char* path, std::string& text) {
  ScopedFile file(RetryOnInterrupt([&] { return sys.open(path, O_RDONLY | O_CLOEXEC, 0); }));
  if (!file) return false;
  text.clear();
  char chunk[4096];
  while (true) {
    const ssize_t n = RetryOnInterrupt([&] { return sys.read(file.Get(), chunk, sizeof chunk); });
    if (n < 0) return false;
    if (n == 0) return true;
    text.append(chunk, static_cast<size_t>(n));
  }
}

// For a process whose start-up did not pass argv to .init_array.
std::string CommandLineFromProc() {
  std::string raw;
  if (!ReadWholeFile("/proc/self/cmdline", raw)) return "\"\"";
  std::vector<std::string> elements;
  for (size_t start = 0; start < raw.size();) {
    size_t end = raw.find('\0', start);
    if (end == std::string::npos) end = raw.size();
    elements.push_back(raw.substr(start, end - start));
    start = end + 1;
  }
  std::vector<const char*> argv;
  for (const std::string& element : elements) argv.push_back(element.c_str());
  return BuildCommandLine(static_cast<int>(argv.size()), argv.data(), &UncarriedArguments());
}

// --- Modules ----------------------------------------------------------------

size_t PageSize() {
  static const size_t size = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  return size;
}

uintptr_t PageOf(uintptr_t address) { return address & ~(PageSize() - 1); }

// The executable's load address: its program headers lie in its first
// mapping, wherever the executable itself was loaded.
HMODULE ExecutableBase() {
  static const HMODULE base = [] {
    Dl_info info;
    const void* headers = reinterpret_cast<const void*>(getauxval(AT_PHDR));
    if (headers && dladdr(headers, &info) && info.dli_fbase)
      return static_cast<HMODULE>(info.dli_fbase);
    return static_cast<HMODULE>(nullptr);
  }();
  return base;
}

struct ModuleSearch {
  uintptr_t base = 0;
  std::string path;
  bool found = false;
};

// dladdr's dli_fbase for an object: the page of its lowest loaded segment.
int MatchModuleBase(struct dl_phdr_info* info, size_t, void* data) {
  auto* search = static_cast<ModuleSearch*>(data);
  uintptr_t lowest = UINTPTR_MAX;
  for (int i = 0; i < info->dlpi_phnum; ++i)
    if (info->dlpi_phdr[i].p_type == PT_LOAD)
      lowest = std::min<uintptr_t>(lowest, info->dlpi_phdr[i].p_vaddr);
  if (lowest == UINTPTR_MAX || PageOf(info->dlpi_addr + lowest) != search->base) return 0;
  if (!info->dlpi_name || !info->dlpi_name[0]) return 0;  // the executable: not by this name
  search->path = info->dlpi_name;
  search->found = true;
  return 1;
}

bool ModulePath(HMODULE module, std::string& path) {
  if (!module || module == ExecutableBase()) {
    char buffer[4096];
    ssize_t n = sys.readlink("/proc/self/exe", buffer, sizeof buffer);
    if (n <= 0 || static_cast<size_t>(n) >= sizeof buffer) return false;
    path.assign(buffer, static_cast<size_t>(n));
    return true;
  }
  ModuleSearch search;
  search.base = reinterpret_cast<uintptr_t>(module);
  dl_iterate_phdr(MatchModuleBase, &search);
  if (search.found) path = search.path;
  return search.found;
}

// --- Memory regions ---------------------------------------------------------

struct Mapping {
  uintptr_t start = 0;
  uintptr_t end = 0;
  DWORD protect = PAGE_NOACCESS;
};

DWORD ProtectFromPermissions(const char* permissions) {
  bool read = permissions[0] == 'r', write = permissions[1] == 'w', execute = permissions[2] == 'x';
  if (execute) return write ? PAGE_EXECUTE_READWRITE : read ? PAGE_EXECUTE_READ : PAGE_EXECUTE;
  if (write) return PAGE_READWRITE;
  return read ? PAGE_READONLY : PAGE_NOACCESS;
}

// The mapping that holds `address`, or the start of the next mapping above it
// in `nextStart` (0 when there is none). False when /proc/self/maps cannot be
// read or no mapping holds the address.
bool FindMapping(uintptr_t address, Mapping& mapping, uintptr_t& nextStart) {
  nextStart = 0;
  std::string maps;
  if (!ReadWholeFile("/proc/self/maps", maps)) return false;
  for (size_t line = 0; line < maps.size();) {
    size_t lineEnd = maps.find('\n', line);
    if (lineEnd == std::string::npos) lineEnd = maps.size();
    const char* text = maps.c_str() + line;
    char* rest;
    uintptr_t start = strtoull(text, &rest, 16);
    uintptr_t end = *rest == '-' ? strtoull(rest + 1, &rest, 16) : 0;
    line = lineEnd + 1;
    if (*rest != ' ' || rest + 4 > maps.c_str() + lineEnd) continue;
    if (address >= start && address < end) {
      mapping.start = start;
      mapping.end = end;
      mapping.protect = ProtectFromPermissions(rest + 1);
      return true;
    }
    if (start > address) {
      nextStart = start;  // maps lists mappings in ascending order
      return false;
    }
  }
  return false;
}

// --- Guarded reads ----------------------------------------------------------

// How many bytes may be copied without crossing a page, from `address` on.
size_t PieceAt(uintptr_t address, size_t left) {
  return std::min(left, PageSize() - (address - PageOf(address)));
}

std::atomic<bool> vmReadvRefused{false};

// Copies up to the first unreadable page. Sets `refused` when the system does
// not let a process read itself this way (seccomp filters in containers).
// One element per page: the manual promises partial transfers only at the
// boundaries of elements, so the bytes before a bad page still arrive.
size_t CopyWithVmReadv(char* to, uintptr_t from, size_t size, bool& refused) {
  constexpr int kPiecesPerCall = 64;
  struct iovec remote[kPiecesPerCall];
  size_t done = 0;
  while (done < size) {
    size_t batch = 0;
    int pieces = 0;
    while (pieces < kPiecesPerCall && done + batch < size) {
      uintptr_t address = from + done + batch;
      size_t piece = PieceAt(address, size - done - batch);
      remote[pieces].iov_base = reinterpret_cast<void*>(address);
      remote[pieces].iov_len = piece;
      batch += piece;
      ++pieces;
    }
    struct iovec local = {to + done, batch};
    ssize_t n =
        process_vm_readv(getpid(), &local, 1, remote, static_cast<unsigned long>(pieces), 0);
    if (n < 0) {
      refused = errno == ENOSYS || errno == EPERM;
      return done;
    }
    done += static_cast<size_t>(n);
    if (static_cast<size_t>(n) < batch) return done;
  }
  return done;
}

// write() reports unreadable memory as EFAULT instead of faulting, so a pipe
// of our own is the fallback probe. One per thread, so that no lock is taken
// on the way out of a fault.
struct ProbePipe {
  ScopedFile readEnd, writeEnd;
  bool Ready() {
    if (readEnd) return true;
    int fds[2];
    if (sys.pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) return false;
    readEnd.Reset(fds[0]);
    writeEnd.Reset(fds[1]);
    return true;
  }
  // After a read back that did not drain the pipe: start afresh next time.
  void Discard() {
    readEnd.Reset();
    writeEnd.Reset();
  }
};
thread_local ProbePipe probePipe;

size_t CopyThroughPipe(char* to, uintptr_t from, size_t size) {
  if (!probePipe.Ready()) return 0;
  size_t done = 0;
  while (done < size) {
    uintptr_t address = from + done;
    size_t piece = PieceAt(address, size - done);  // at most a page: the pipe holds it
    ssize_t written =
        sys.write(probePipe.writeEnd.Get(), reinterpret_cast<const void*>(address), piece);
    if (written <= 0) {
      if (written < 0 && errno != EFAULT) probePipe.Discard();
      return done;
    }
    ssize_t readBack = sys.read(probePipe.readEnd.Get(), to + done, static_cast<size_t>(written));
    if (readBack != written) {
      probePipe.Discard();
      return done;
    }
    done += static_cast<size_t>(written);
    if (static_cast<size_t>(written) < piece) return done;
  }
  return done;
}

}  // namespace

std::string BuildCommandLine(int argc, const char* const* argv,
                             std::vector<std::string>* uncarried) {
  // The program's name is read as argument 0 and nothing else, so it just
  // loses its quotes.
  std::string program = argc > 0 && argv[0] ? argv[0] : "";
  program.erase(std::remove(program.begin(), program.end(), '"'), program.end());
  std::string line;
  AppendQuoted(line, program);
  LineBuilder builder(line, uncarried);
  for (int i = 1; i < argc; ++i) builder.Append(argv[i] ? argv[i] : "");
  return line;
}

long UncarriedNumber(const char* item) {
  const char* p = item;
  long number = 0;
  while (*p >= '0' && *p <= '9' && number < 100000000) number = number * 10 + (*p++ - '0');
  return p != item && p[0] == '"' && p[1] == '\0' ? number : -1;
}

const char* UncarriedArgument(const char* item) {
  const std::vector<std::string>& arguments = UncarriedArguments();
  const long number = UncarriedNumber(item);
  return number >= 0 && static_cast<size_t>(number) < arguments.size()
             ? arguments[static_cast<size_t>(number)].c_str()
             : nullptr;
}

size_t CommandLineTailOffset(const char* line) {
  const char* p = line;
  if (*p == '"') {
    while (*++p && *p != '"') {
    }
    if (*p == '"') ++p;
  } else {
    while (static_cast<unsigned char>(*p) > ' ') ++p;
  }
  while (*p && static_cast<unsigned char>(*p) <= ' ') ++p;
  return static_cast<size_t>(p - line);
}

LPSTR WINAPI GetCommandLineA() {
  std::string& line = CapturedLine();
  if (line.empty()) {
    UncarriedArguments().clear();
    line = capturedArguments.values
               ? BuildCommandLine(capturedArguments.count, capturedArguments.values,
                                  &UncarriedArguments())
               : CommandLineFromProc();
  }
  return line.data();
}

HMODULE WINAPI GetModuleHandleA(LPCSTR moduleName) {
  if (moduleName) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  return ExecutableBase();
}

DWORD WINAPI GetModuleFileNameA(HMODULE module, LPSTR fileName, DWORD size) {
  std::string path;
  if (!ModulePath(module, path)) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return 0;
  }
  if (size == 0 || !fileName) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  if (path.size() >= size) {
    memcpy(fileName, path.data(), size - 1);
    fileName[size - 1] = '\0';
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return size;
  }
  memcpy(fileName, path.c_str(), path.size() + 1);
  return static_cast<DWORD>(path.size());
}

SIZE_T WINAPI VirtualQuery(LPCVOID address, PMEMORY_BASIC_INFORMATION info, SIZE_T length) {
  if (!info || length < sizeof(MEMORY_BASIC_INFORMATION)) {
    SetLastError(ERROR_BAD_LENGTH);
    return 0;
  }
  const uintptr_t where = reinterpret_cast<uintptr_t>(address);
  const uintptr_t page = PageOf(where);
  *info = MEMORY_BASIC_INFORMATION{};
  info->BaseAddress = reinterpret_cast<LPVOID>(page);
  Mapping mapping;
  uintptr_t nextStart;
  bool mapped = FindMapping(where, mapping, nextStart);
  Dl_info module;
  if (dladdr(address, &module) && module.dli_fbase) {
    info->AllocationBase = module.dli_fbase;
    info->Type = MEM_IMAGE;
  } else if (mapped) {
    info->AllocationBase = reinterpret_cast<LPVOID>(mapping.start);
    info->Type = MEM_PRIVATE;
  } else {
    // Free up to the next mapping; AllocationBase stays null.
    info->State = MEM_FREE;
    info->Protect = PAGE_NOACCESS;
    info->RegionSize = (nextStart ? nextStart : PageOf(UINTPTR_MAX)) - page;
    return sizeof(MEMORY_BASIC_INFORMATION);
  }
  info->State = MEM_COMMIT;
  if (mapped) {
    info->Protect = mapping.protect;
    info->RegionSize = mapping.end - page;
  } else {
    info->Protect = PAGE_READONLY;  // a module dladdr knows but maps does not show
    info->RegionSize = PageSize();
  }
  info->AllocationProtect = info->Protect;
  return sizeof(MEMORY_BASIC_INFORMATION);
}

BOOL WINAPI ReadProcessMemory(HANDLE process, LPCVOID address, LPVOID buffer, SIZE_T size,
                              SIZE_T* read) {
  if (read) *read = 0;
  if (process != reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-1))) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  char* to = static_cast<char*>(buffer);
  const uintptr_t from = reinterpret_cast<uintptr_t>(address);
  size_t done = 0;
  bool refused = false;
  if (!vmReadvRefused.load(std::memory_order_relaxed)) {
    done = CopyWithVmReadv(to, from, size, refused);
    if (refused) vmReadvRefused.store(true, std::memory_order_relaxed);
  }
  if (refused || vmReadvRefused.load(std::memory_order_relaxed))
    done += CopyThroughPipe(to + done, from + done, size - done);
  if (read) *read = done;
  if (done < size) {
    SetLastError(ERROR_PARTIAL_COPY);
    return FALSE;
  }
  return TRUE;
}
