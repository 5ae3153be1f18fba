// Test-only failing system calls, built into the fault probe alone: at
// start-up the layer's system-call table is wrapped so that one chosen call
// fails, and every call can be logged with the file it concerns. Two
// environment variables drive it:
//
//   TICKWRIGHT_FAIL_CALL=kind:n[:errno]  the n-th call (from 1) of that kind
//       fails with that errno (a name below, default EIO) and does nothing;
//       with KILL in place of the errno the process is killed (SIGKILL)
//       just before the call.
//   TICKWRIGHT_CALL_LOG=path  every call is appended to `path` as one line
//       "kind<TAB>n<TAB>name[<TAB>second name]", a descriptor named by the
//       file it is open on.
//
// Kinds group the table's entries: open, read (read, pread), write (write,
// pwrite), flush (fsync), rename (rename, renameat2, link), stat (stat,
// lstat, fstat, faccessat, getxattr, the inode flags, the umask, which never
// fails), chmod (fchmod, chmod), lock (flock), control (fcntl), limit
// (getrlimit, setrlimit), close (close, closedir), list (opendir, readdir),
// terminal (tcgetattr, tcsetattr, tcgetpgrp), descriptor (dup3, eventfd,
// pipe2), and truncate, chown, unlink, readlink, getcwd, allocate
// (fallocate), mkdir, poll.
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>

#include "winapi/linux/syscalls.h"

