// What the server's tests share on both systems: a temporary folder, working copies' modes.
#pragma once

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform.h"

// Removes every write permission, as SourceSafe leaves a working copy.
inline void MakeReadOnly(const std::string& path) {
  using std::filesystem::perms;
  std::filesystem::permissions(path, perms::owner_write | perms::group_write | perms::others_write,
                               std::filesystem::perm_options::remove);
}

// Whether anybody may write the file (any write permission bit).
inline bool IsWritable(const std::string& path) {
  using std::filesystem::perms;
  const perms mode = std::filesystem::status(path).permissions();
  return (mode & (perms::owner_write | perms::group_write | perms::others_write)) != perms::none;
}

// A fresh folder, removed with all in it at the end; its paths spelled as the server does.
class TemporaryFolder {
 public:
  TemporaryFolder() {
    auto seed = std::chrono::steady_clock::now().time_since_epoch().count();
    std::error_code error;
    // Past the folders of other tests that run meanwhile.
    for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
      const auto path = std::filesystem::temp_directory_path() / ("twss-" + std::to_string(seed++));
      if (std::filesystem::create_directory(path, error)) path_ = FullPath(path.string());
    }
  }
  ~TemporaryFolder() {
    std::error_code ignored;  // Windows deletes no read-only file
    for (const auto& entry : std::filesystem::recursive_directory_iterator(path_, ignored)) {
      std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_write,
                                   std::filesystem::perm_options::add, ignored);
    }
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  TemporaryFolder(const TemporaryFolder&) = delete;
  TemporaryFolder& operator=(const TemporaryFolder&) = delete;

  const std::string& Path() const { return path_; }
  std::string operator/(std::string name) const {
    for (char& c : name) c = c == '/' ? kServerPathSeparator : c;
    return JoinPath(path_, name);
  }
  // Writes a read-only file (creating its folder), as an added working copy is.
  std::string WriteReadOnly(const std::string& name) const {
    std::string path = *this / name;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << "// 1\n";
    MakeReadOnly(path);
    return path;
  }

 private:
  std::string path_;
};
