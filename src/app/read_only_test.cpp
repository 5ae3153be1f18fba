#include "app/read_only.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "errors/exception.h"

namespace fs = std::filesystem;

namespace {

class EnsureWritableTest : public testing::Test {
 protected:
  void SetUp() override {
    folder = fs::temp_directory_path() / ("tw-ro-" + std::to_string(GetCurrentProcessId()));
    fs::create_directories(folder);
    std::ofstream(folder / "file.h") << "// 1\n";
  }
  void TearDown() override {
    SetFileAttributesA(Name("file.h").GetText(), FILE_ATTRIBUTE_NORMAL);
    fs::remove_all(folder);
  }
  ClString Name(const char* name) const { return ClString((folder / name).string().c_str()); }

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

  fs::path folder;
  CounterOptions options;
};

TEST_F(EnsureWritableTest, AbsentAndWritableTargetsMayBeWritten) {
  options.checkOut = true;  // and no session is needed for them
  EXPECT_EQ("", Check("file.h", Target::kHeader, options));
  EXPECT_EQ("", Check("missing.h", Target::kHeader, options));
  EXPECT_EQ("", Check("no-folder/missing.bat", Target::kBatchFile, options));
}

TEST_F(EnsureWritableTest, ReadOnlyTargetsWithoutCheckOut) {
  ASSERT_TRUE(SetFileAttributesA(Name("file.h").GetText(), FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(
      "Error! Cannot update file because it is read only.\r\nProbably, it is protected by "
      "SourceSafe.\r\nUse /c flag to check out file.",
      Check("file.h", Target::kHeader, options));
  EXPECT_EQ(
      "Error! Cannot update bat file because it is read only.\r\nProbably, it is protected by "
      "SourceSafe.\r\nUse /c flag to check out file.",
      Check("file.h", Target::kBatchFile, options));
  // /n lets a read-only header through (its write then fails), not a batch file.
  options.noIncrement = true;
  EXPECT_EQ("", Check("file.h", Target::kHeader, options));
  EXPECT_NE("", Check("file.h", Target::kBatchFile, options));
}

}  // namespace
