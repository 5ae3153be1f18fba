#include "errors/exception.h"

#include <gtest/gtest.h>

#include <string>

#include "errors/resource_strings.h"

namespace {

std::string Report(ClException* e) {
  ClString text;
  e->BuildReport(text);
  delete e;
  return text.GetText();
}

std::string SystemText(DWORD code) {
  ClString text;
  AppendSystemErrorText(text, code);
  return text.GetText();
}

TEST(Report, PlainExceptionHasTheDefaultText) {
  EXPECT_EQ("ERROR!!!\r\nSorry, no error description available.", Report(new ClException()));
}

TEST(Report, MessagesNewestFirstWithTheirLineBreaks) {
  EXPECT_EQ("B\r\nA", Report(new ClException(ClMessage("B"), ClMessage("A"))));
  // A message that ends in LF is followed directly; an empty one is a line.
  auto* e = new ClException(ClMessage("first"));
  e->AddMessage(ClMessage(""));
  e->AddMessage(ClMessage("ends in LF\n"));
  EXPECT_EQ("ends in LF\n\r\nfirst", Report(e));
  // Reference entries are loaded, never formatted.
  EXPECT_EQ("Build N: %u", Report(new ClException(ClMessage::Reference(IDS_BUILD_N))));
  EXPECT_EQ(" <string 9999 not found> ", Report(new ClException(ClMessage::Reference(9999))));
}

TEST(Report, Win32ErrorWithSystemText) {
  SetLastError(ERROR_ACCESS_DENIED);
  try {
    ThrowLastError();
  } catch (ClException* e) {
    const std::string system = SystemText(ERROR_ACCESS_DENIED);
    ASSERT_FALSE(system.empty());
    EXPECT_EQ("Win32 Error!\r\n\r\nSystem reports:\r\n" + system, Report(e));
  }
}

TEST(Report, Win32ErrorWithoutSystemTextShowsTheCode) {
  ASSERT_TRUE(SystemText(0xFFFF).empty());
  ASSERT_TRUE(SystemText(0xFFFE).empty());
  EXPECT_EQ("M\r\n\r\nWindows error code: 0x0000FFFF\r\nError description unavailable.",
            Report(new ClWin32Exception(0xFFFF, ClMessage("M"))));
  EXPECT_EQ("M\r\n\r\nWindows error code: 65534\r\nError description unavailable.",
            Report(new ClWin32Exception(0xFFFE, ClMessage("M"))));
  // Code 0: no code, so the message stands alone.
  EXPECT_EQ("M", Report(new ClWin32Exception(0, ClMessage("M"))));
}

TEST(Report, FileException) {
  ClFileException bare(0, ClMessage(""), ClString());
  ClString text;
  bare.Describe(text);
  EXPECT_STREQ("I/O error!\r\nFile/folder name unknown.", text.GetText());
  EXPECT_EQ("Oops\r\nFile/folder name:\r\n\"x.h\"",
            Report(new ClFileException(0, ClMessage("Oops"), ClString("x.h"))));
}

TEST(Report, MemException) {
  EXPECT_EQ("Not enough memory", Report(new ClMemException(100)));
  auto* e = new ClMemException(0);
  e->AddMessage(ClMessage("context"));
  EXPECT_EQ("context\r\n\r\nNot enough memory", Report(e));
}

TEST(CallStack, AnAddressInNoModuleIsUnknown) {
  ClString module("previous");
  int local = 0;
  ModuleNameOf(&local, module);  // the stack belongs to no module
  EXPECT_STREQ("<unknown>", module.GetText());
  ModuleNameOf(nullptr, module);
  EXPECT_STREQ("<unknown>", module.GetText());
}

TEST(AllocationFailure, IsThrownAsClMemException) {
  volatile size_t huge = SIZE_MAX / 4;
  try {
    void* p = ::operator new(huge);
    ::operator delete(p);
    FAIL() << "the allocation succeeded";
  } catch (ClException* e) {
    ASSERT_TRUE(e->IsKindOf(ClMemException::kClassId));
    const DWORD expected = huge > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<DWORD>(huge);
    EXPECT_EQ(expected, static_cast<ClMemException*>(e)->size);
    EXPECT_EQ("Not enough memory", Report(e));
  }
  // The reserve given back on the first failure does not break later ones.
  try {
    void* p = ::operator new(huge);
    ::operator delete(p);
    FAIL() << "the allocation succeeded";
  } catch (ClException* e) {
    delete e;
  }
}

}  // namespace
