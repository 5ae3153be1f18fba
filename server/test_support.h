// What the server's tests share: a temporary folder and environment
// variables set for one test.
#pragma once

#include <stdlib.h>

#include <string>
#include <vector>

// A fresh folder, removed with everything in it when the object goes.
class TemporaryFolder {
 public:
  TemporaryFolder();
  ~TemporaryFolder();
  TemporaryFolder(const TemporaryFolder&) = delete;
  TemporaryFolder& operator=(const TemporaryFolder&) = delete;

  const std::string& Path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }
  // Writes a file (creating its folder) and gives its full path.
  std::string WriteFile(const std::string& name, const std::string& content) const;

 private:
  std::string path_;
};

// Sets (or, with null, unsets) an environment variable until the object goes.
class ScopedEnvironment {
 public:
  ScopedEnvironment(const char* name, const char* value);
  ~ScopedEnvironment();
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

 private:
  std::string name_;
  std::string old_;
  bool had_;
};

// Whether anybody may write the file (any write permission bit).
bool IsWritable(const std::string& path);
// Makes the file read-only, as an added working copy is.
void MakeReadOnly(const std::string& path);
