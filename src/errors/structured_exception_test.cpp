// A real processor fault, translated in-process into a ClStructuredException.
#include "errors/structured_exception.h"

#include <gtest/gtest.h>

#include <string>

#include "errors/resource_strings.h"

namespace {

const int kReadOnly[4096] = {1};
int* volatile readOnly = const_cast<int*>(kReadOnly);

// The fault is the point: a sanitized build must let the processor see it.
__attribute__((noinline, no_sanitize("undefined"))) int WriteReadOnly() { return *readOnly = 2; }

TEST(TranslatedFault, IsCaughtInProcessWithTheContextAddedInFlight) {
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
  ASSERT_NE(nullptr, dynamic_cast<ClStructuredException*>(caught));
  char program[4096];
  const DWORD length = GetModuleFileNameA(nullptr, program, sizeof program);
  ClString report;
  caught->BuildReport(report);
  delete caught;
  EXPECT_EQ("Error! Cannot connect to Visual Source Safe.\r\n\r\nAccess violation in module:\r\n" +
                std::string(program, length),
            report.GetText());
}

}  // namespace
