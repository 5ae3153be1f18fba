// Processor faults on Windows: the primitives of the fault layer (its steps
// are in winapi/faults.cpp). A vectored exception handler turns a fault of
// the translating thread into a call of its fault translator; MinGW's run
// time has no working _set_se_translator. Any other structured exception of
// that thread (one raised in software, say by an in-process server) is
// translated at the last chance, by the unhandled-exception filter: before
// that, a handler of the system's or of the server's own may still take it,
// which a vectored handler would pre-empt.
//
// Where Windows differs:
// - x86-64: the exception is thrown through the system's unwinder, which
//   accepts frames only on the thread's stack, ordered. The trampoline runs
//   there, just below the faulting frame, and describes that frame as a
//   machine frame (UWOP_PUSH_MACHFRAME), the unwind code of an interrupted
//   instruction.
// - x86: exceptions are DWARF-unwound by libgcc; the trampoline runs on the
//   throw stack and describes the faulting frame as a signal frame, as on
//   Linux.
// - A stack overflow is raised with the thread's stack guarantee left; the
//   cleanups of the unwound frames (and on x86-64 the throw) run in it.
// - The exception is unwound from where the thread stopped (the context),
//   which for an exception raised in software lies inside RaiseException, a
//   little past the record's exception address.
#include "winapi/faults.h"

#if defined(__x86_64__)
// Entered with the faulting stack pointer in rdx and, in rcx, the address to
// unwind the faulting frame from; builds the machine frame from them.
asm(R"(
  .text
  .p2align 4
  .def tw_fault_trampoline; .scl 3; .type 32; .endef
tw_fault_trampoline:
  .seh_proc tw_fault_trampoline
  pushq $0
  pushq %rdx
  pushq $0
  pushq $0
  pushq %rcx
  .seh_pushframe
  subq $40, %rsp
  .seh_stackalloc 40
  .seh_endprologue
  call tw_throw_pending_fault
  ud2
  .seh_endproc
)");
#endif

namespace {

// What a stack overflow leaves for the translator and the cleanups.
constexpr ULONG kOverflowReserve = 64 * 1024;

LPTOP_LEVEL_EXCEPTION_FILTER previousFilter = nullptr;
PVOID handler = nullptr;

// The processor's faults; everything else (language exceptions, the
// debugger's notices, RPC failures) takes its course.
bool IsProcessorFault(DWORD code) {
  switch (code) {
    case EXCEPTION_DATATYPE_MISALIGNMENT:
    case EXCEPTION_BREAKPOINT:
    case EXCEPTION_SINGLE_STEP:
    case EXCEPTION_ACCESS_VIOLATION:
    case EXCEPTION_IN_PAGE_ERROR:
    case EXCEPTION_ILLEGAL_INSTRUCTION:
    case EXCEPTION_PRIV_INSTRUCTION:
    case EXCEPTION_STACK_OVERFLOW:
      return true;
    default:
      return code >= EXCEPTION_ARRAY_BOUNDS_EXCEEDED && code <= EXCEPTION_INT_OVERFLOW;
  }
}

#if defined(__x86_64__)
// libgcc's personality looks for the handler of the instruction before the
// address it is given, as if it were a return address, while the system's
// unwinder reads from that address how far the function's prologue has run.
// One past the faulting instruction satisfies both, except inside a
// prologue, where the unwinder must have the faulting instruction itself (a
// prologue is in no handler's range anyway).
DWORD64 UnwindAddress(DWORD64 pc) {
  DWORD64 imageBase;
  if (PRUNTIME_FUNCTION function = RtlLookupFunctionEntry(pc, &imageBase, nullptr)) {
    const BYTE* unwindInfo = reinterpret_cast<const BYTE*>(imageBase + function->UnwindData);
    const BYTE prologueSize = unwindInfo[1];
    if (pc - (imageBase + function->BeginAddress) < prologueSize) return pc;
  }
  return pc + 1;
}

uintptr_t StackPointer(const CONTEXT& context) { return context.Rsp; }
const void* FramePointer(const CONTEXT& context) {
  return reinterpret_cast<const void*>(context.Rbp);
}

void RedirectToTrampoline(CONTEXT& context) {
  context.Rcx = UnwindAddress(context.Rip);
  context.Rdx = context.Rsp;
  // Windows has no red zone: all below the stack pointer is free.
  context.Rsp = (context.Rsp - 64) & ~static_cast<DWORD64>(15);
  context.Rip = reinterpret_cast<DWORD64>(&FaultTrampoline);
}
#elif defined(__i386__)
struct UnwindBases {
  void* text;
  void* data;
  void* function;
};
extern "C" const void* _Unwind_Find_FDE(void* pc, UnwindBases* bases);

// Whether libgcc has unwind information for the function at `pc`: it has
// for ours, not for the system's or a server's.
bool Unwindable(uintptr_t pc) {
  UnwindBases bases;
  return _Unwind_Find_FDE(reinterpret_cast<void*>(pc), &bases) != nullptr;
}

bool ReadWord(uintptr_t address, uintptr_t* word) {
  SIZE_T read = 0;
  return ReadProcessMemory(GetCurrentProcess(), reinterpret_cast<const void*>(address), word,
                           sizeof *word, &read) &&
         read == sizeof *word;
}

bool Executable(uintptr_t pc) {
  MEMORY_BASIC_INFORMATION page;
  return VirtualQuery(reinterpret_cast<const void*>(pc), &page, sizeof page) == sizeof page &&
         page.State == MEM_COMMIT &&
         (page.Protect &
          (PAGE_EXECUTE | PAGE_EXECUTE_READ | PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY));
}

uintptr_t StackPointer(const CONTEXT& context) { return context.Esp; }
const void* FramePointer(const CONTEXT& context) {
  return reinterpret_cast<const void*>(context.Ebp);
}

// The exception is thrown from the innermost frame that libgcc can unwind:
// the stopped one if it is ours. After a call to where no code is, the
// caller, inside its call instruction. Inside foreign code (RaiseException,
// a server), the first of our frames up the saved frame pointers, which
// 32-bit Windows code keeps; the foreign frames passed over restore nothing,
// so our frames see ebx, esi and edi as the exception left them.
void RedirectToTrampoline(CONTEXT& context) {
  uintptr_t unwindFrom = context.Eip;
  uintptr_t unwindSp = context.Esp;
  uintptr_t returnAddress, link;
  if (Unwindable(unwindFrom)) {
    // as it stands
  } else if (!Executable(unwindFrom) && ReadWord(unwindSp, &returnAddress) &&
             Unwindable(returnAddress - 1)) {
    unwindFrom = returnAddress - 1;
    unwindSp += sizeof(uintptr_t);
  } else {
    for (uintptr_t frame = context.Ebp;
         ReadWord(frame, &link) && ReadWord(frame + sizeof link, &returnAddress); frame = link) {
      if (Unwindable(returnAddress - 1)) {
        unwindFrom = returnAddress - 1;
        unwindSp = frame + 2 * sizeof link;
        context.Ebp = link;
        break;
      }
      if (link <= frame) break;  // a chain that does not lead up the stack
    }
  }
  context.Esp = static_cast<DWORD>(faultLayer.TrampolineStack(unwindFrom, unwindSp));
  context.Eip = reinterpret_cast<DWORD>(&FaultTrampoline);
}
#else
#error "Processor faults: write this processor's trampoline."
#endif

// Resumes the thread in the trampoline, which throws the translator's
// exception for `record`.
LONG Translate(const EXCEPTION_RECORD& record, CONTEXT& context) {
  faultLayer.Pend(record, FramePointer(context));
  RedirectToTrampoline(context);
  return EXCEPTION_CONTINUE_EXECUTION;
}

LONG CALLBACK OnException(EXCEPTION_POINTERS* pointers) {
  if (!IsProcessorFault(pointers->ExceptionRecord->ExceptionCode) ||
      !faultLayer.Translates(StackPointer(*pointers->ContextRecord))) {
    return EXCEPTION_CONTINUE_SEARCH;
  }
  return Translate(*pointers->ExceptionRecord, *pointers->ContextRecord);
}

// The last chance: an exception that no handler took.
LONG WINAPI OnUnhandledException(EXCEPTION_POINTERS* pointers) {
  EXCEPTION_RECORD& record = *pointers->ExceptionRecord;
  if (!faultLayer.Translates(StackPointer(*pointers->ContextRecord))) {
    return previousFilter ? previousFilter(pointers) : EXCEPTION_CONTINUE_SEARCH;
  }
  const LONG result = Translate(record, *pointers->ContextRecord);
  // The system resumes the thread only for a continuable exception; the
  // report keeps the record as raised.
  record.ExceptionFlags &= ~static_cast<DWORD>(EXCEPTION_NONCONTINUABLE);
  return result;
}

}  // namespace

