#include "base/file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "base/test_folder.h"
#include "errors/exception.h"

namespace fs = std::filesystem;

namespace {

using ClFileTest = TestFolder;

DWORD CodeOf(ClException* e) {
  EXPECT_TRUE(e->IsKindOf(ClWin32Exception::kClassId));
  return static_cast<ClWin32Exception*>(e)->errorCode;
}

// A missing file or folder throws, naming the file; the run counts either
// as an absent header.
TEST_F(ClFileTest, MissingFileOrFolderThrowsNamingTheFile) {
  const struct {
    const char* name;
    DWORD code;
  } kCases[] = {{"missing.h", ERROR_FILE_NOT_FOUND}, {"no-folder/x.h", ERROR_PATH_NOT_FOUND}};
  for (const auto& c : kCases) {
    ClFile file;
    try {
      file.Open(Path(c.name));
      ADD_FAILURE() << c.name << ": no exception";
    } catch (ClException* e) {
      EXPECT_EQ(c.code, CodeOf(e)) << c.name;
      ClString report;
      e->BuildReport(report);
      const std::string expected =
          std::string("ERROR!   Cannot open file.\r\nFile/folder name:\r\n\"") +
          Path(c.name).GetText() + "\"";
      EXPECT_EQ(0u, std::string(report.GetText()).rfind(expected, 0)) << report.GetText();
      delete e;
    }
  }
}

TEST_F(ClFileTest, ReadStringTakesAtMostTheCount) {
  Create("ten.h", "0123456789");
  Create("long.h", std::string(1000, 'x'));
  Create("empty.h", "");
  ClString text;
  ClFile ten, longer, empty;
  ten.Open(Path("ten.h"));
  EXPECT_EQ(10u, ten.GetSize());
  ten.ReadString(text, 256);
  EXPECT_STREQ("0123456789", text.GetText());
  longer.Open(Path("long.h"));
  longer.ReadString(text, 256);
  EXPECT_EQ(std::string(256, 'x'), text.GetText());
  empty.Open(Path("empty.h"));
  EXPECT_EQ(0u, empty.GetSize());
  empty.ReadString(text, 256);
  EXPECT_EQ(0u, text.GetLength());
}

// The header's reader shares it with nobody, until it closes.
TEST_F(ClFileTest, AnOpenFileIsSharedWithNobodyUntilClosed) {
  Create("a.h", "x");
  ClFile reader, second;
  reader.Open(Path("a.h"));
  try {
    second.Open(Path("a.h"));
    FAIL() << "no exception";
  } catch (ClException* e) {
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), CodeOf(e));
    delete e;
  }
  reader.Close();
  reader.Close();  // harmless
  second.Open(Path("a.h"));
}

// SafeWrite's failures, thrown naming the target.
TEST_F(ClFileTest, AReplacementThrowsItsFailuresNamingTheTarget) {
  Create("a.h", "old");
  Create("ro.h", "old");
  MakeReadOnly("ro.h");
  // The code of the ClFileException ("Cannot open file") that `step` threw.
  auto thrownCode = [](auto step, const ClString& target) -> DWORD {
    try {
      step();
    } catch (ClFileException* e) {
      const DWORD code = e->errorCode;
      EXPECT_STREQ(target.GetText(), e->fileName.GetText());
      ClString report;
      e->BuildReport(report);
      EXPECT_EQ(0u, std::string(report.GetText()).rfind("ERROR!   Cannot open file.", 0));
      delete e;
      return code;
    }
    return ERROR_SUCCESS;
  };
  ClFileReplacement held, second, readOnly;
  held.Claim(Path("a.h"), nullptr);
  EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION),
            thrownCode([&] { second.Claim(Path("a.h"), nullptr); }, Path("a.h")));
  readOnly.Claim(Path("ro.h"), nullptr);
  EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED),
            thrownCode([&] { readOnly.Check(); }, Path("ro.h")));
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
