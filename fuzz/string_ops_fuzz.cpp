// Fuzz target: the string operations. The input is a program of operations
// on four strings and two ranges (copies share buffers, so a write to one
// must never show in another), each mirrored on a std::string model that the
// results must match after every step.
#include <stddef.h>
#include <stdint.h>

#include <algorithm>
#include <string>

#include "base/string.h"
#include "base/string_range.h"
#include "fuzz_support.h"

namespace {

// Appending doubles a text at most: lengths stay bounded.
constexpr size_t kMaxLength = 4096;

// SetSize as a caller uses it: then a character and the NUL are written.
void SetSizeStep(FuzzInput& in, ClString& s, std::string& m) {
  const DWORD count = in.Byte() % 40, capacity = in.Byte() % 64;
  const uint8_t flags = in.Byte();
  const bool noShrink = flags & 2;
  if (count == 0 && (capacity || noShrink)) return;  // a count without its NUL
  char* p = s.SetSize(count, capacity, flags & 1, noShrink);
  if (!p) {
    if (count == 0) m.clear();
    return;
  }
  const DWORD newCount =
      noShrink ? std::max<DWORD>(count, static_cast<DWORD>(m.size()) + 1) : count;
  m.resize(newCount - 1);
  if (newCount > 1)
    p[flags % (newCount - 1)] = m[flags % (newCount - 1)] = static_cast<char>(flags);
  p[newCount - 1] = 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  ClString s[4];
  std::string m[4];
  ClStringRange r[2];
  std::string rm[2];
  while (in.More()) {
    const uint8_t op = in.Byte() % 14;
    const int a = in.Byte() % 4, b = in.Byte() % 4, x = a % 2, y = b % 2;
    const size_t at = in.Byte();
    const std::string whole = rm[x];
    if (op == 0) {
      const std::string text = in.Text(16);
      s[a] = ClString(text.c_str());
      m[a] = text;
    } else if (op == 1) {
      s[a] = s[b];
      m[a] = m[b];
    } else if (op == 2) {
      SetSizeStep(in, s[a], m[a]);
    } else if (op == 3) {
      char* p = s[a].GetBuffer();
      if (!m[a].empty()) p[at % m[a].size()] = m[a][at % m[a].size()] = static_cast<char>(b);
    } else if (op == 4) {
      const DWORD n = in.Byte() % 24;
      s[a].Mid(s[b], static_cast<DWORD>(at % 24), n);
      m[b] = at % 24 >= m[a].size() ? std::string() : m[a].substr(at % 24, n);
    } else if (op == 5) {
      // Text from its own buffer while that is shared is outside Append's contract.
      if ((s[a].GetText() == s[b].GetText() && s[a].IsSharedBuffer()) ||
          m[a].size() + m[b].size() > kMaxLength)
        continue;
      s[a].Append(s[b]);
      m[a] += m[b];
    } else if (op == 6) {
      ClWString wide, again;
      ClString narrow;
      wide.AssignFromNarrow(s[a].GetText(), static_cast<int>(s[a].GetLength()), conversionCodePage);
      narrow.AssignFromWide(wide.GetText(), static_cast<int>(wide.GetLength()), conversionCodePage);
      again.AssignFromNarrow(narrow.GetText(), static_cast<int>(narrow.GetLength()),
                             conversionCodePage);
      // Once converted, a text is well formed and converts back unchanged. A
      // last NUL counts as the source's terminator: texts with NULs are out.
      if (m[a].find('\0') == std::string::npos) FUZZ_CHECK(again == wide);
    } else if (op == 7) {
      r[x] = ClStringRange(s[a]);
      rm[x] = m[a];
    } else if (op == 8) {
      const std::string set = in.Text(16);
      auto member = [&](char c) { return c == 0 || set.find(c) != std::string::npos; };
      if (b & 1) {
        r[x].TrimLeft(set.c_str());
        rm[x].erase(0, std::find_if_not(whole.begin(), whole.end(), member) - whole.begin());
      } else {
        r[x].TrimRight(set.c_str());
        while (!rm[x].empty() && member(rm[x].back())) rm[x].pop_back();
      }
    } else if (op == 9) {
      const bool given = at < whole.size();
      r[x].SplitAt(&r[x], &r[y], given ? r[x].Begin() + at : nullptr);
      rm[x] = given ? whole.substr(0, at) : whole;  // right after left, as the outputs
      rm[y] = given ? whole.substr(at + 1) : std::string();
    } else if (op == 10 && at <= whole.size()) {
      r[x].SplitBefore(&r[x], &r[y], r[x].Begin() + at);
      rm[x] = whole.substr(0, at);
      rm[y] = whole.substr(at);
    } else if (op == 11 && rm[x].size() + rm[y].size() <= kMaxLength) {
      r[x].Append(r[y]);
      rm[x] += rm[y];
    } else if (op == 12) {
      char* p = r[x].SetLength(static_cast<DWORD>(at % 32));
      rm[x].resize(at % 32, 'x');
      for (size_t i = whole.size(); i < at % 32; ++i) p[i] = 'x';
    } else if (op == 13) {
      if (b & 1) r[x].Materialize();
      s[a] = r[x].GetText();
      m[a] = rm[x];
    }
    for (int i = 0; i < 4; ++i) {
      FUZZ_CHECK(std::string(s[i].GetText(), s[i].GetLength()) == m[i]);
      FUZZ_CHECK(s[i].GetText()[s[i].GetLength()] == 0 && s[i].GetCount() <= s[i].GetCapacity());
    }
    for (int i = 0; i < 2; ++i) {
      const ClString& buffer = r[i].GetBuffer();
      FUZZ_CHECK(std::string(r[i].Begin(), r[i].GetLength()) == rm[i]);
      FUZZ_CHECK(r[i].Begin() >= buffer.GetText() &&
                 r[i].End() <= buffer.GetText() + buffer.GetLength());
    }
  }
  return 0;
}
