// The floor of a bump: the tool's job done by the least C program that can do
// it, to measure the tool against. It prints the same lines, reads 256 bytes
// of Tickwright.h, parses "// N", formats the same header and writes it.
//   --durable  writes as the tool does: under a lock on the header, into a
//              temporary file that is synced and renamed over the header,
//              then syncs the folder
//   --bat      also writes Tickwright.bat ("@SET BUILD_NUMBER=N")
// Exit codes as the tool's: 0, or 5 when the header cannot be parsed.
#define _GNU_SOURCE
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

static const char kBanner[] =
    "C++ Project Tickwright 2.0\nCopyright (c) 2026 the Tickwright authors\n"
    "https://tickwright.example.org\n\n";
static const char kTemplate[] =
    "// %u\n// This file is generated automatically.\n\n//\t#include \"%s\"\n\n"
    "#define %s %u\n#define %s_STR \"%u\"\n#define %s_LOW %u\n#define %s_HIGH %u\n"
    "#define %s_LOW_STR \"%u\"\n#define %s_HIGH_STR \"%u\"\n";

static int durable;

static void Fail(const char* what) {
  perror(what);
  exit(5);
}

// Writes `text` as the whole new content of `name`.
static void WriteWhole(const char* name, const char* text, int length) {
  if (!durable) {
    int fd = open(name, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0 || write(fd, text, (size_t)length) != length || close(fd) != 0) Fail(name);
    return;
  }
  char temp[] = "twXXXXXX";
  int fd = mkostemp(temp, O_CLOEXEC);
  if (fd < 0) Fail(temp);
  if (write(fd, text, (size_t)length) != length || fchmod(fd, 0644) != 0 || fsync(fd) != 0 ||
      close(fd) != 0 || rename(temp, name) != 0)
    Fail(name);
  int folder = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder < 0 || fsync(folder) != 0 || close(folder) != 0) Fail(".");
}

int main(int argc, char** argv) {
  int bat = 0;
  for (int i = 1; i < argc; ++i) {
    if (strcmp(argv[i], "--durable") == 0) durable = 1;
    if (strcmp(argv[i], "--bat") == 0) bat = 1;
  }
  const char* name = "Tickwright.h";
  const char* macro = "BUILD_NUMBER";
  if (write(1, kBanner, sizeof kBanner - 1) < 0) return 5;

  char text[1024];
  unsigned number = 0;
  int fd = open(name, O_RDONLY | O_CLOEXEC);
  if (fd >= 0) {
    if (durable && flock(fd, LOCK_EX) != 0) Fail(name);  // held until exit
    ssize_t n = read(fd, text, 256);
    if (n < 0) Fail(name);
    text[n] = 0;
    text[strcspn(text, "\n")] = 0;
    text[strcspn(text, "\r")] = 0;
    if (n > 0 && (strncmp(text, "// ", 3) != 0 || sscanf(text + 3, "%u", &number) != 1)) {
      fprintf(stderr, "Error parsing file: \"%s\"\n", name);
      return 5;
    }
  }
  ++number;
  int length = snprintf(text, sizeof text, "Build N: %u\n", number);
  if (write(1, text, (size_t)length) < 0) return 5;

  const unsigned low = number & 0xFFFF, high = number >> 16;
  length = snprintf(text, sizeof text, kTemplate, number, name, macro, number, macro, number, macro,
                    low, macro, high, macro, low, macro, high);
  WriteWhole(name, text, length);
  if (bat) {
    length = snprintf(text, sizeof text, "@SET %s=%u\r\n", macro, number);
    WriteWhole("Tickwright.bat", text, length);
  }
  return 0;
}
