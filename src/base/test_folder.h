// A fresh folder for each test of files, removed afterwards (read-only files
// included).
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "base/string.h"

class TestFolder : public testing::Test {
 protected:
  void SetUp() override {
    folder = std::filesystem::temp_directory_path() /
             ("tw-test-" + std::to_string(GetCurrentProcessId()) + "-" +
              testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
  }
  void TearDown() override {
    std::error_code ignored;
    for (auto& entry : std::filesystem::directory_iterator(folder))
      std::filesystem::permissions(entry, std::filesystem::perms::owner_write,
                                   std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(folder);
  }

  ClString Path(const char* name) const { return ClString((folder / name).string().c_str()); }
  void Create(const char* name, const std::string& content) const {
    std::ofstream(folder / name, std::ios::binary) << content;
  }
  // Without write permission: read-only on Windows too.
  void MakeReadOnly(const char* name) const {
    using std::filesystem::perms;
    std::filesystem::permissions(folder / name,
                                 perms::owner_write | perms::group_write | perms::others_write,
                                 std::filesystem::perm_options::remove);
  }
  std::string Content(const char* name) const {
    std::ifstream in(folder / name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  size_t FilesInFolder() const {
    return static_cast<size_t>(std::distance(std::filesystem::directory_iterator(folder), {}));
  }

  std::filesystem::path folder;
};
