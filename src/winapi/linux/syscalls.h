// The system calls that the Linux layer makes on files, folders, descriptors
// and terminals, behind one table that tests can replace entry by entry, so
// that disk-full, short writes, sharing violations and failing renames are
// tested without root. Layer code calls sys.open(...), never ::open(...)
// directly. Outside the table stay what no test needs to fail: signals and
// their masks, the dynamic loader, memory (the fault layer's stacks and the
// reads of our own memory behind ReadProcessMemory) and calls that cannot
// fail (getpid, getpgrp, sysconf); and the calls of the fault handler, which
// may have stopped the thread anywhere, inside the table's test wrappers too.
#pragma once

#include <dirent.h>
#include <errno.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/uio.h>

struct rlimit;
struct termios;

struct LinuxSyscalls {
  int (*open)(const char* path, int flags, mode_t mode);
  int (*close)(int fd);
  ssize_t (*read)(int fd, void* buffer, size_t count);
  ssize_t (*write)(int fd, const void* buffer, size_t count);
  int (*fstat)(int fd, struct stat* st);
  int (*stat)(const char* path, struct stat* st);
  int (*lstat)(const char* path, struct stat* st);
  int (*flock)(int fd, int operation);
  int (*ftruncate)(int fd, off_t length);
  int (*fsync)(int fd);
  int (*fchmod)(int fd, mode_t mode);
  int (*chmod)(const char* path, mode_t mode);
  int (*rename)(const char* from, const char* to);
  int (*unlink)(const char* path);
  ssize_t (*readlink)(const char* path, char* buffer, size_t size);
  char* (*getcwd)(char* buffer, size_t size);
  int (*fchown)(int fd, uid_t owner, gid_t group);
  int (*renameat2)(int fromFolder, const char* from, int toFolder, const char* to,
                   unsigned int flags);
  ssize_t (*pread)(int fd, void* buffer, size_t count, off_t offset);
  ssize_t (*pwrite)(int fd, const void* buffer, size_t count, off_t offset);
  int (*fallocate)(int fd, int mode, off_t offset, off_t length);
  int (*faccessat)(int folder, const char* path, int mode, int flags);
  ssize_t (*getxattr)(const char* path, const char* name, void* value, size_t size);
  // fcntl() with an int argument (F_DUPFD_CLOEXEC, F_GETFL, F_SETFL).
  int (*fcntl)(int fd, int command, int argument);
  int (*getrlimit)(int resource, struct rlimit* limit);
  int (*setrlimit)(int resource, const struct rlimit* limit);
  int (*link)(const char* from, const char* to);
  // The inode flags (FS_IOC_GETFLAGS): append-only, immutable and the like.
  int (*getInodeFlags)(int fd, int* flags);
  // The process's umask, left as it was (it cannot fail).
  mode_t (*getUmask)();
  int (*mkdir)(const char* path, mode_t mode);
  DIR* (*opendir)(const char* path);
  // Null with errno unchanged at the end of the folder.
  struct dirent* (*readdir)(DIR* folder);
  int (*closedir)(DIR* folder);
  int (*tcgetattr)(int fd, struct termios* modes);
  int (*tcsetattr)(int fd, int when, const struct termios* modes);
  pid_t (*tcgetpgrp)(int fd);
  int (*poll)(struct pollfd* descriptors, nfds_t count, int milliseconds);
  int (*dup3)(int from, int to, int flags);
  int (*eventfd)(unsigned int initial, int flags);
  int (*pipe2)(int* ends, int flags);
};

// The table in force. Starts with the real calls.
extern LinuxSyscalls sys;
// The real calls, for tests to restore or to wrap.
extern const LinuxSyscalls realSyscalls;

// Calls `call` (a system call) again for as long as a signal interrupts it.
template <typename Call>
auto RetryOnInterrupt(Call call) {
  decltype(call()) result;
  do {
    result = call();
  } while (result == -1 && errno == EINTR);
  return result;
}