size_t PageSize() {
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  return info.dwPageSize;
}

#if defined(__i386__)
char* GuardedStack::Map(size_t total) {
  char* p =
      static_cast<char*>(VirtualAlloc(nullptr, total, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
  if (!p) return nullptr;
  DWORD old;
  if (!VirtualProtect(p, PageSize(), PAGE_NOACCESS, &old)) {
    VirtualFree(p, 0, MEM_RELEASE);
    return nullptr;
  }
  return p;
}

void GuardedStack::Unmap(char* base, size_t) { VirtualFree(base, 0, MEM_RELEASE); }
#endif

// Asks the system to raise a stack overflow with kOverflowReserve left
// (Vista and later; XP raises it with one guard page left).
bool FaultLayer::PrepareThread(bool) {
  typedef BOOL(WINAPI * SetGuarantee)(PULONG);
  auto setGuarantee = reinterpret_cast<SetGuarantee>(reinterpret_cast<void (*)()>(
      GetProcAddress(GetModuleHandleA("kernel32.dll"), "SetThreadStackGuarantee")));
  ULONG size = kOverflowReserve;
  if (!setGuarantee || !setGuarantee(&size)) return true;
  // Wine commits the main thread's whole stack at once, with its guard page
  // at the very bottom, where the guarantee never comes into play. A guard
  // page above the reserve lets the stack grow page by page from there, as
  // on Windows, where that page is not committed yet and is left alone.
  MEMORY_BASIC_INFORMATION stack, page;
  if (!VirtualQuery(&stack, &stack, sizeof stack)) return true;
  char* guard = static_cast<char*>(stack.AllocationBase) + kOverflowReserve + 2 * PageSize();
  DWORD old;
  if (VirtualQuery(guard, &page, sizeof page) == sizeof page && page.State == MEM_COMMIT &&
      page.Protect == PAGE_READWRITE && guard < reinterpret_cast<char*>(&stack) - PageSize()) {
    VirtualProtect(guard, PageSize(), PAGE_READWRITE | PAGE_GUARD, &old);
  }
  return true;
}

// The guarantee stays with the thread: it only moves where an overflow is
// raised.
void FaultLayer::ReleaseThread() {}

bool FaultLayer::InstallHandlers() {
  handler = AddVectoredExceptionHandler(1, OnException);
  if (!handler) return false;
  previousFilter = SetUnhandledExceptionFilter(OnUnhandledException);
  return true;
}

void FaultLayer::RemoveHandlers() {
  RemoveVectoredExceptionHandler(handler);
  handler = nullptr;
  SetUnhandledExceptionFilter(previousFilter);
}
