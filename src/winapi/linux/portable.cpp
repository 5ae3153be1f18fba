// The Linux side of what portable.h adds to the Win32 API beyond faults and
// allocation: replacing a file in one step and the call-stack walk.
#include <sys/stat.h>

#include <string>

#include "winapi/linux/syscalls.h"
#include "winapi/winapi.h"

// rename(2) replaces in one step whatever holds the target open, and the
// layer's ReplaceFileA keeps the owner, the permissions and the link.
bool ReplaceFileInOneStep(const char* target, const char* replacement) {
  return ReplaceFileA(target, replacement, nullptr, 0, nullptr, nullptr) != FALSE;
}

// The name a dangling link leads to, followed as the kernel would (at most
// 40 links); `name` itself when it is no link.
std::string FinalName(const char* name) {
  std::string path(name);
  for (int links = 0; links < 40; ++links) {
    struct stat st;
    if (sys.lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) break;
    char target[4096];
    const ssize_t length = sys.readlink(path.c_str(), target, sizeof target);
    if (length <= 0 || static_cast<size_t>(length) >= sizeof target) break;
    std::string next(target, static_cast<size_t>(length));
    const size_t slash = path.find_last_of('/');
    if (next[0] != '/' && slash != std::string::npos) next = path.substr(0, slash + 1) + next;
    path = next;
  }
  return path;
}

bool MoveFileIntoPlace(const char* target, const char* replacement) {
  return MoveFileExA(replacement, FinalName(target).c_str(), MOVEFILE_WRITE_THROUGH) != FALSE;
}

// Frames are chained by saved frame pointers (-fno-omit-frame-pointer).
uint32_t WalkStackFrom(const void*, StackWalkRecord*, uint32_t) { return kNoStackUnwinder; }
