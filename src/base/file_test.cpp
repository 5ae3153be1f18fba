#include "base/file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "errors/exception.h"

namespace fs = std::filesystem;

namespace {

// The header's reader shares it with nobody, until it closes.
TEST(ClFile, AnOpenFileIsSharedWithNobodyUntilClosed) {
  const fs::path path =
      fs::temp_directory_path() / ("tw-file-test-" + std::to_string(GetCurrentProcessId()) + ".h");
  std::ofstream(path) << "x";
  ClFile reader, second;
  reader.Open(ClString(path.string().c_str()));
  try {
    second.Open(ClString(path.string().c_str()));
    ADD_FAILURE() << "no exception";
  } catch (ClException* e) {
    ASSERT_TRUE(e->IsKindOf(ClWin32Exception::kClassId));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION),
              static_cast<ClWin32Exception*>(e)->errorCode);
    delete e;
  }
  reader.Close();
  reader.Close();  // harmless
  second.Open(ClString(path.string().c_str()));
  second.Close();
  fs::remove(path);
}

TEST(GetFullPath, MakesNamesAbsolute) {
  ClString full;
  GetFullPath(full, "some.h");
  const std::string expected = (fs::current_path() / "some.h").string();
  EXPECT_EQ(expected, full.GetText());
  // Linux paths may be longer than MAX_PATH, which limits Windows' ANSI calls.
  if (kPathSeparator == '\\') return;
  const std::string name(300, 'n');
  GetFullPath(full, name.c_str());
  EXPECT_EQ(name, std::string(full.GetText()).substr(full.GetLength() - 300));
}

}  // namespace
