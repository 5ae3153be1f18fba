// Tests of the errno -> Win32 table and of the texts FormatMessageA gives.
#include <errno.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>

#include <filesystem>
#include <string>

#include "winapi/linux/api.h"
#include "winapi/linux/last_error.h"

namespace {

TEST(ErrorsTest, ErrnoMapsToWin32Codes) {
  struct Case {
    int error;
    DWORD code;
  };
  const Case kCases[] = {
      {ENOENT, ERROR_FILE_NOT_FOUND},
      {ENOTDIR, ERROR_PATH_NOT_FOUND},
      {EACCES, ERROR_ACCESS_DENIED},
      {EPERM, ERROR_ACCESS_DENIED},
      {EROFS, ERROR_ACCESS_DENIED},
      {EISDIR, ERROR_ACCESS_DENIED},
      {ENOSPC, ERROR_DISK_FULL},
      {EFBIG, ERROR_FILE_TOO_LARGE},
      {ENAMETOOLONG, ERROR_FILENAME_EXCED_RANGE},
      {EPIPE, ERROR_NO_DATA},
      {EWOULDBLOCK, ERROR_SHARING_VIOLATION},
  };
  for (const Case& c : kCases) EXPECT_EQ(Win32ErrorFromErrno(c.error), c.code) << strerror(c.error);
}

TEST(ErrorsTest, MissingFolderOnTheWayIsPathNotFound) {
  namespace fs = std::filesystem;
  std::string dir = (fs::temp_directory_path() / "errors_test.XXXXXX").string();
  ASSERT_NE(mkdtemp(dir.data()), nullptr);
  EXPECT_EQ(Win32ErrorFromErrno(ENOENT, (dir + "/missing").c_str()), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(Win32ErrorFromErrno(ENOENT, (dir + "/missing/f").c_str()), ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(Win32ErrorFromErrno(ENOENT, "missing-in-current-folder"), ERROR_FILE_NOT_FOUND);
  fs::remove(dir);
}

std::string SystemText(DWORD code, DWORD size = 256) {
  char buffer[256];
  DWORD length =
      FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, code, 0, buffer, size, nullptr);
  return std::string(buffer, length);
}

TEST(ErrorsTest, FormatMessageGivesTheTextOfTheErrnoBehindACode) {
  SetLastErrorFromErrno(EROFS);
  EXPECT_EQ(SystemText(GetLastError()), std::string(strerror(EROFS)) + "\r\n");
  SetLastErrorFromErrno(EACCES);
  EXPECT_EQ(SystemText(ERROR_ACCESS_DENIED), std::string(strerror(EACCES)) + "\r\n");
  // Codes the layer sets without an errno have texts too.
  EXPECT_TRUE(SystemText(ERROR_SHARING_VIOLATION).ends_with("\r\n"));
  EXPECT_TRUE(SystemText(ERROR_ALREADY_EXISTS).ends_with("\r\n"));

  EXPECT_EQ(SystemText(ERROR_ACCESS_DENIED, 4), "");
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(SystemText(0x12345), "");
}

}  // namespace
