#include "base/path_name.h"

#include <gtest/gtest.h>

namespace {

std::string Forced(const char* path, const char* ext, char separator) {
  ClPathName name(ClString(path), separator);
  name.SetExtension(ClStringRange(ClString(ext)));
  ClString out;
  name.GetPath(out);
  return out.GetText();
}

struct Case {
  const char* path;
  const char* ext;
  const char* windows;  // backslash separates
  const char* posix;    // slash separates
};

// The extension of the last component is always replaced, and added when
// missing; a dot in a folder's name never counts.
const Case kCases[] = {
    {"a\\b.c\\name.txt", "h", "a\\b.c\\name.h", "a\\b.c\\name.h"},
    {"a/b.c/name.txt", "h", "a/b.c/name.h", "a/b.c/name.h"},
    {"a\\b.c\\name", "h", "a\\b.c\\name.h", "a\\b.h"},
    {"a/b.c/name", "h", "a/b.h", "a/b.c/name.h"},
    {"name", "h", "name.h", "name.h"},
    {"name.", "h", "name.h", "name.h"},
    {"a.b.c", "h", "a.b.h", "a.b.h"},
    {".profile", "h", ".h", ".h"},
    {"dir\\", "h", "dir\\.h", "dir\\.h"},
    {"dir/", "h", "dir/.h", "dir/.h"},
    {"Tickwright.h", "bat", "Tickwright.bat", "Tickwright.bat"},
    {"make.cmd", "bat", "make.bat", "make.bat"},
    {"src\\Tickwright.h", "bat", "src\\Tickwright.bat", "src\\Tickwright.bat"},
    {"", "h", ".h", ".h"},
};

TEST(ClPathName, ForcesTheExtensionOfTheLastComponent) {
  for (const Case& c : kCases) {
    EXPECT_EQ(c.windows, Forced(c.path, c.ext, '\\')) << c.path;
    EXPECT_EQ(c.posix, Forced(c.path, c.ext, '/')) << c.path;
  }
}

// Found by fuzz/path_name_fuzz.cpp: the second extension was ignored.
TEST(ClPathName, ForcingAgainAfterGetPathTakesTheNewExtension) {
  const Case cases[] = {{"dir/", "bat", "", "dir/.bat"},
                        {"a/b.c/name.txt", "bat", "", "a/b.c/name.bat"},
                        {"name", "", "", "name."},
                        {".profile", "bat", "", ".bat"}};
  for (const Case& c : cases) {
    ClPathName name(ClString(c.path), '/');
    ClString out;
    name.SetExtension(ClStringRange(ClString("h")));
    name.GetPath(out);
    name.SetExtension(ClStringRange(ClString(c.ext)));
    name.GetPath(out);
    EXPECT_STREQ(c.posix, out.GetText()) << c.path;
  }
}

}  // namespace
