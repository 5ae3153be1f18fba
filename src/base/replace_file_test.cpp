#include "base/replace_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <string_view>

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
      write.Claim(Path("a.h"), nullptr);
      write.Prepare(text, static_cast<DWORD>(strlen(text)));
      write.Commit();
    }
    EXPECT_EQ(text, Content("a.h"));
  }
  EXPECT_EQ(1u, FilesInFolder());
}

// Refused by the check, before anything is written, as opening for writing would refuse them.
TEST_F(ReplaceFileTest, TargetsThatCannotBeWrittenAreRefusedBeforeAnyWrite) {
  Create("ro.h", "old");
  MakeReadOnly("ro.h");
  fs::create_directory(folder / "dir.h");
  const struct {
    const char* name;
    DWORD code;
  } kCases[] = {{"ro.h", ERROR_ACCESS_DENIED},
                {"dir.h", ERROR_ACCESS_DENIED},
                {"missing/a.h", ERROR_PATH_NOT_FOUND}};
  for (const auto& c : kCases) {
    ClFileReplacement write;
    write.Claim(Path(c.name), nullptr);
    EXPECT_EQ(c.code, ThrownCode([&] { write.Check(); }, Path(c.name))) << c.name;
    EXPECT_EQ(c.code, ThrownCode([&] { write.Prepare("new", 3); }, Path(c.name))) << c.name;
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
    claim.Claim(Path("a.h"), nullptr);
    for (const ClString& name : {Path("a.h"), ClString(other.c_str())}) {
      ClFileReplacement second;
      EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION),
                ThrownCode([&] { second.Claim(name, nullptr); }, name));
    }
    claim.Prepare("new", 3);
    claim.Commit();
  }
  {
    ClFileReplacement abandoned;  // claimed, never written
    abandoned.Claim(Path("a.h"), nullptr);
  }
  EXPECT_EQ("new", Content("a.h"));
  EXPECT_EQ(2u, FilesInFolder());  // a.h and sub: no claim file stays
}

bool IsOwnText(const char* data, size_t size) {
  return std::string_view(data, size) == std::string_view("new").substr(0, size);
}

// A claim file left by a killed run (empty, or the start of a text of ours)
// is taken over; anything else at its name is left as it is, and the target
// is written in place.
TEST_F(ReplaceFileTest, OnlyAStaleClaimIsTakenOverAndForeignNamesStay) {
  Create("a.h", "old");
  Create("a.h.TMP", "ne");
  {
    ClFileReplacement write;
    write.Claim(Path("a.h"), IsOwnText);
    write.Prepare("new", 3);
    write.Commit();
  }
  EXPECT_EQ("new", Content("a.h"));
  EXPECT_FALSE(fs::exists(folder / "a.h.TMP"));

  for (const char* planted : {"precious", ""}) {
    if (*planted) {
      Create("a.h.TMP", planted);
    } else {
      fs::create_directory(folder / "a.h.TMP");
      Create("a.h.TMP/keep", "kept");
    }
    ClFileReplacement write;
    write.Claim(Path("a.h"), IsOwnText);
    write.Prepare("newer, and longer", 17);
    write.Commit();
    EXPECT_EQ("newer, and longer", Content("a.h"));
    EXPECT_EQ(*planted ? planted : "kept", Content(*planted ? "a.h.TMP" : "a.h.TMP/keep"));
    fs::remove_all(folder / "a.h.TMP");
  }
}

}  // namespace
