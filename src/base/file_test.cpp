#include "base/file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "base/test_folder.h"
#include "errors/exception.h"
#include "winapi/test_platform.h"

namespace fs = std::filesystem;

namespace {

using ClFileTest = TestFolder;

DWORD CodeOf(ClException* e) {
  EXPECT_TRUE(e->IsKindOf(ClWin32Exception::kClassId));
  return static_cast<ClWin32Exception*>(e)->errorCode;
}

TEST_F(ClFileTest, MissingFileOrFolder) {
  ClFile file;
  EXPECT_FALSE(file.Open(Path("missing.h"), ClFile::modeRead));
  EXPECT_FALSE(file.IsOpen());
  EXPECT_STREQ(Path("missing.h").GetText(), file.GetName().GetText());  // the name is kept

  try {
    file.Open(Path("missing.h"), ClFile::modeRead | ClFile::throwIfMissing);
    FAIL() << "no exception";
  } catch (ClException* e) {
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), CodeOf(e));
    EXPECT_STREQ(Path("missing.h").GetText(), static_cast<ClFileException*>(e)->fileName.GetText());
    ClString report;
    e->BuildReport(report);
    std::string expected = std::string("ERROR!   Cannot open file.\r\nFile/folder name:\r\n\"") +
                           Path("missing.h").GetText() + "\"";
    EXPECT_EQ(0u, std::string(report.GetText()).rfind(expected, 0)) << report.GetText();
    delete e;
  }

  try {
    ClFile opened(Path("no-folder/x.h"), ClFile::modeRead);
    FAIL() << "no exception";
  } catch (ClException* e) {
    EXPECT_EQ(static_cast<DWORD>(ERROR_PATH_NOT_FOUND), CodeOf(e));
    delete e;
  }
}

TEST_F(ClFileTest, NoThrowReturnsFalseForEveryFailure) {
  if (RunningUnderWine()) {
    GTEST_SKIP() << "Wine keeps read-only as missing write permission, which root ignores";
  }
  Create("ro.h", "x");
  ASSERT_TRUE(SetFileAttributesA(Path("ro.h").GetText(), FILE_ATTRIBUTE_READONLY));
  ClFile file;
  EXPECT_FALSE(file.Open(Path("ro.h"), ClFile::modeWrite | ClFile::noThrow));
  file.Close();
  try {
    file.Open(Path("ro.h"), ClFile::modeWrite);
    FAIL() << "no exception";
  } catch (ClException* e) {
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), CodeOf(e));
    delete e;
  }
  EXPECT_EQ("x", Content("ro.h"));
}

TEST_F(ClFileTest, CreationModes) {
  Create("a.h", "old text");
  for (DWORD creation : {DWORD{0}, DWORD{ClFile::openExisting}}) {
    ClFile present, absent;
    EXPECT_TRUE(present.Open(Path("a.h"), ClFile::modeRead | creation));
    EXPECT_FALSE(absent.Open(Path("b.h"), ClFile::modeRead | creation));
  }
  {
    ClFile file(Path("a.h"), ClFile::modeWrite | ClFile::createAlways);
    file.Write("new", 3);
    file.Write("", 0);
  }
  EXPECT_EQ("new", Content("a.h"));
  {
    ClFile file(Path("c.h"), ClFile::modeWrite | ClFile::openAlways);
  }
  EXPECT_TRUE(fs::exists(folder / "c.h"));
}

TEST_F(ClFileTest, CloseIsHarmlessAndForgetsTheName) {
  ClFile never;
  never.Open(Path("missing.h"), ClFile::modeRead);
  never.Close();
  EXPECT_STREQ(Path("missing.h").GetText(), never.GetName().GetText());

  Create("a.h", "x");
  ClFile file(Path("a.h"), ClFile::modeRead);
  file.Close();
  file.Close();
  EXPECT_FALSE(file.IsOpen());
  EXPECT_EQ(0u, file.GetName().GetLength());
}

TEST_F(ClFileTest, ReadStringTakesAtMostTheCount) {
  Create("ten.h", "0123456789");
  Create("long.h", std::string(1000, 'x'));
  Create("empty.h", "");
  ClString text;
  ClFile ten(Path("ten.h"), ClFile::modeRead);
  EXPECT_EQ(10u, ten.GetSize());
  ten.ReadString(text, 256);
  EXPECT_STREQ("0123456789", text.GetText());
  ClFile longer(Path("long.h"), ClFile::modeRead);
  longer.ReadString(text, 256);
  EXPECT_EQ(std::string(256, 'x'), text.GetText());
  ClFile empty(Path("empty.h"), ClFile::modeRead);
  EXPECT_EQ(0u, empty.GetSize());
  empty.ReadString(text, 256);
  EXPECT_EQ(0u, text.GetLength());
}

TEST_F(ClFileTest, SharingIsEnforcedBetweenHandles) {
  Create("a.h", "x");
  ClFile reader(Path("a.h"), ClFile::modeRead);
  try {
    ClFile second(Path("a.h"), ClFile::modeRead);
    FAIL() << "no exception";
  } catch (ClException* e) {
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), CodeOf(e));
    delete e;
  }
}

TEST(GetFullPath, MakesNamesAbsolute) {
  ClString full;
  GetFullPath(full, "some.h");
  const std::string expected = (fs::current_path() / "some.h").string();
  EXPECT_EQ(expected, full.GetText());
  ClString directory;
  GetFullPath(directory, "some.h", true);
  EXPECT_EQ(expected.substr(0, expected.size() - 6), directory.GetText());
  // Linux paths may be longer than the classic limit; Windows' ANSI calls
  // limit them to MAX_PATH.
  if (kPathSeparator == '\\') return;
  const std::string name(300, 'n');
  GetFullPath(full, name.c_str());
  EXPECT_EQ(name, std::string(full.GetText()).substr(full.GetLength() - 300));
}

}  // namespace
