#include "base/replace_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "errors/exception.h"

namespace fs = std::filesystem;

namespace {

class WriteByReplacingTest : public testing::Test {
 protected:
  void SetUp() override {
    folder = fs::temp_directory_path() / ("tw-replace-" + std::to_string(GetCurrentProcessId()));
    fs::remove_all(folder);
    fs::create_directories(folder);
  }
  void TearDown() override {
    for (auto& entry : fs::directory_iterator(folder))
      SetFileAttributesA(entry.path().string().c_str(), FILE_ATTRIBUTE_NORMAL);
    fs::remove_all(folder);
  }
  ClString Name(const char* name) const { return ClString((folder / name).string().c_str()); }
  std::string Content(const char* name) const {
    std::ifstream in(folder / name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  size_t FilesInFolder() const {
    return static_cast<size_t>(std::distance(fs::directory_iterator(folder), {}));
  }

  fs::path folder;
};

TEST_F(WriteByReplacingTest, CreatesAndReplacesWholeFiles) {
  ASSERT_TRUE(WriteByReplacing(Name("a.h"), "first", 5));
  EXPECT_EQ("first", Content("a.h"));
  ASSERT_TRUE(WriteByReplacing(Name("a.h"), "2nd", 3));
  EXPECT_EQ("2nd", Content("a.h"));
  EXPECT_EQ(1u, FilesInFolder());  // no temporary file is left behind
}

TEST_F(WriteByReplacingTest, ReadOnlyTargetsAreRefusedLikeAnOpenForWriting) {
  std::ofstream(folder / "ro.h") << "old";
  ASSERT_TRUE(SetFileAttributesA(Name("ro.h").GetText(), FILE_ATTRIBUTE_READONLY));
  try {
    WriteByReplacing(Name("ro.h"), "new", 3);
    FAIL() << "no exception";
  } catch (ClException* e) {
    auto* file = dynamic_cast<ClFileException*>(e);
    ASSERT_NE(nullptr, file);
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), file->errorCode);
    EXPECT_STREQ(Name("ro.h").GetText(), file->fileName.GetText());
    ClString report;
    e->BuildReport(report);
    EXPECT_EQ(0u, std::string(report.GetText()).rfind("ERROR!   Cannot open file.", 0));
    delete e;
  }
  EXPECT_EQ("old", Content("ro.h"));
  EXPECT_EQ(1u, FilesInFolder());
}

TEST_F(WriteByReplacingTest, AClaimKeepsOtherRunsOutUntilItsObjectEnds) {
  std::ofstream(folder / "a.h") << "old";
  {
    ClFileReplacement claim;
    claim.Claim(Name("a.h"));
    ASSERT_TRUE(claim.IsClaimed());
    ClFileReplacement other;
    try {
      other.Claim(Name("a.h"));
      FAIL() << "no exception";
    } catch (ClException* e) {
      auto* file = dynamic_cast<ClFileException*>(e);
      ASSERT_NE(nullptr, file);
      EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), file->errorCode);
      EXPECT_STREQ(Name("a.h").GetText(), file->fileName.GetText());
      delete e;
    }
    ASSERT_TRUE(claim.Commit("new", 3));
    // Put in place, the new file is still held against the header's reader.
    ClFile reader;
    EXPECT_FALSE(
        reader.Open(Name("a.h"), ClFile::modeRead | ClFile::shareDelete | ClFile::noThrow));
  }
  {
    ClFileReplacement abandoned;
    abandoned.Claim(Name("a.h"));
    EXPECT_TRUE(abandoned.IsClaimed());
  }
  EXPECT_EQ("new", Content("a.h"));
  EXPECT_EQ(1u, FilesInFolder());  // the abandoned claim took its file along
}

}  // namespace
