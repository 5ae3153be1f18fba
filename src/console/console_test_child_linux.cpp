// Child processes for the console dialogue's tests on Linux: a fork in a new
// session whose controlling terminal is a pseudo-terminal.
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <stdio.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>

#include "console/console_test_child.h"

namespace {

void Put(int fd, const std::string& data) {
  if (write(fd, data.data(), data.size()) != static_cast<ssize_t>(data.size())) perror("write");
}

// An unlinked file, gone with its last descriptor.
int TemporaryFile() {
  FILE* file = tmpfile();
  if (!file) return -1;
  int fd = dup(fileno(file));
  fclose(file);
  return fd;
}

}  // namespace

bool ChildRunsSupported() { return true; }

ChildRun RunInChild(Stream in, const std::string& input, Stream out,
                    const std::function<int()>& body, const std::vector<KeyStep>& steps,
                    int signal) {
  ChildRun run;
  int master = -1, slave = -1;
  if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) return run;
  struct termios modes;
  tcgetattr(slave, &modes);
  modes.c_oflag &= ~OPOST;  // the bytes as written, CR LF included
  tcsetattr(slave, TCSANOW, &modes);

  int inputFd = -1, outputFds[2] = {-1, -1};
  if (in == Stream::kTerminal) {
    inputFd = dup(slave);
    Put(master, input);
  } else if (in == Stream::kFile && (inputFd = TemporaryFile()) >= 0) {
    Put(inputFd, input);
    lseek(inputFd, 0, SEEK_SET);
  } else if (int ends[2]; in == Stream::kPipe && pipe(ends) == 0) {
    Put(ends[1], input);
    close(ends[1]);
    inputFd = ends[0];
  }
  if (out == Stream::kTerminal) outputFds[1] = dup(slave);
  if (out == Stream::kFile && (outputFds[1] = TemporaryFile()) >= 0)
    outputFds[0] = dup(outputFds[1]);
  if (out == Stream::kPipe && pipe(outputFds) != 0) perror("pipe");

  fflush(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    for (int ending : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) ::signal(ending, SIG_DFL);
    setsid();
    ioctl(slave, TIOCSCTTY, 0);
    inputFd >= 0 ? dup2(inputFd, 0) : close(0);  // a missing stream stays closed
    outputFds[1] >= 0 ? dup2(outputFds[1], 1) : close(1);
    dup2(slave, 2);
    for (int fd : {master, slave, inputFd, outputFds[0], outputFds[1]})
      if (fd > 2) close(fd);
    _exit(body() & 0xff);
  }
  for (int fd : {slave, inputFd, outputFds[1]})
    if (fd >= 0) close(fd);

  // Reading the terminal fails once nobody holds it: the child has ended.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  size_t step = 0, from = 0;
  bool ended = false;
  char buffer[512];
  while (pid > 0 && !ended && std::chrono::steady_clock::now() < deadline) {
    for (; step < steps.size() && run.terminal.find(steps[step].after, from) != std::string::npos;
         ++step) {
      Put(master, steps[step].keys);
      from = run.terminal.size();
    }
    if (step == steps.size() && signal != 0) {
      kill(pid, signal);
      signal = 0;
    }
    struct pollfd ready = {master, POLLIN, 0};
    if (poll(&ready, 1, 50) <= 0) continue;
    const ssize_t n = read(master, buffer, sizeof buffer);
    ended = n <= 0;
    if (n > 0) run.terminal.append(buffer, n);
  }
  if (tcgetattr(master, &modes) == 0) run.terminalModes = modes.c_lflag;
  int status = 0;
  if (pid > 0 && !ended) kill(pid, SIGKILL);
  if (pid > 0 && waitpid(pid, &status, 0) == pid) {
    if (WIFEXITED(status)) run.result = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) run.signal = WTERMSIG(status);
  }
  if (outputFds[0] >= 0) lseek(outputFds[0], 0, SEEK_SET);  // a file is read from its start
  for (ssize_t n; outputFds[0] >= 0 && (n = read(outputFds[0], buffer, sizeof buffer)) > 0;)
    run.output.append(buffer, n);
  for (int fd : {master, outputFds[0]})
    if (fd >= 0) close(fd);
  return run;
}
