// ClStringRange: positions move; characters are copied only when a range
// is materialized or has to grow out of its buffer.
#include "base/string_range.h"

#include <algorithm>

ClStringRange::ClStringRange() : begin(text.GetText()), end(begin) {}

ClStringRange::ClStringRange(const ClString& whole)
    : text(whole), begin(text.GetText()), end(begin + text.GetLength()) {}

void ClStringRange::Clear() {
  text.Empty();
  begin = end = text.GetText();
}

void ClStringRange::Assign(const ClString& buffer, const char* from, const char* to) {
  if (from == to) {
    Clear();
    return;
  }
  text = buffer;
  begin = from;
  end = to;
}

void ClStringRange::GetText(ClString& out) const {
  if (IsEmpty()) {
    out.Empty();
  } else if (begin == text.GetText() && GetLength() == text.GetLength()) {
    out = text;
  } else {
    text.Mid(out, static_cast<DWORD>(begin - text.GetText()), GetLength());
  }
}

ClString ClStringRange::GetText() const {
  ClString out;
  GetText(out);
  return out;
}

void ClStringRange::TrimLeft(const char* set) {
  // strchr finds the set's own NUL, so NUL characters count as members.
  while (begin < end && strchr(set, *begin)) ++begin;
  if (begin == end) Clear();
}

void ClStringRange::TrimRight(const char* set) {
  while (end > begin && (end[-1] == 0 || strchr(set, end[-1]))) --end;
  if (begin == end) Clear();
}

void ClStringRange::Materialize() {
  if (IsEmpty()) {
    Clear();
    return;
  }
  const DWORD length = GetLength();
  ClString own;
  text.Mid(own, static_cast<DWORD>(begin - text.GetText()), length);
  own.FreeExtra();
  text = own;
  begin = text.GetText();
  end = begin + length;
}

bool ClStringRange::SplitAt(ClStringRange* left, ClStringRange* right,
                            const char* separator) const {
  const ClStringRange self(*this);  // an output may be this very range
  if (!separator) {
    if (left) *left = self;
    if (right) right->Clear();
    return false;
  }
  if (left) left->Assign(self.text, self.begin, separator);
  if (right) right->Assign(self.text, separator + 1, self.end);
  return true;
}

bool ClStringRange::SplitAtOrRight(ClStringRange* left, ClStringRange* right,
                                   const char* separator) const {
  if (separator) return SplitAt(left, right, separator);
  const ClStringRange self(*this);
  if (left) left->Clear();
  if (right) *right = self;
  return false;
}

void ClStringRange::SplitBefore(ClStringRange* left, ClStringRange* right,
                                const char* position) const {
  const ClStringRange self(*this);
  if (left) left->Assign(self.text, self.begin, position);
  if (right) right->Assign(self.text, position, self.end);
}

void ClStringRange::Append(const ClStringRange& other) {
  if (other.IsEmpty()) return;
  if (IsEmpty()) {
    *this = other;
    return;
  }
  if (end == other.begin && text.GetText() == other.text.GetText()) {
    end = other.end;
    return;
  }
  const DWORD length = GetLength();
  const DWORD otherLength = other.GetLength();
  ClString joined;
  char* p = joined.SetSize(length + otherLength + 1);
  memcpy(p, begin, length);
  memcpy(p + length, other.begin, otherLength);
  p[length + otherLength] = 0;
  text = joined;
  begin = text.GetText();
  end = begin + length + otherLength;
}

char* ClStringRange::SetLength(DWORD n) {
  if (n == 0) {
    Clear();
    return nullptr;
  }
  const DWORD offset = static_cast<DWORD>(begin - text.GetText());
  if (!IsEmpty() && !text.IsSharedBuffer() && offset + n <= text.GetLength()) {
    char* p = text.GetBuffer() + offset;
    begin = p;
    end = p + n;
    return p;
  }
  ClString own;
  char* p = own.SetSize(n + 1);
  memcpy(p, begin, std::min(GetLength(), n));
  p[n] = 0;
  text = own;
  begin = p;
  end = p + n;
  return p;
}
