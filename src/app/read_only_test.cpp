#include "app/read_only.h"

#include <gtest/gtest.h>

#include <string>

#include "base/test_folder.h"
#include "errors/exception.h"

namespace {

class EnsureWritableTest : public TestFolder {
 protected:
  void SetUp() override {
    TestFolder::SetUp();
    Create("file.h", "// 1\n");
  }
  ClString Name(const char* name) const { return Path(name); }

  // "" when the target may be written, else the report of what was thrown.
  std::string Check(const char* name, Target target, const CounterOptions& with) {
    try {
      EnsureWritable(Name(name), target, with);
      return "";
    } catch (ClException* e) {
      ClString report;
      e->BuildReport(report);
      delete e;
      return report.GetText();
    }
  }

  CounterOptions options;
};

TEST_F(EnsureWritableTest, AbsentAndWritableTargetsMayBeWritten) {
  options.checkOut = true;  // and no session is needed for them
  EXPECT_EQ("", Check("file.h", Target::kHeader, options));
  EXPECT_EQ("", Check("missing.h", Target::kHeader, options));
  EXPECT_EQ("", Check("no-folder/missing.bat", Target::kBatchFile, options));
}

TEST_F(EnsureWritableTest, ReadOnlyTargetsWithoutCheckOut) {
  MakeReadOnly("file.h");
  EXPECT_EQ(
      "Error! Cannot update file because it is read only.\r\nProbably, it is protected by "
      "SourceSafe.\r\nUse /c flag to check out file.",
      Check("file.h", Target::kHeader, options));
  EXPECT_EQ(
      "Error! Cannot update bat file because it is read only.\r\nProbably, it is protected by "
      "SourceSafe.\r\nUse /c flag to check out file.",
      Check("file.h", Target::kBatchFile, options));
  EXPECT_EQ(
      "Error! Cannot update env file because it is read only.\r\nProbably, it is protected by "
      "SourceSafe.\r\nUse /c flag to check out file.",
      Check("file.h", Target::kEnvFile, options));
  // /n lets a read-only header through (its write then fails), no side file.
  options.noIncrement = true;
  EXPECT_EQ("", Check("file.h", Target::kHeader, options));
  EXPECT_NE("", Check("file.h", Target::kBatchFile, options));
  EXPECT_NE("", Check("file.h", Target::kEnvFile, options));
}

}  // namespace
