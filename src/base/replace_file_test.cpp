#include "base/replace_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "base/test_folder.h"
#include "errors/exception.h"

namespace fs = std::filesystem;

namespace {

using WriteByReplacingTest = TestFolder;

TEST_F(WriteByReplacingTest, CreatesAndReplacesWholeFiles) {
  ASSERT_TRUE(WriteByReplacing(Path("a.h"), "first", 5));
  EXPECT_EQ("first", Content("a.h"));
  ASSERT_TRUE(WriteByReplacing(Path("a.h"), "2nd", 3));
  EXPECT_EQ("2nd", Content("a.h"));
  EXPECT_EQ(1u, FilesInFolder());  // no temporary file is left behind
}

TEST_F(WriteByReplacingTest, ReadOnlyTargetsAreRefusedLikeAnOpenForWriting) {
  Create("ro.h", "old");
  ASSERT_TRUE(SetFileAttributesA(Path("ro.h").GetText(), FILE_ATTRIBUTE_READONLY));
  try {
    WriteByReplacing(Path("ro.h"), "new", 3);
    FAIL() << "no exception";
  } catch (ClException* e) {
    auto* file = dynamic_cast<ClFileException*>(e);
    ASSERT_NE(nullptr, file);
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), file->errorCode);
    EXPECT_STREQ(Path("ro.h").GetText(), file->fileName.GetText());
    ClString report;
    e->BuildReport(report);
    EXPECT_EQ(0u, std::string(report.GetText()).rfind("ERROR!   Cannot open file.", 0));
    delete e;
  }
  EXPECT_EQ("old", Content("ro.h"));
  EXPECT_EQ(1u, FilesInFolder());
}

TEST_F(WriteByReplacingTest, AClaimKeepsOtherRunsOutUntilItsObjectEnds) {
  Create("a.h", "old");
  {
    ClFileReplacement claim;
    claim.Claim(Path("a.h"));
    ASSERT_TRUE(claim.IsClaimed());
    ClFileReplacement other;
    try {
      other.Claim(Path("a.h"));
      FAIL() << "no exception";
    } catch (ClException* e) {
      auto* file = dynamic_cast<ClFileException*>(e);
      ASSERT_NE(nullptr, file);
      EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), file->errorCode);
      EXPECT_STREQ(Path("a.h").GetText(), file->fileName.GetText());
      delete e;
    }
    ASSERT_TRUE(claim.Commit("new", 3));
    // Put in place, the new file is still held against the header's reader.
    ClFile reader;
    EXPECT_FALSE(
        reader.Open(Path("a.h"), ClFile::modeRead | ClFile::shareDelete | ClFile::noThrow));
  }
  {
    ClFileReplacement abandoned;
    abandoned.Claim(Path("a.h"));
    EXPECT_TRUE(abandoned.IsClaimed());
  }
  EXPECT_EQ("new", Content("a.h"));
  EXPECT_EQ(1u, FilesInFolder());  // the abandoned claim took its file along
}

}  // namespace
