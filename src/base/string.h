// Text strings with shared, reference-counted buffers that are copied on
// write: ClString for narrow text in the ANSI code page, ClWString for UTF-16.
#pragma once

#include "winapi/winapi.h"

// The header in front of every character buffer. A string is one pointer to
// the characters that follow it, so it can be handed to any interface that
// wants a NUL-terminated string.
struct ClStringHeader {
  DWORD count;      // characters in use, the terminating NUL included
  DWORD capacity;   // characters the block can hold
  LONG references;  // holders; changed only by interlocked operations
};

// The buffer mechanics shared by the narrow and the wide string.
template <typename Char>
class ClStringBase {
 public:
  // The shared empty buffer of this character type.
  ClStringBase();
  // Shares the other's buffer.
  ClStringBase(const ClStringBase& other);
  // Shares the other's buffer (its reference is taken before ours is let go,
  // so self-assignment is harmless).
  ClStringBase& operator=(const ClStringBase& other);
  ~ClStringBase();

  // Characters without the terminating NUL.
  DWORD GetLength() const { return chars_ ? Header()->count - 1 : 0; }
  // Characters with the terminating NUL.
  DWORD GetCount() const { return chars_ ? Header()->count : 0; }
  DWORD GetCapacity() const { return chars_ ? Header()->capacity : 0; }
  bool IsEmpty() const { return GetLength() == 0; }
  // Whether another string (or a static buffer) holds this buffer too.
  bool IsSharedBuffer() const { return chars_ && static_cast<DWORD>(Header()->references) >= 2; }
  // The NUL-terminated text.
  const Char* GetText() const { return chars_ ? chars_ : EmptyText(); }

  // Sets the count (the NUL included), reallocating and unsharing as needed,
  // and returns the writable characters; the caller writes the NUL at index
  // count - 1. Returns null when it did nothing (same count, no `force`) and
  // when count and capacity are both 0 without `noShrink` (then the string
  // holds no buffer at all). `noShrink` never lowers the count;
  // `minCapacity` asks for at least that much room.
  Char* SetSize(DWORD newCount, DWORD minCapacity = 0, bool force = false, bool noShrink = false);
  // Unshares (copies when two or more hold the buffer) and returns the
  // writable characters.
  Char* GetBuffer();
  // Points to the shared empty buffer.
  void Empty();
  // Appends `n` characters (which must not lie in this string's own buffer
  // while it is shared) and keeps the terminating NUL.
  void Append(const Char* text, DWORD n);

  bool operator==(const ClStringBase& other) const;
  bool operator!=(const ClStringBase& other) const { return !(*this == other); }

 protected:
  ClStringHeader* Header() const { return reinterpret_cast<ClStringHeader*>(chars_) - 1; }
  static const Char* EmptyText();
  void Release();

  Char* chars_;
};

class ClWString;

// Narrow text in the ANSI code page.
class ClString : public ClStringBase<char> {
 public:
  ClString() = default;
  // A new buffer of exactly the text's length + 1; null or "" give the
  // shared empty buffer.
  ClString(const char* text);  // NOLINT: converting, like the text it holds
  // Formats string-table entry `id` with the printf-style arguments.
  explicit ClString(UINT id, ...);

  // SetSize(n) then copies `n` characters; `n` counts the NUL when the
  // caller wants one copied.
  void Assign(const char* text, DWORD n);
  // Sets the whole text to a NUL-terminated string.
  ClString& operator=(const char* text);
  // `out` receives at most `n` characters from `start` (clamped; the whole
  // string shares the buffer; `out` may be this string).
  void Mid(ClString& out, DWORD start, DWORD n) const;
  // Moves the text into a block of exactly its count, held only by this
  // string, unless count already equals capacity.
  void FreeExtra();
  // Converts `srcLength` wide characters (-1: up to the NUL, which is not
  // kept); a failed conversion throws ClWin32Exception.
  void AssignFromWide(const WCHAR* src, int srcLength, UINT codePage, DWORD flags = 0,
                      const char* defaultChar = nullptr, BOOL* usedDefaultChar = nullptr);
  void Append(const char* text) { ClStringBase::Append(text, static_cast<DWORD>(strlen(text))); }
  void Append(const ClString& text);
  using ClStringBase::Append;
};

// UTF-16 text, used at the Automation boundary.
class ClWString : public ClStringBase<WCHAR> {
 public:
  ClWString() = default;
  // Converts `srcLength` narrow characters (-1: up to the NUL, which is not
  // kept); a failed conversion throws ClWin32Exception.
  void AssignFromNarrow(const char* src, int srcLength, UINT codePage, DWORD flags = 0);
  // Copies `length` UTF-16 units and adds the terminating NUL.
  void Assign(const WCHAR* text, DWORD length);
};

// The code page of every conversion: the thread's ANSI code page (UTF-8 on
// Linux).
inline constexpr UINT conversionCodePage = CP_THREAD_ACP;

// The last of the `n` bytes at `p` that equals `c`, or null.
const char* FindLastByte(const char* p, DWORD n, char c);

// CompareStringA in the user's default locale minus CSTR_EQUAL: 0 equal,
// negative less, positive greater. A length of -1 means up to the NUL.
int CompareText(const char* a, const char* b, int lengthA = -1, int lengthB = -1, DWORD flags = 0);

// `text` as a message shows text that the tool did not write (a file's, a
// server's): each control character but tab in caret notation (ESC as ^[,
// DEL as ^?), so that it cannot move, recolour or retitle the terminal.
ClString VisibleText(const char* text);
