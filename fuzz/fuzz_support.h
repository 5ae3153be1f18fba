// What the fuzz targets share: a check that stops the fuzzer with the failed
// condition, quiet standard output for code that prints, and an input reader.
#pragma once

#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

// A property the target checks beyond "no crash": a failure is a finding.
#define FUZZ_CHECK(condition)                                                       \
  do {                                                                              \
    if (!(condition)) {                                                             \
      fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
      abort();                                                                      \
    }                                                                               \
  } while (0)

// Sends standard output to /dev/null: the code under test prints usage texts
// and messages, which would drown the fuzzer's own report (on standard error).
inline void SilenceStandardOutput() {
  const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (null < 0 || dup2(null, STDOUT_FILENO) < 0) abort();
  close(null);
}

// The input read front to back as bytes, words and short texts; past its
// end every read gives 0 or "".
class FuzzInput {
 public:
  FuzzInput(const uint8_t* data, size_t size) : p_(data), end_(data + size) {}
  bool More() const { return p_ < end_; }
  uint8_t Byte() { return p_ < end_ ? *p_++ : 0; }
  uint32_t Word() {
    uint32_t word = 0;
    for (int shift = 0; shift < 32; shift += 8) word |= uint32_t{Byte()} << shift;
    return word;
  }
  // Fewer than `limit` bytes, as the first byte says, NUL bytes dropped.
  std::string Text(int limit) {
    std::string text;
    for (int n = Byte() % limit; n > 0 && More(); --n)
      if (uint8_t c = Byte()) text += static_cast<char>(c);
    return text;
  }

 private:
  const uint8_t* p_;
  const uint8_t* end_;
};
