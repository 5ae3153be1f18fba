// The table of system calls that the layer makes (see syscalls.h).
#include "winapi/linux/syscalls.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <linux/fs.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace {

int Open(const char* path, int flags, mode_t mode) { return ::open(path, flags, mode); }
int Stat(const char* path, struct stat* st) { return ::stat(path, st); }
int Lstat(const char* path, struct stat* st) { return ::lstat(path, st); }
int Fstat(int fd, struct stat* st) { return ::fstat(fd, st); }
int LockRange(int fd, int command, struct flock* range) { return ::fcntl(fd, command, range); }
int Fcntl(int fd, int command, int argument) { return ::fcntl(fd, command, argument); }
int Getrlimit(int resource, struct rlimit* limit) {
  return ::getrlimit(static_cast<__rlimit_resource_t>(resource), limit);
}
int GetInodeFlags(int fd, int* flags) { return ::ioctl(fd, FS_IOC_GETFLAGS, flags); }
mode_t GetUmask() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return mask;
}
int Fadvise(int fd, off_t offset, off_t length, int advice) {
  int error = ::posix_fadvise(fd, offset, length, advice);
  if (error == 0) return 0;
  errno = error;
  return -1;
}

}  // namespace

// Constant-initialised, so that the table stands before any dynamic
// initialiser runs, one that wraps it for a test included.
constexpr LinuxSyscalls realSyscalls = {
    Open,       ::close,     ::read,      ::write,   Fstat,      Stat,        Lstat,
    ::flock,    ::ftruncate, ::fsync,     ::fchmod,  ::chmod,    ::rename,    ::unlink,
    ::mkstemps, ::readlink,  ::getcwd,    Fadvise,   ::fchown,   ::renameat2, ::pread,
    ::pwrite,   ::fallocate, ::faccessat, LockRange, ::getxattr, Fcntl,       Getrlimit,
    ::link,     GetInodeFlags, GetUmask,
};

constinit LinuxSyscalls sys = realSyscalls;
