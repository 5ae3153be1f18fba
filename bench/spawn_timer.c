// Times programs the way a build step starts them: each run is one
// posix_spawn and wait, measured from just before the spawn to the end of the
// wait, with standard output to /dev/null. The commands take turns (A B A B),
// so that a change in the machine's load falls on all of them alike. Each run
// is a session of its own, without a terminal to ask questions on.
//   spawn_timer ROUNDS COMMAND... [-- COMMAND...]...
// Prints one line per run: round, command number, nanoseconds, exit code and
// peak resident memory in KiB. The environment is passed on.
#define _GNU_SOURCE
#include <fcntl.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

extern char** environ;

enum { kMaxCommands = 16 };

static long long Now(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return t.tv_sec * 1000000000LL + t.tv_nsec;
}

int main(int argc, char** argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: spawn_timer ROUNDS COMMAND... [-- COMMAND...]...\n");
    return 2;
  }
  const int rounds = atoi(argv[1]);
  char** commands[kMaxCommands];
  int count = 0;
  commands[count++] = &argv[2];
  for (int i = 2; i < argc && count < kMaxCommands; ++i) {
    if (strcmp(argv[i], "--") == 0) {
      argv[i] = NULL;
      commands[count++] = &argv[i + 1];
    }
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
  for (int round = 0; round < rounds; ++round) {
    for (int c = 0; c < count; ++c) {
      pid_t pid;
      int status;
      struct rusage usage;
      const long long start = Now();
      if (posix_spawn(&pid, commands[c][0], &actions, &attributes, commands[c], environ) != 0) {
        perror(commands[c][0]);
        return 2;
      }
      if (wait4(pid, &status, 0, &usage) != pid) {
        perror("wait4");
        return 2;
      }
      const long long elapsed = Now() - start;
      printf("%d %d %lld %d %ld\n", round, c, elapsed, WIFEXITED(status) ? WEXITSTATUS(status) : -1,
             usage.ru_maxrss);
    }
  }
  return 0;
}
