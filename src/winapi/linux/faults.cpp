// Processor faults on Linux: the primitives of the fault layer (its steps
// are in winapi/faults.cpp). Signal handlers turn a fault of the translating
// thread into a call of its fault translator.
//
// Where Linux differs:
// - Faults arrive as signals: SIGSEGV, SIGBUS, SIGFPE, SIGILL and SIGTRAP,
//   mapped to the Win32 exception codes and parameters. A SIGSEGV on the
//   guard gap below the main stack is a stack overflow.
// - The handler runs on an alternate signal stack and throws nothing itself:
//   it rewrites the interrupted context so that the signal returns into the
//   trampoline on the throw stack. The signal returns normally, so the mask
//   and the alternate stack are as before the fault.
// - A stack overflow leaves the cleanups of the frames it unwinds no room, so
//   the stack's soft limit keeps a reserve that the overflow releases.
// - Signals that another process sent, faults of other threads and faults
//   while a fault is being thrown take the default action (a core dump).
// - The stack limit is read and set at installation through the layer's
//   system-call table, so that tests can fail it. The handler's own calls,
//   signals, the alternate stack and the stacks' memory stay out of it (see
//   syscalls.h): the handler may have stopped the thread inside the table's
//   test wrappers, which allocate.
#include "winapi/faults.h"

#include <errno.h>
#include <pthread.h>
#include <signal.h>
#include <string.h>
#include <sys/auxv.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <ucontext.h>
#include <unistd.h>

#include "winapi/linux/syscalls.h"

#if defined(__x86_64__)
#define TW_PC REG_RIP
#define TW_SP REG_RSP
#define TW_FP REG_RBP
#elif defined(__i386__)
#define TW_PC REG_EIP
#define TW_SP REG_ESP
#define TW_FP REG_EBP
#else
#error "Processor faults: name this processor's registers."
#endif

namespace {

constexpr int kFaultSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP};
constexpr size_t kSignalCount = sizeof kFaultSignals / sizeof kFaultSignals[0];
// The handler only fills a record.
constexpr size_t kAltStackSize = 64 * 1024;
// What the cleanups of an overflowed stack get, and how far below the
// stack's lowest address a fault still counts as an overflow (the kernel's
// stack guard gap).
constexpr rlim_t kOverflowReserve = 256 * 1024;
constexpr uintptr_t kStackGuardGap = 1024 * 1024;
// The x86 page-fault error code: bit 1 a write, bit 4 an instruction fetch.
constexpr int kPageFaultTrap = 14;
constexpr greg_t kWriteAccess = 2, kFetchAccess = 16;

struct sigaction previousActions[kSignalCount];
uintptr_t stackLowest = 0;  // the lowest address the translating thread's stack may reach

