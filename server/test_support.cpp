// The server tests' temporary folders and environment.
#include "test_support.h"

#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace {

int RemoveEntry(const char* path, const struct stat*, int, struct FTW*) { return remove(path); }

}  // namespace

TemporaryFolder::TemporaryFolder() {
  std::string pattern =
      (getenv("TMPDIR") ? getenv("TMPDIR") : "/tmp") + std::string("/twss-XXXXXX");
  path_ = mkdtemp(pattern.data()) ? pattern : "";
}

TemporaryFolder::~TemporaryFolder() {
  if (!path_.empty()) nftw(path_.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
}

std::string TemporaryFolder::WriteFile(const std::string& name, const std::string& content) const {
  std::string path = *this / name;
  mkdir(path.substr(0, path.rfind('/')).c_str(), 0755);
  std::ofstream(path, std::ios::binary) << content;
  return path;
}

ScopedEnvironment::ScopedEnvironment(const char* name, const char* value) : name_(name) {
  const char* old = getenv(name);
  had_ = old != nullptr;
  if (had_) old_ = old;
  if (value) {
    setenv(name, value, 1);
  } else {
    unsetenv(name);
  }
}

ScopedEnvironment::~ScopedEnvironment() {
  if (had_) {
    setenv(name_.c_str(), old_.c_str(), 1);
  } else {
    unsetenv(name_.c_str());
  }
}

bool IsWritable(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 && (info.st_mode & 0222) != 0;
}

void MakeReadOnly(const std::string& path) { chmod(path.c_str(), 0444); }
