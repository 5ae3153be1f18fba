// Tests of ClStructuredException: fault names, module names, the details
// listing, and real processor faults translated in-process.
#include "errors/structured_exception.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <memory>
#include <string>
#include <vector>

#include "errors/resource_strings.h"

namespace {

std::string ProgramPath() {
  char path[4096];
  DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
  return std::string(path, length);
}

EXCEPTION_RECORD Record(DWORD code, const void* address) {
  EXCEPTION_RECORD record = {};
  record.ExceptionCode = code;
  record.ExceptionAddress = const_cast<void*>(address);
  return record;
}

std::string Report(ClException* e) {
  std::unique_ptr<ClException> owner(e);
  ClString text;
  e->BuildReport(text);
  return text.GetText();
}

TEST(StructuredException, DetailsListAtMostFifteenParameters) {
  EXCEPTION_RECORD record = Record(0xC0000005, reinterpret_cast<const void*>(0xABCDEF));
  record.ExceptionFlags = 1;
  record.NumberParameters = 20;
  for (DWORD i = 0; i < EXCEPTION_MAXIMUM_PARAMETERS; ++i) record.ExceptionInformation[i] = i;
  ClStructuredException e(record, CL_STACK_HERE);
  ClString text("Context");
  e.DescribeDetails(text);
  const std::string expected =
      "Context\r\n\r\nException code: 3221225477 (0xC0000005)\r\n"
      "Exception address: 0x00ABCDEF\r\nException flags: 0x00000001\r\n"
      "Additional exception information:\r\n"
      "0x00000000, 0x00000001, 0x00000002, 0x00000003, 0x00000004, 0x00000005, 0x00000006, "
      "0x00000007, 0x00000008, 0x00000009, 0x0000000A, 0x0000000B, 0x0000000C, 0x0000000D, "
      "0x0000000E\r\n---";  // the call-stack listing follows
  EXPECT_EQ(expected, std::string(text.GetText()).substr(0, expected.size()));
}

const int kReadOnly[4096] = {1};
int* volatile readOnly = const_cast<int*>(kReadOnly);

// The fault is the point: a sanitized build must let the processor see it.
__attribute__((noinline, no_sanitize("undefined"))) int WriteReadOnly() { return *readOnly = 2; }

TEST(TranslatedFault, IsCaughtInProcessWithItsRecordAndTheContextAddedInFlight) {
  ASSERT_TRUE(SetFaultTranslator(StructuredTranslator));
  ClException* caught = nullptr;
  try {
    try {
      WriteReadOnly();
    } catch (ClException* e) {
      e->AddMessage(ClMessage::Reference(IDS_CANNOT_CONNECT_VSS));
      throw e;
    }
  } catch (ClException* e) {
    caught = e;
  }
  SetFaultTranslator(nullptr);
  auto* fault = dynamic_cast<ClStructuredException*>(caught);
  ASSERT_NE(nullptr, fault);
  ASSERT_EQ(2u, fault->record.NumberParameters);
  EXPECT_EQ(1u, fault->record.ExceptionInformation[0]);  // a write
  EXPECT_EQ(reinterpret_cast<ULONG_PTR>(kReadOnly), fault->record.ExceptionInformation[1]);
  ASSERT_LT(0u, fault->callStack.GetCount());  // starting at the faulting instruction
  EXPECT_EQ(reinterpret_cast<uintptr_t>(fault->record.ExceptionAddress),
            fault->callStack[0].address);

  // The listing: the faulting function and the test, each named by the file
  // of its module, in columns of eight that a 32-bit build's numbers fill.
  ClString details;
  fault->DescribeDetails(details);
  const std::string text = details.GetText();
  const size_t begin = text.find("\r\n---\r\n") + 7, end = text.rfind("\r\n---");
  ASSERT_LT(begin, end) << text;
  const std::string program = ProgramPath().substr(ProgramPath().find_last_of("\\/") + 1);
  std::vector<std::string> modules;
  for (size_t at = begin; at < end; at += 2) {
    // Five numbers, right-aligned in their columns; four spaces after the first.
    const size_t lineEnd = std::min(text.find("\r\n", at), end);
    for (size_t separator : {0, 4, 1, 1, 1}) {
      const size_t start = at;
      while (text[at] == ' ') ++at;
      const size_t digits = at;
      while (isxdigit(static_cast<unsigned char>(text[at])) && !islower(text[at])) ++at;
      const size_t width = at - start - separator;
      ASSERT_TRUE(at > digits && width >= 8 && width <= 2 * sizeof(void*))
          << text.substr(start, lineEnd - start);
    }
    ASSERT_EQ(' ', text[at]);
    modules.push_back(text.substr(at + 1, lineEnd - at - 1));
    at = lineEnd;
  }
  ASSERT_LE(2u, modules.size());
  EXPECT_EQ(program, modules[0]);
  EXPECT_EQ(program, modules[1]);

  EXPECT_EQ("Error! Cannot connect to Visual Source Safe.\r\n\r\nAccess violation in module:\r\n" +
                ProgramPath(),
            Report(caught));
}

}  // namespace
