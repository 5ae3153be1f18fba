// The table of system calls that the layer makes (see syscalls.h).
#include "winapi/linux/syscalls.h"

#include <errno.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/xattr.h>
#include <termios.h>
#include <unistd.h>

namespace {

int Open(const char* path, int flags, mode_t mode) { return ::open(path, flags, mode); }
int Stat(const char* path, struct stat* st) { return ::stat(path, st); }
int Lstat(const char* path, struct stat* st) { return ::lstat(path, st); }
int Fstat(int fd, struct stat* st) { return ::fstat(fd, st); }
int Fcntl(int fd, int command, int argument) { return ::fcntl(fd, command, argument); }
int Getrlimit(int resource, struct rlimit* limit) {
  return ::getrlimit(static_cast<__rlimit_resource_t>(resource), limit);
}
int Setrlimit(int resource, const struct rlimit* limit) {
  return ::setrlimit(static_cast<__rlimit_resource_t>(resource), limit);
}
int GetInodeFlags(int fd, int* flags) { return ::ioctl(fd, FS_IOC_GETFLAGS, flags); }
int Mkdir(const char* path, mode_t mode) { return ::mkdir(path, mode); }
int Pipe2(int* ends, int flags) { return ::pipe2(ends, flags); }
mode_t GetUmask() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return mask;
}

}  // namespace

// Constant-initialised, so that the table stands before any dynamic
// initialiser runs, one that wraps it for a test included.
constexpr LinuxSyscalls realSyscalls = {
    .open = Open,
    .close = ::close,
    .read = ::read,
    .write = ::write,
    .fstat = Fstat,
    .stat = Stat,
    .lstat = Lstat,
    .flock = ::flock,
    .ftruncate = ::ftruncate,
    .fsync = ::fsync,
    .fchmod = ::fchmod,
    .chmod = ::chmod,
    .rename = ::rename,
    .unlink = ::unlink,
    .readlink = ::readlink,
    .getcwd = ::getcwd,
    .fchown = ::fchown,
    .renameat2 = ::renameat2,
    .pread = ::pread,
    .pwrite = ::pwrite,
    .fallocate = ::fallocate,
    .faccessat = ::faccessat,
    .getxattr = ::getxattr,
    .fcntl = Fcntl,
    .getrlimit = Getrlimit,
    .setrlimit = Setrlimit,
    .link = ::link,
    .getInodeFlags = GetInodeFlags,
    .getUmask = GetUmask,
    .mkdir = Mkdir,
    .opendir = ::opendir,
    .readdir = ::readdir,
    .closedir = ::closedir,
    .tcgetattr = ::tcgetattr,
    .tcsetattr = ::tcsetattr,
    .tcgetpgrp = ::tcgetpgrp,
    .poll = ::poll,
    .dup3 = ::dup3,
    .eventfd = ::eventfd,
    .pipe2 = Pipe2,
};

constinit LinuxSyscalls sys = realSyscalls;
