// The exception classes: construction with the call-stack snapshot, the
// message list, and the report text of each class.
#include "errors/exception.h"

#include <inttypes.h>

#include "errors/resource_strings.h"

namespace {

const char kLineBreak[] = "\r\n";

// `text` becomes string-table entry `id` formatted with the old text first.
// The old text is kept alive while it is an argument of its own replacement.
template <typename... Args>
void ReformatResString(ClString& text, UINT id, Args... args) {
  ClString old(text);
  FormatResString(text, id, old.GetText(), args...);
}

void LoadResStringInto(ClString& text, UINT id) {
  text.Empty();
  LoadResString(text, id);
}

}  // namespace

// --- ClMessage ---

ClMessage ClMessage::Reference(UINT id, HMODULE module) {
  ClMessage message;
  message.module = module ? module : programModule;
  message.id = id;
  return message;
}

const ClString& ClMessage::GetText() {
  if (module) {
    ClString loaded;
    LoadResString(loaded, id, module);
    text = loaded;
    module = nullptr;
  }
  return text;
}

// --- ClClassInfo, ClException ---

bool ClClassInfo::IsKindOf(DWORD) const { return false; }

ClException::ClException() { TakeCallStackSnapshot(callStack, CL_STACK_HERE); }

ClException::ClException(const ClMessage& message) {
  messages.Reserve(1);
  messages.Append(message);
  TakeCallStackSnapshot(callStack, CL_STACK_HERE);
}

ClException::ClException(const ClMessage& first, const ClMessage& second) {
  messages.Reserve(2);
  messages.Append(second);
  messages.Append(first);
  TakeCallStackSnapshot(callStack, CL_STACK_HERE);
}

ClException::ClException(const ClStackStart& start) { TakeCallStackSnapshot(callStack, start); }

ClException::~ClException() = default;

void ClException::AddMessage(const ClMessage& message) { messages.Append(message); }

void ClException::BuildReport(ClString& text) {
  for (DWORD i = messages.GetCount(); i-- > 0;) {
    if (!text.IsEmpty() && text.GetText()[text.GetLength() - 1] != '\n') text.Append(kLineBreak);
    const ClString& message = messages[i].GetText();
    if (message.IsEmpty()) {
      text.Append(kLineBreak);
    } else if (text.IsEmpty()) {
      text = message;
    } else {
      text.Append(message);
    }
  }
  Describe(text);
}

void ClException::Describe(ClString& text) {
  if (text.IsEmpty()) LoadResStringInto(text, IDS_NO_DESCRIPTION);
}

void ClException::DescribeDetails(ClString& text) { AppendCallStackListing(text); }

void ClException::AppendCallStackListing(ClString& text) {
  const DWORD records = callStack.GetCount();
  const DWORD length = text.GetLength();
  text.SetSize(length + 1, length + 82 * records + 10 + 1, false, true);
  text.Append("\r\n---");
  ClString module;
  for (const ClStackFrame& record : callStack) {
    ModuleNameOf(reinterpret_cast<const void*>(record.address), module);
    const char* name = module.GetText();
    if (const char* separator = FindLastByte(name, module.GetLength(), kPathSeparator)) {
      name = separator + 1;
    }
    FormatText(
        text, "\r\n%8" PRIXPTR "    %8" PRIXPTR " %8" PRIXPTR " %8" PRIXPTR " %8" PRIXPTR " %s",
        record.address, record.args[0], record.args[1], record.args[2], record.args[3], name);
  }
  text.Append("\r\n---");
}

// --- ClWin32Exception ---

ClWin32Exception::ClWin32Exception(DWORD code, const ClMessage& message)
    : ClException(message), errorCode(code) {}

ClWin32Exception::ClWin32Exception(const ClStackStart& start, DWORD code)
    : ClException(start), errorCode(code) {}

ClWin32Exception::ClWin32Exception(DWORD code) : errorCode(code) {}

bool ClWin32Exception::IsKindOf(DWORD classId) const { return classId == kClassId; }

