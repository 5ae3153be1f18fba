// The operating-system services of the SourceSafe server and its admin
// command. The server is loaded into other programs and cannot use the
// tool's own Win32 layer, so it keeps this small seam of its own:
// platform.cpp holds what both systems share, and the build adds
// platform_posix.cpp or platform_win32.cpp, the only files of the server that
// differ between systems.
#pragma once

#include <stdint.h>

#include <string>
#include <string_view>

#include "winapi/scoped_handle.h"
#include "winapi/winapi.h"

// What tells one version of a file from the next: replacing a file by
// renaming a new one over it changes its identity.
struct FileIdentity {
  uint64_t device = 0;
  uint64_t inode = 0;
  uint64_t size = 0;
  int64_t modified = 0;  // nanoseconds
  bool operator==(const FileIdentity&) const = default;
};

// Failures come back as false with a text that names the cause (the
// system's error text); `error` may be null where the caller needs no text.
// Files of the database that are no regular files (a FIFO, say) are refused
// at once, never waited on. The files written here other than through
// SafeWrite (the lock file, the journal) keep its rules: no link is followed,
// a file without any write permission is refused even to root, and on Linux
// a file made here is 0600 until it is whole, then gets the mode that a
// plain creation gives (0666 less the umask, so that a database shared
// through its group stays shared).

// A lock held on a lock file for as long as the object lives: shared among
// readers, exclusive for one writer. Other processes wait for it, but not
// for ever: anyone who may read the lock file can hold it.
class FileLock {
 public:
  static constexpr unsigned kWaitMs = 10000;
  // Opens (creating it if need be) and locks `path`, waiting up to `waitMs`
  // for a lock that another process holds.
  bool Acquire(const std::string& path, bool exclusive, std::string* error,
               unsigned waitMs = kWaitMs);
  void Release() { file_.Reset(); }  // closing the file drops its lock

 private:
  ScopedFile file_;
};

// The identity of `path`; false when it does not exist or cannot be read.
bool GetFileIdentity(const std::string& path, FileIdentity* identity);
// The whole content of a file, copied into `data`, and its identity when
// `identity` is given; false when it cannot be read (`missing` tells whether
// it does not exist) or when its size or time changed while it was read,
// which only a writer that ignores the database's lock can do. A copy, not a
// mapping: what such a writer does later never reaches the caller's text.
bool ReadWholeFile(const std::string& path, std::string* data, bool* missing, std::string* error,
                   FileIdentity* identity = nullptr);
// Replaces `path` by `data` through SafeWrite (winapi/safe_write.h): readers
// see the old or the new content, never a part.
bool WriteFileAtomically(const std::string& path, std::string_view data, std::string* error);
// Appends `data` to the end of `path`, creating it: all of it or, where
// that fails (a full disk, a size limit), none of it.
bool AppendToFile(const std::string& path, std::string_view data, std::string* error);
// Creates the folder `path` (its parent must exist); an existing one is fine.
bool MakeFolder(const std::string& path, std::string* error);

bool IsFile(const std::string& path);
bool IsFolder(const std::string& path);
// Write permission on or off, as SourceSafe marks working copies: on means
// writable by its owner; off removes every write permission.
bool SetWritable(const std::string& path, bool writable, std::string* error);

// The absolute form of `path`, made lexically: the current folder in front
// of a relative one, "." and ".." resolved, no links followed.
std::string FullPath(std::string_view path);
bool IsAbsolutePath(std::string_view path);
// `path`'s folder: everything before its last separator ("" when none).
std::string FolderOf(std::string_view path);
// `path`'s last component: everything after its last separator.
std::string_view FileNameOf(std::string_view path);
std::string JoinPath(std::string_view folder, std::string_view name);
// The separator of path components.
extern const char kServerPathSeparator;

// The value of an environment variable, "" when it is not set.
std::string GetEnvironment(const char* name);
// The name the user logged in with; "" when it cannot be told.
std::string LoginName();
// The current time as ISO 8601 UTC text, for the journal.
std::string TimeStamp();
// The full path of the module (library or program) that holds this code.
std::string ThisModulePath();
// The full path of the running program.
std::string ProgramPath();
// The name under which the system knows the server library beside the admin
// command ("libtwsourcesafe.so", "twsourcesafe.dll").
extern const char kServerLibraryName[];

// The registry of in-process servers: one entry per class id that names the
// server's ProgID and library. `perUser` picks the user's own registry, else
// the machine's. `where` receives the place of the entry.
bool WriteServerRegistration(REFCLSID classId, const char* progId, const std::string& library,
                             bool perUser, std::string* where, std::string* error);
// Removes the entry; `existed` tells whether there was one.
bool RemoveServerRegistration(REFCLSID classId, bool perUser, std::string* where, bool* existed,
                              std::string* error);
