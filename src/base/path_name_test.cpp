// The cases forcing an extension are fuzz/path_name_fuzz.cpp's, which checks each against the
// rule; this keeps its finding.
#include "base/path_name.h"

#include <gtest/gtest.h>

namespace {

// Found by fuzz/path_name_fuzz.cpp: the second extension was ignored.
TEST(ClPathName, ForcingAgainAfterGetPathTakesTheNewExtension) {
  const struct {
    const char* path;
    const char* ext;
    const char* expected;
  } kCases[] = {{"dir/", "bat", "dir/.bat"},
                {"a/b.c/name.txt", "bat", "a/b.c/name.bat"},
                {"name", "", "name."},
                {".profile", "bat", ".bat"}};
  for (const auto& c : kCases) {
    ClPathName name(ClString(c.path), '/');
    ClString out;
    name.SetExtension(ClStringRange(ClString("h")));
    name.GetPath(out);
    name.SetExtension(ClStringRange(ClString(c.ext)));
    name.GetPath(out);
    EXPECT_STREQ(c.expected, out.GetText()) << c.path;
  }
}

}  // namespace
