// A span inside a ClString, for trimming and splitting without copying.
#pragma once

#include "base/string.h"

class ClStringRange {
 public:
  // The empty range.
  ClStringRange();
  // The whole text: from its first character to its NUL.
  explicit ClStringRange(const ClString& whole);

  // Makes this the empty range (dropping the reference to the text).
  void Clear();

  const char* Begin() const { return begin; }
  const char* End() const { return end; }
  DWORD GetLength() const { return static_cast<DWORD>(end - begin); }
  bool IsEmpty() const { return begin == end; }
  // The buffer the range lies in.
  const ClString& GetBuffer() const { return text; }
  // The range's characters as a string of their own (sharing the buffer
  // when the range is the whole text).
  void GetText(ClString& out) const;
  ClString GetText() const;

  // Moves begin forward over characters of the NUL-terminated `set`.
  void TrimLeft(const char* set);
  // Moves end back over characters of `set` and over NUL characters.
  void TrimRight(const char* set);
  // Replaces the buffer by a string of its own holding exactly the range.
  void Materialize();

  // `separator` points into the range, or is null. Given: left = before it,
  // right = after it (the separator in neither). Null: left = the whole
  // range, right = empty. Either output may be null. Returns whether a
  // separator was given.
  bool SplitAt(ClStringRange* left, ClStringRange* right, const char* separator) const;
  // As SplitAt, but a null separator gives left empty and right the whole.
  bool SplitAtOrRight(ClStringRange* left, ClStringRange* right, const char* separator) const;
  // left = [begin, position), right = [position, end); nothing is dropped.
  void SplitBefore(ClStringRange* left, ClStringRange* right, const char* position) const;
  // This range followed by `other`: only end moves when `other` starts where
  // this range ends in the same buffer; otherwise a new buffer holds both.
  void Append(const ClStringRange& other);
  // Makes the range `n` characters long, keeping its start, and returns its
  // writable characters; the caller writes the characters that were added.
  char* SetLength(DWORD n);

 private:
  void Assign(const ClString& buffer, const char* from, const char* to);

  ClString text;
  const char* begin;
  const char* end;
};
