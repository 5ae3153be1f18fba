// Fuzz target: the counter header's first-line parse over arbitrary prefixes
// of up to 256 bytes, as the tool reads them. A number that was parsed,
// written into a header and parsed again must be the same number; the "%u"
// scan must agree with the C library's strtoull.
#include <errno.h>
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>

#include <algorithm>
#include <string>

#include "app/header_format.h"
#include "errors/exception.h"
#include "fuzz_support.h"

namespace {

// ScanUnsigned's contract, computed another way.
bool ReferenceScan(const char* text, DWORD& value) {
  const char* p = text;
  while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
  const bool negative = *p == '-';
  if (*p == '-' || *p == '+') ++p;
  if (*p < '0' || *p > '9') return false;
  errno = 0;
  const unsigned long long magnitude = strtoull(p, nullptr, 10);
  if (errno == ERANGE || magnitude > 0xFFFFFFFFull) {
    value = 0xFFFFFFFFu;
  } else {
    value = static_cast<DWORD>(negative ? 0ull - magnitude : magnitude);
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // As ReadString delivers it: at most 256 bytes, a NUL ends the text.
  const std::string bytes(reinterpret_cast<const char*>(data),
                          std::min<size_t>(size, kHeaderBytesRead));
  const ClString text(bytes.c_str());

  DWORD scanned = 0, expected = 0;
  const bool scanOk = ScanUnsigned(text.GetText(), scanned);
  FUZZ_CHECK(scanOk == ReferenceScan(text.GetText(), expected));
  FUZZ_CHECK(!scanOk || scanned == expected);

  const ClString name("inc/Tickwright.h");
  DWORD number;
  try {
    number = ParseBuildNumber(text, name);
  } catch (ClException* e) {
    ClString report;
    e->BuildReport(report);
    FUZZ_CHECK(!report.IsEmpty());
    delete e;
    return 0;
  }
  ClString header = FormatHeaderText(number, name, ClString("BUILD_NUMBER"));
  header.Mid(header, 0, kHeaderBytesRead);
  FUZZ_CHECK(ParseBuildNumber(header, name) == number);
  return 0;
}
