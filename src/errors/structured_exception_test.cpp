#include "errors/structured_exception.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

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

TEST(StructuredException, FaultNamesByCode) {
  const struct {
    DWORD code;
    const char* name;
  } cases[] = {
      {0xC0000005, "Access violation"},
      {0x80000003, "Debug break"},
      {0x80000004, "Debug break"},
      {0xC000008D, "Floating point operation error"},
      {0xC000008F, "Floating point operation error"},
      {0xC0000090, "Floating point operation error"},
      {0xC0000092, "Floating point operation error"},
      {0xC000008E, "Divide by zero"},
      {0xC0000094, "Divide by zero"},
      {0xC0000091, "Overflow"},
      {0xC0000093, "Overflow"},
      {0xC0000095, "Overflow"},
      {0xC0000006, "Paging error"},
      {0xC000001D, "Invalid instruction"},
      {0xC00000FD, "Stack overflow"},
      {0xC000008C, "Unknown error"},
      {0xC0000096, "Unknown error"},
      {0xE06D7363, "Unknown error"},
  };
  const void* here = reinterpret_cast<const void*>(&ProgramPath);
  for (const auto& c : cases) {
    EXPECT_EQ(std::string(c.name) + " in module:\r\n" + ProgramPath(),
              Report(new ClStructuredException(Record(c.code, here), CL_STACK_HERE)))
        << std::hex << c.code;
  }
}

TEST(StructuredException, AddressInNoModule) {
  std::unique_ptr<int> heap(new int(0));
  for (const void* address :
       {static_cast<const void*>(nullptr), static_cast<const void*>(heap.get())}) {
    EXPECT_EQ("Access violation in module:\r\n<unknown>",
              Report(new ClStructuredException(Record(0xC0000005, address), CL_STACK_HERE)));
  }
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

// Real faults, translated on this (the main) thread.
class TranslatedFault : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(SetFaultTranslator(StructuredTranslator)); }
  void TearDown() override { SetFaultTranslator(nullptr); }
};

int* volatile nullPointer = nullptr;
volatile int zero = 0;
const int kReadOnly[4096] = {1};
int* volatile readOnly = const_cast<int*>(kReadOnly);

__attribute__((noinline)) int ReadNull() { return *nullPointer; }
__attribute__((noinline)) int WriteReadOnly() { return *readOnly = 2; }
__attribute__((noinline)) int DivideByZero() { return 1 / zero; }

TEST_F(TranslatedFault, CaughtAsClExceptionWithTheRecordOfTheFault) {
  const struct {
    int (*fault)();
    DWORD code;
    DWORD parameters;
    ULONG_PTR access;
    const void* address;
  } cases[] = {
      {ReadNull, 0xC0000005, 2, 0, nullptr},
      {WriteReadOnly, 0xC0000005, 2, 1, kReadOnly},
      {DivideByZero, 0xC0000094, 0, 0, nullptr},
  };
  for (const auto& c : cases) {
    ClException* caught = nullptr;
    try {
      c.fault();
    } catch (ClException* e) {
      caught = e;
    }
    ASSERT_NE(nullptr, caught) << std::hex << c.code;
    std::unique_ptr<ClException> owner(caught);
    auto* fault = dynamic_cast<ClStructuredException*>(caught);
    ASSERT_NE(nullptr, fault);
    EXPECT_EQ(c.code, fault->record.ExceptionCode);
    EXPECT_EQ(c.parameters, fault->record.NumberParameters);
    if (c.parameters) {
      EXPECT_EQ(c.access, fault->record.ExceptionInformation[0]);
      EXPECT_EQ(reinterpret_cast<ULONG_PTR>(c.address), fault->record.ExceptionInformation[1]);
    }
    // The call stack starts at the faulting instruction, inside the function.
    ASSERT_LT(0u, fault->callStack.GetCount());
    EXPECT_EQ(reinterpret_cast<uintptr_t>(fault->record.ExceptionAddress),
              fault->callStack[0].address);
    ClString module;
    ModuleNameOf(fault->record.ExceptionAddress, module);
    EXPECT_EQ(ProgramPath(), module.GetText());
  }
}

TEST_F(TranslatedFault, ContextAddedInFlightComesFirst) {
  ClException* caught = nullptr;
  try {
    try {
      ReadNull();
    } catch (ClException* e) {
      e->AddMessage(ClMessage::Reference(IDS_CANNOT_CONNECT_VSS));
      throw e;
    }
  } catch (ClException* e) {
    caught = e;
  }
  ASSERT_NE(nullptr, caught);
  EXPECT_EQ("Error! Cannot connect to Visual Source Safe.\r\n\r\nAccess violation in module:\r\n" +
                ProgramPath(),
            Report(caught));
}

}  // namespace