// Hands the signal to the default action: it is blocked while the handler
// runs and arrives as soon as the handler returns, before the faulting
// instruction could run again.
void PassOn(int signal) {
  struct sigaction action = {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  sigaction(signal, &action, nullptr);
  syscall(SYS_tgkill, getpid(), static_cast<pid_t>(GetCurrentThreadId()), signal);
}

// 0 read, 1 write, 8 execute, as Windows reports an access violation; the
// kind is known only from a page fault.
ULONG_PTR AccessKind(const greg_t* registers) {
  if (registers[REG_TRAPNO] != kPageFaultTrap) return 0;
  if (registers[REG_ERR] & kFetchAccess) return 8;
  return (registers[REG_ERR] & kWriteAccess) ? 1 : 0;
}

DWORD FloatingPointCode(int code) {
  switch (code) {
    case FPE_INTDIV:
      return EXCEPTION_INT_DIVIDE_BY_ZERO;
    case FPE_INTOVF:
      return EXCEPTION_INT_OVERFLOW;
    case FPE_FLTDIV:
      return EXCEPTION_FLT_DIVIDE_BY_ZERO;
    case FPE_FLTOVF:
      return EXCEPTION_FLT_OVERFLOW;
    case FPE_FLTUND:
      return EXCEPTION_FLT_UNDERFLOW;
    case FPE_FLTRES:
      return EXCEPTION_FLT_INEXACT_RESULT;
    default:
      return EXCEPTION_FLT_INVALID_OPERATION;
  }
}

bool IsStackOverflow(uintptr_t address) {
  const uintptr_t lowest = stackLowest;
  return lowest && address < lowest + PageSize() && address + kStackGuardGap >= lowest;
}

// Gives the cleanups of the overflowed stack the reserve that the
// installation kept.
void ReleaseStackReserve() {
  struct rlimit limit;
  if (getrlimit(RLIMIT_STACK, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return;
  limit.rlim_cur =
      limit.rlim_max == RLIM_INFINITY || limit.rlim_max - limit.rlim_cur > kOverflowReserve
          ? limit.rlim_cur + kOverflowReserve
          : limit.rlim_max;
  setrlimit(RLIMIT_STACK, &limit);
}

void FillRecord(int signal, const siginfo_t* info, const greg_t* registers,
                EXCEPTION_RECORD& record) {
  record = EXCEPTION_RECORD{};
  record.ExceptionAddress = reinterpret_cast<LPVOID>(registers[TW_PC]);
  const auto address = reinterpret_cast<ULONG_PTR>(info->si_addr);
  switch (signal) {
    case SIGSEGV:
    case SIGBUS:
      if (signal == SIGBUS) {
        record.ExceptionCode = EXCEPTION_IN_PAGE_ERROR;
      } else if (IsStackOverflow(address)) {
        record.ExceptionCode = EXCEPTION_STACK_OVERFLOW;
        ReleaseStackReserve();
      } else {
        record.ExceptionCode = EXCEPTION_ACCESS_VIOLATION;
      }
      record.NumberParameters = 2;
      record.ExceptionInformation[0] = AccessKind(registers);
      record.ExceptionInformation[1] = address;
      break;
    case SIGFPE:
      record.ExceptionCode = FloatingPointCode(info->si_code);
      break;
    case SIGILL:
      record.ExceptionCode = EXCEPTION_ILLEGAL_INSTRUCTION;
      break;
    default: {
      record.ExceptionCode = EXCEPTION_BREAKPOINT;
      // The processor reports a breakpoint after it; Windows names the
      // breakpoint instruction (int3) itself.
      const auto pc = static_cast<uintptr_t>(registers[TW_PC]);
      if (info->si_code == SI_KERNEL && *reinterpret_cast<const unsigned char*>(pc - 1) == 0xCC)
        record.ExceptionAddress = reinterpret_cast<LPVOID>(pc - 1);
      break;
    }
  }
}

void OnFault(int signal, siginfo_t* info, void* context) {
  const int savedErrno = errno;
  greg_t* registers = static_cast<ucontext_t*>(context)->uc_mcontext.gregs;
  const auto sp = static_cast<uintptr_t>(registers[TW_SP]);
  // si_code <= 0: sent by kill() or a queue, not raised by an instruction.
  if (info->si_code <= 0 || !faultLayer.Translates(sp)) {
    PassOn(signal);
    errno = savedErrno;
    return;
  }
  EXCEPTION_RECORD record;
  FillRecord(signal, info, registers, record);
  faultLayer.Pend(record, reinterpret_cast<const void*>(registers[TW_FP]));

  // A call through a bad pointer faults where no function is: unwinding
  // starts in the caller, inside its call instruction.
  auto unwindFrom = reinterpret_cast<uintptr_t>(record.ExceptionAddress);
  uintptr_t unwindSp = sp;
  if (signal == SIGSEGV && AccessKind(registers) == 8 &&
      unwindFrom == reinterpret_cast<uintptr_t>(info->si_addr)) {
    unwindFrom = *reinterpret_cast<const uintptr_t*>(sp) - 1;
    unwindSp = sp + sizeof(uintptr_t);
  }
  registers[TW_SP] = static_cast<greg_t>(faultLayer.TrampolineStack(unwindFrom, unwindSp));
  registers[TW_PC] = reinterpret_cast<greg_t>(&FaultTrampoline);
  errno = savedErrno;
}

// Once per process, the stack's soft limit is set to keep kOverflowReserve
// below the hard one, for ReleaseStackReserve; then the lowest address the
// calling thread's stack may reach is noted.
void PrepareForStackOverflow(bool first) {
  struct rlimit limit;
  const bool limited = sys.getrlimit(RLIMIT_STACK, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY;
  if (first && limited && limit.rlim_max != RLIM_INFINITY &&
      limit.rlim_max - limit.rlim_cur < kOverflowReserve && limit.rlim_max > 2 * kOverflowReserve) {
    struct rlimit reserved = limit;
    reserved.rlim_cur = limit.rlim_max - kOverflowReserve;
    if (sys.setrlimit(RLIMIT_STACK, &reserved) == 0) limit = reserved;
  }
  // The main thread's stack ends just above the program's name, which the
  // kernel put at its top. pthread_getattr_np would parse /proc/self/maps
  // for that, which costs a third of the instructions of a run.
  const auto* name = reinterpret_cast<const char*>(getauxval(AT_EXECFN));
  if (name && limited && GetCurrentThreadId() == static_cast<DWORD>(getpid())) {
    const uintptr_t end = reinterpret_cast<uintptr_t>(name) + strlen(name) + 1 + sizeof(void*);
    const uintptr_t top = (end + PageSize() - 1) & ~(PageSize() - 1);
    stackLowest = top - limit.rlim_cur;
    return;
  }
  pthread_attr_t attributes;
  if (pthread_getattr_np(pthread_self(), &attributes) != 0) return;
  void* lowest;
  size_t size;
  if (pthread_attr_getstack(&attributes, &lowest, &size) == 0)
    stackLowest = reinterpret_cast<uintptr_t>(lowest);
  pthread_attr_destroy(&attributes);
}

}  // namespace

size_t PageSize() { return static_cast<size_t>(sysconf(_SC_PAGESIZE)); }

char* GuardedStack::Map(size_t total) {
  void* p = mmap(nullptr, total, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) return nullptr;
  if (mprotect(p, PageSize(), PROT_NONE) != 0) {
    munmap(p, total);
    return nullptr;
  }
  return static_cast<char*>(p);
}

void GuardedStack::Unmap(char* base, size_t total) { munmap(base, total); }

bool FaultLayer::PrepareThread(bool first) {
  if (!altStack_.Allocate(kAltStackSize)) return false;
  stack_t stack = {};
  stack.ss_sp = altStack_.Low();
  stack.ss_size = altStack_.Size();
  if (sigaltstack(&stack, nullptr) != 0) return false;
  PrepareForStackOverflow(first);
  return true;
}

void FaultLayer::ReleaseThread() {
  stack_t stack = {};
  stack.ss_flags = SS_DISABLE;
  if (sigaltstack(&stack, nullptr) == 0) altStack_.Free();
}

bool FaultLayer::InstallHandlers() {
  struct sigaction action = {};
  action.sa_sigaction = OnFault;
  action.sa_flags = SA_SIGINFO | SA_ONSTACK;
  // A fault inside the handler finds its signal blocked: the kernel then
  // ends the process instead of calling the handler again.
  sigemptyset(&action.sa_mask);
  for (int signal : kFaultSignals) sigaddset(&action.sa_mask, signal);
  for (size_t i = 0; i < kSignalCount; ++i)
    sigaction(kFaultSignals[i], &action, &previousActions[i]);
  return true;
}

void FaultLayer::RemoveHandlers() {
  for (size_t i = 0; i < kSignalCount; ++i)
    sigaction(kFaultSignals[i], &previousActions[i], nullptr);
}