void ClWin32Exception::Describe(ClString& text) {
  if (text.IsEmpty()) LoadResStringInto(text, IDS_WIN32_ERROR);
  if (errorCode != 0) {
    ClString systemText;
    AppendSystemErrorText(systemText, errorCode);
    if (systemText.IsEmpty()) {
      // 0xFFFF and above read better in hexadecimal (HRESULTs above all).
      ReformatResString(text, errorCode < 0xFFFF ? IDS_ERROR_CODE_DECIMAL : IDS_ERROR_CODE_HEX,
                        static_cast<unsigned>(errorCode));
    } else {
      ReformatResString(text, IDS_SYSTEM_REPORTS, systemText.GetText());
    }
  }
  if (text.IsEmpty()) LoadResStringInto(text, IDS_NO_DESCRIPTION);
}

void ClWin32Exception::DescribeDetails(ClString& text) {
  if (!text.IsEmpty()) text.Append("\r\n\r\n");
  ClString old(text);
  text.Empty();
  FormatText(text, "%sWin32 error code: %d (0x%08X)", old.GetText(), static_cast<int>(errorCode),
             static_cast<unsigned>(errorCode));
  AppendCallStackListing(text);
}

// --- ClFileException ---

ClFileException::ClFileException(DWORD code, const ClMessage& message, const ClString& name)
    : ClWin32Exception(code, message), fileName(name) {}

void ClFileException::Describe(ClString& text) {
  if (text.IsEmpty()) LoadResStringInto(text, IDS_IO_ERROR);
  if (fileName.IsEmpty()) {
    ReformatResString(text, IDS_FILE_NAME_UNKNOWN);
  } else {
    ReformatResString(text, IDS_FILE_NAME_FORMAT, fileName.GetText());
  }
  ClWin32Exception::Describe(text);
}

// --- ClMemException ---

ClMemException::ClMemException(DWORD bytes) : size(bytes) {}

ClMemException::ClMemException(const ClStackStart& start, DWORD bytes)
    : ClException(start), size(bytes) {}

bool ClMemException::IsKindOf(DWORD classId) const { return classId == kClassId; }

void ClMemException::Describe(ClString& text) {
  if (!text.IsEmpty()) text.Append("\r\n\r\n");
  LoadResString(text, IDS_NOT_ENOUGH_MEMORY);
  if (text.IsEmpty()) LoadResStringInto(text, IDS_NO_DESCRIPTION);
}

void ClMemException::DescribeDetails(ClString& text) {
  if (size != 0) {
    if (!text.IsEmpty()) text.Append("\r\n\r\n");
    ClString old(text);
    text.Empty();
    FormatText(text, "%sUnable to allocate %u bytes of memory.", old.GetText(),
               static_cast<unsigned>(size));
  }
  AppendCallStackListing(text);
}

// --- Free functions ---

__attribute__((noinline)) void ThrowLastError() {
  const DWORD code = GetLastError();
  throw new ClWin32Exception(CL_STACK_HERE, code);
}

void AppendSystemErrorText(ClString& text, DWORD code) {
  ClString buffer;
  DWORD room = 256;
  DWORD length;
  for (;;) {
    char* p = buffer.SetSize(room + 1, 0, true);
    length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, code, 0, p, room, nullptr);
    if (length < room - 1) break;
    room = 2 * length;  // the text may have been cut
  }
  text.Append(buffer.GetText(), length);
}

namespace {

// The allocation operator's failure handler, installed before the run flow
// starts: a failed allocation is thrown like every other failure.
__attribute__((noinline)) int OnAllocationFailure(size_t bytes) {
  throw new ClMemException(CL_STACK_HERE,
                           bytes > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<DWORD>(bytes));
}

[[maybe_unused]] const AllocationFailureHandler previousHandler =
    SetAllocationFailureHandler(OnAllocationFailure);

// Loaded now, while there is memory, for when even the exception cannot be
// made.
[[maybe_unused]] const bool outOfMemoryTextSet = [] {
  char text[240];
  if (LoadStringA(GetModuleHandleA(nullptr), IDS_NOT_ENOUGH_MEMORY, text, sizeof text) > 0)
    SetOutOfMemoryText(text);
  return true;
}();

}  // namespace
