#include "base/replace_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "base/test_folder.h"
#include "errors/exception.h"

namespace fs = std::filesystem;

namespace {

using ReplaceFileTest = TestFolder;

// The error code that `step` threw, or ERROR_SUCCESS; the report names `target`.
template <typename Step>
DWORD ThrownCode(Step step, const ClString& target) {
  try {
    step();
  } catch (ClFileException* e) {
    const DWORD code = e->errorCode;
    EXPECT_STREQ(target.GetText(), e->fileName.GetText());
    delete e;
    return code;
  }
  return ERROR_SUCCESS;
}

TEST_F(ReplaceFileTest, CreatesAndReplacesWholeFilesLeavingNothingBehind) {
  for (const char* text : {"first, and longer", "2nd", ""}) {
    {
      ClFileReplacement write;  // holds the new file until it ends
      write.Claim(Path("a.h"));
      write.Commit(text, static_cast<DWORD>(strlen(text)));
    }
    EXPECT_EQ(text, Content("a.h"));
  }
  EXPECT_EQ(1u, FilesInFolder());
}

// Refused by the check, before anything is written, as opening for writing would refuse them.
TEST_F(ReplaceFileTest, TargetsThatCannotBeWrittenAreRefusedBeforeAnyWrite) {
  Create("ro.h", "old");
  ASSERT_TRUE(SetFileAttributesA(Path("ro.h").GetText(), FILE_ATTRIBUTE_READONLY));
  fs::create_directory(folder / "dir.h");
  const struct {
    const char* name;
    DWORD code;
  } kCases[] = {{"ro.h", ERROR_ACCESS_DENIED},
                {"dir.h", ERROR_ACCESS_DENIED},
                {"missing/a.h", ERROR_PATH_NOT_FOUND}};
  for (const auto& c : kCases) {
    ClFileReplacement write;
    write.Claim(Path(c.name));
    EXPECT_EQ(c.code, ThrownCode([&] { write.Check(); }, Path(c.name))) << c.name;
    EXPECT_EQ(c.code, ThrownCode([&] { write.Commit("new", 3); }, Path(c.name))) << c.name;
  }
  EXPECT_EQ("old", Content("ro.h"));
  EXPECT_EQ(2u, FilesInFolder());
}

TEST_F(ReplaceFileTest, AClaimKeepsOtherRunsOutThroughEveryNameUntilItsObjectEnds) {
  Create("a.h", "old");
  fs::create_directory(folder / "sub");
  const std::string other = (folder / "sub" / ".." / "a.h").string();
  {
    ClFileReplacement claim;
    claim.Claim(Path("a.h"));
    for (const ClString& name : {Path("a.h"), ClString(other.c_str())}) {
      ClFileReplacement second;
      EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION),
                ThrownCode([&] { second.Claim(name); }, name));
    }
    claim.Commit("new", 3);
  }
  {
    ClFileReplacement abandoned;  // claimed, never written
    abandoned.Claim(Path("a.h"));
  }
  EXPECT_EQ("new", Content("a.h"));
  EXPECT_EQ(2u, FilesInFolder());  // a.h and sub: no claim file stays
}

// A claim file left by a killed run is taken over; anything else at its name
// is left as it is, and the target is written in place.
TEST_F(ReplaceFileTest, OnlyAStaleClaimIsTakenOverAndForeignNamesStay) {
  Create("a.h", "old");
  Create("a.h.TMP", "left by a killed run");
  {
    ClFileReplacement write;
    write.Claim(Path("a.h"));
    write.Commit("new", 3);
  }
  EXPECT_EQ("new", Content("a.h"));
  EXPECT_FALSE(fs::exists(folder / "a.h.TMP"));

  fs::create_directory(folder / "a.h.TMP");
  Create("a.h.TMP/keep", "kept");
  ClFileReplacement write;
  write.Claim(Path("a.h"));
  write.Commit("newer, and longer", 17);
  EXPECT_EQ("newer, and longer", Content("a.h"));
  EXPECT_EQ("kept", Content("a.h.TMP/keep"));
}

}  // namespace