namespace {

enum Kind {
  kOpen,
  kRead,
  kWrite,
  kFlush,
  kRename,
  kStat,
  kChmod,
  kLock,
  kTruncate,
  kChown,
  kUnlink,
  kClose,
  kReadlink,
  kGetcwd,
  kAllocate,
  kControl,
  kLimit,
  kMkdir,
  kList,
  kTerminal,
  kPoll,
  kDescriptor,
  kKindCount
};

const char* const kKindNames[kKindCount] = {
    "open",     "read",  "write",  "flush",    "rename",   "stat",      "chmod",    "lock",
    "truncate", "chown", "unlink", "close",    "readlink", "getcwd",    "allocate", "control",
    "limit",    "mkdir", "list",   "terminal", "poll",     "descriptor"};

constexpr int kKill = -1;  // not an errno: the process is killed

struct ErrnoName {
  const char* name;
  int value;
};
const ErrnoName kErrnos[] = {{"EIO", EIO},       {"ENOSPC", ENOSPC}, {"EXDEV", EXDEV},
                             {"EACCES", EACCES}, {"EPERM", EPERM},   {"KILL", kKill}};

int failKind = -1;
unsigned failOrdinal = 0;
int failErrno = EIO;
unsigned counts[kKindCount];
int logFd = -1;

// The file that descriptor `fd` is open on, as the kernel names it.
std::string NameOf(int fd) {
  char link[32];
  snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  char target[4096];
  ssize_t length = ::readlink(link, target, sizeof target - 1);
  if (length < 0) return "fd:" + std::to_string(fd);
  return std::string(target, static_cast<size_t>(length));
}

// Counts a call, logs it, and tells whether it is the one to fail; then
// errno holds the failure. The log and the name lookups bypass the table.
bool Fails(Kind kind, const std::string& name, const char* second = nullptr) {
  const unsigned ordinal = ++counts[kind];
  if (logFd >= 0) {
    int saved = errno;
    std::string line = std::string(kKindNames[kind]) + '\t' + std::to_string(ordinal) + '\t' + name;
    if (second) line += std::string("\t") + second;
    line += '\n';
    // One write of an O_APPEND descriptor: lines stay whole. A lost line
    // shows in the test as a call missing from the log.
    ssize_t written = ::write(logFd, line.data(), line.size());
    (void)written;
    errno = saved;
  }
  if (kind != failKind || ordinal != failOrdinal) return false;
  if (failErrno == kKill) ::kill(::getpid(), SIGKILL);
  errno = failErrno;
  return true;
}
bool FailsOnFd(Kind kind, int fd) { return Fails(kind, logFd >= 0 ? NameOf(fd) : std::string()); }

int Open(const char* path, int flags, mode_t mode) {
  return Fails(kOpen, path) ? -1 : realSyscalls.open(path, flags, mode);
}
ssize_t Read(int fd, void* buffer, size_t count) {
  return FailsOnFd(kRead, fd) ? -1 : realSyscalls.read(fd, buffer, count);
}
ssize_t Write(int fd, const void* buffer, size_t count) {
  return FailsOnFd(kWrite, fd) ? -1 : realSyscalls.write(fd, buffer, count);
}
int Fsync(int fd) { return FailsOnFd(kFlush, fd) ? -1 : realSyscalls.fsync(fd); }
int Rename(const char* from, const char* to) {
  return Fails(kRename, from, to) ? -1 : realSyscalls.rename(from, to);
}
int Renameat2(int fromFolder, const char* from, int toFolder, const char* to, unsigned flags) {
  return Fails(kRename, from, to) ? -1
                                  : realSyscalls.renameat2(fromFolder, from, toFolder, to, flags);
}
int Stat(const char* path, struct stat* st) {
  return Fails(kStat, path) ? -1 : realSyscalls.stat(path, st);
}
int Lstat(const char* path, struct stat* st) {
  return Fails(kStat, path) ? -1 : realSyscalls.lstat(path, st);
}
int Fstat(int fd, struct stat* st) {
  return FailsOnFd(kStat, fd) ? -1 : realSyscalls.fstat(fd, st);
}
int Fchmod(int fd, mode_t mode) {
  return FailsOnFd(kChmod, fd) ? -1 : realSyscalls.fchmod(fd, mode);
}
int Chmod(const char* path, mode_t mode) {
  return Fails(kChmod, path) ? -1 : realSyscalls.chmod(path, mode);
}
int Flock(int fd, int operation) {
  return FailsOnFd(kLock, fd) ? -1 : realSyscalls.flock(fd, operation);
}
int Ftruncate(int fd, off_t length) {
  return FailsOnFd(kTruncate, fd) ? -1 : realSyscalls.ftruncate(fd, length);
}
int Fchown(int fd, uid_t owner, gid_t group) {
  return FailsOnFd(kChown, fd) ? -1 : realSyscalls.fchown(fd, owner, group);
}
int Unlink(const char* path) { return Fails(kUnlink, path) ? -1 : realSyscalls.unlink(path); }
// Linux releases the descriptor even when close fails, so a failing close
// closes too.
int Close(int fd) {
  if (!FailsOnFd(kClose, fd)) return realSyscalls.close(fd);
  int injected = errno;
  realSyscalls.close(fd);
  errno = injected;
  return -1;
}
ssize_t Readlink(const char* path, char* buffer, size_t size) {
  return Fails(kReadlink, path) ? -1 : realSyscalls.readlink(path, buffer, size);
}
char* Getcwd(char* buffer, size_t size) {
  return Fails(kGetcwd, "") ? nullptr : realSyscalls.getcwd(buffer, size);
}
ssize_t Pread(int fd, void* buffer, size_t count, off_t offset) {
  return FailsOnFd(kRead, fd) ? -1 : realSyscalls.pread(fd, buffer, count, offset);
}
ssize_t Pwrite(int fd, const void* buffer, size_t count, off_t offset) {
  return FailsOnFd(kWrite, fd) ? -1 : realSyscalls.pwrite(fd, buffer, count, offset);
}
int Fallocate(int fd, int mode, off_t offset, off_t length) {
  return FailsOnFd(kAllocate, fd) ? -1 : realSyscalls.fallocate(fd, mode, offset, length);
}
int Faccessat(int folder, const char* path, int mode, int flags) {
  return Fails(kStat, path) ? -1 : realSyscalls.faccessat(folder, path, mode, flags);
}
ssize_t Getxattr(const char* path, const char* name, void* value, size_t size) {
  return Fails(kStat, path) ? -1 : realSyscalls.getxattr(path, name, value, size);
}
int Fcntl(int fd, int command, int argument) {
  return FailsOnFd(kControl, fd) ? -1 : realSyscalls.fcntl(fd, command, argument);
}
int Getrlimit(int resource, struct rlimit* limit) {
  return Fails(kLimit, "") ? -1 : realSyscalls.getrlimit(resource, limit);
}
int Setrlimit(int resource, const struct rlimit* limit) {
  return Fails(kLimit, "") ? -1 : realSyscalls.setrlimit(resource, limit);
}
int Link(const char* from, const char* to) {
  return Fails(kRename, from, to) ? -1 : realSyscalls.link(from, to);
}
int GetInodeFlags(int fd, int* flags) {
  return FailsOnFd(kStat, fd) ? -1 : realSyscalls.getInodeFlags(fd, flags);
}
mode_t GetUmask() {
  Fails(kStat, "");
  return realSyscalls.getUmask();
}
int Mkdir(const char* path, mode_t mode) {
  return Fails(kMkdir, path) ? -1 : realSyscalls.mkdir(path, mode);
}
DIR* Opendir(const char* path) { return Fails(kList, path) ? nullptr : realSyscalls.opendir(path); }
struct dirent* Readdir(DIR* folder) {
  return FailsOnFd(kList, dirfd(folder)) ? nullptr : realSyscalls.readdir(folder);
}
// As close: the folder is released even when closing it fails.
int Closedir(DIR* folder) {
  if (!FailsOnFd(kClose, dirfd(folder))) return realSyscalls.closedir(folder);
  int injected = errno;
  realSyscalls.closedir(folder);
  errno = injected;
  return -1;
}
int Tcgetattr(int fd, struct termios* modes) {
  return FailsOnFd(kTerminal, fd) ? -1 : realSyscalls.tcgetattr(fd, modes);
}
int Tcsetattr(int fd, int when, const struct termios* modes) {
  return FailsOnFd(kTerminal, fd) ? -1 : realSyscalls.tcsetattr(fd, when, modes);
}
pid_t Tcgetpgrp(int fd) { return FailsOnFd(kTerminal, fd) ? -1 : realSyscalls.tcgetpgrp(fd); }
int Poll(struct pollfd* descriptors, nfds_t count, int milliseconds) {
  return FailsOnFd(kPoll, count ? descriptors[0].fd : -1)
             ? -1
             : realSyscalls.poll(descriptors, count, milliseconds);
}
int Dup3(int from, int to, int flags) {
  return FailsOnFd(kDescriptor, from) ? -1 : realSyscalls.dup3(from, to, flags);
}
int Eventfd(unsigned int initial, int flags) {
  return Fails(kDescriptor, "eventfd") ? -1 : realSyscalls.eventfd(initial, flags);
}
int Pipe2(int* ends, int flags) {
  return Fails(kDescriptor, "pipe") ? -1 : realSyscalls.pipe2(ends, flags);
}

// Reads TICKWRIGHT_FAIL_CALL; a text that names no kind fails nothing, which
// the tests notice as a run that did not fail.
void ParseFailure(const char* text) {
  std::string spec = text;
  size_t colon = spec.find(':');
  if (colon == std::string::npos) return;
  const std::string kind = spec.substr(0, colon);
  std::string rest = spec.substr(colon + 1);
  size_t second = rest.find(':');
  failOrdinal = static_cast<unsigned>(strtoul(rest.substr(0, second).c_str(), nullptr, 10));
  if (second != std::string::npos) {
    const std::string name = rest.substr(second + 1);
    for (const ErrnoName& entry : kErrnos) {
      if (name == entry.name) failErrno = entry.value;
    }
  }
  for (int k = 0; k < kKindCount; ++k) {
    if (kind == kKindNames[k]) failKind = k;
  }
}

// Before main: the table is constant-initialised (see syscalls.cpp), so it
// stands before any dynamic initialiser runs.
struct Installer {
  Installer() {
    const char* failure = getenv("TICKWRIGHT_FAIL_CALL");
    const char* log = getenv("TICKWRIGHT_CALL_LOG");
    if (!failure && !log) return;
    if (failure) ParseFailure(failure);
    if (log) logFd = ::open(log, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    sys = LinuxSyscalls{
        .open = Open,
        .close = Close,
        .read = Read,
        .write = Write,
        .fstat = Fstat,
        .stat = Stat,
        .lstat = Lstat,
        .flock = Flock,
        .ftruncate = Ftruncate,
        .fsync = Fsync,
        .fchmod = Fchmod,
        .chmod = Chmod,
        .rename = Rename,
        .unlink = Unlink,
        .readlink = Readlink,
        .getcwd = Getcwd,
        .fchown = Fchown,
        .renameat2 = Renameat2,
        .pread = Pread,
        .pwrite = Pwrite,
        .fallocate = Fallocate,
        .faccessat = Faccessat,
        .getxattr = Getxattr,
        .fcntl = Fcntl,
        .getrlimit = Getrlimit,
        .setrlimit = Setrlimit,
        .link = Link,
        .getInodeFlags = GetInodeFlags,
        .getUmask = GetUmask,
        .mkdir = Mkdir,
        .opendir = Opendir,
        .readdir = Readdir,
        .closedir = Closedir,
        .tcgetattr = Tcgetattr,
        .tcsetattr = Tcsetattr,
        .tcgetpgrp = Tcgetpgrp,
        .poll = Poll,
        .dup3 = Dup3,
        .eventfd = Eventfd,
        .pipe2 = Pipe2,
    };
  }
} installer;

}  // namespace
