// ClStructuredException: the report texts of a processor fault, and the
// translator that turns a fault into a thrown exception.
#include "errors/structured_exception.h"

#include <inttypes.h>

#include "errors/resource_strings.h"

namespace {

struct FaultName {
  DWORD code;
  UINT id;
};

constexpr FaultName kFaultNames[] = {
    {EXCEPTION_ACCESS_VIOLATION, IDS_ACCESS_VIOLATION},
    {EXCEPTION_BREAKPOINT, IDS_DEBUG_BREAK},
    {EXCEPTION_SINGLE_STEP, IDS_DEBUG_BREAK},
    {EXCEPTION_FLT_DENORMAL_OPERAND, IDS_FLOAT_ERROR},
    {EXCEPTION_FLT_INEXACT_RESULT, IDS_FLOAT_ERROR},
    {EXCEPTION_FLT_INVALID_OPERATION, IDS_FLOAT_ERROR},
    {EXCEPTION_FLT_STACK_CHECK, IDS_FLOAT_ERROR},
    {EXCEPTION_FLT_DIVIDE_BY_ZERO, IDS_DIVIDE_BY_ZERO},
    {EXCEPTION_INT_DIVIDE_BY_ZERO, IDS_DIVIDE_BY_ZERO},
    {EXCEPTION_FLT_OVERFLOW, IDS_OVERFLOW},
    {EXCEPTION_FLT_UNDERFLOW, IDS_OVERFLOW},
    {EXCEPTION_INT_OVERFLOW, IDS_OVERFLOW},
    {EXCEPTION_IN_PAGE_ERROR, IDS_PAGING_ERROR},
    {EXCEPTION_ILLEGAL_INSTRUCTION, IDS_INVALID_INSTRUCTION},
    {EXCEPTION_STACK_OVERFLOW, IDS_STACK_OVERFLOW},
};

UINT FaultNameId(DWORD code) {
  for (const FaultName& name : kFaultNames) {
    if (name.code == code) return name.id;
  }
  return IDS_UNKNOWN_ERROR;
}

}  // namespace

ClStructuredException::ClStructuredException(const EXCEPTION_RECORD& faultRecord,
                                             const ClStackStart& start)
    : ClException(start), record(faultRecord) {}

void ClStructuredException::Describe(ClString& text) {
  ClString name;
  LoadResString(name, FaultNameId(record.ExceptionCode));
  ClString module;
  ModuleNameOf(record.ExceptionAddress, module);
  if (!text.IsEmpty()) text.Append("\r\n\r\n");
  // The old text stays alive while it is an argument of its own replacement.
  ClString old(text);
  FormatResString(text, IDS_FAULT_IN_MODULE, old.GetText(), name.GetText(), module.GetText());
}

void ClStructuredException::DescribeDetails(ClString& text) {
  if (!text.IsEmpty()) text.Append("\r\n\r\n");
  ClString old(text);
  text.Empty();
  const unsigned code = record.ExceptionCode;
  FormatText(text,
             "%sException code: %u (0x%08X)\r\nException address: 0x%08" PRIXPTR
             "\r\nException flags: 0x%08X",
             old.GetText(), code, code, reinterpret_cast<uintptr_t>(record.ExceptionAddress),
             static_cast<unsigned>(record.ExceptionFlags));
  DWORD count = record.NumberParameters;
  if (count > EXCEPTION_MAXIMUM_PARAMETERS) count = EXCEPTION_MAXIMUM_PARAMETERS;
  if (count != 0) {
    text.Append("\r\nAdditional exception information:\r\n");
    for (DWORD i = 0; i < count; ++i) {
      FormatText(text, i + 1 < count ? "0x%08" PRIXPTR ", " : "0x%08" PRIXPTR,
                 static_cast<uintptr_t>(record.ExceptionInformation[i]));
    }
  }
  AppendCallStackListing(text);
}

void StructuredTranslator(const EXCEPTION_RECORD* record, const void* instruction,
                          const void* frame) {
  throw new ClStructuredException(*record, ClStackStart{instruction, frame});
}
