// What the server's tests share, on both systems: a temporary folder, the
// write permission of working copies and the environment the server reads.
#pragma once

#include <stdlib.h>

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
  std::error_code error;
  const perms mode = std::filesystem::status(path, error).permissions();
  return !error && (mode & (perms::owner_write | perms::group_write | perms::others_write)) !=
                       perms::none;
}

// Sets (or with null, removes) an environment variable that the server reads.
inline void SetVariable(const char* name, const char* value) {
#ifdef _WIN32
  SetEnvironmentVariableA(name, value);
#else
  if (value) {
    setenv(name, value, 1);
  } else {
    unsetenv(name);
  }
#endif
}

// A fresh folder, removed with everything in it when the object goes. Paths
// in it are spelled as the server spells them (FullPath, its separator).
class TemporaryFolder {
 public:
  TemporaryFolder() {
    const auto base = std::filesystem::temp_directory_path();
    auto seed = std::chrono::steady_clock::now().time_since_epoch().count();
    std::error_code error;
    for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
      const auto path = base / ("twss-" + std::to_string(seed++));
      if (std::filesystem::create_directory(path, error)) path_ = FullPath(path.string());
    }
  }
  ~TemporaryFolder() {
    // Windows deletes no read-only file.
    std::error_code ignored;
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
