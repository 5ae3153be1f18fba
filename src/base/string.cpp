// ClString and ClWString: shared buffers, copy on write, conversions.
#include "base/string.h"

#include <algorithm>
#include <new>

#include "errors/exception.h"
#include "errors/resource_strings.h"

namespace {

template <typename Char>
struct EmptyBlock {
  ClStringHeader header;
  Char nul;
};

// The shared empty buffers: constant-initialised, so they are in place
// before any code runs; their counts start so high that they never fall
// to 0, and nothing but their NUL is ever written into them.
constexpr LONG kStaticReferences = static_cast<LONG>(0x80000000u);
EmptyBlock<char> emptyNarrow = {{1, 1, kStaticReferences}, 0};
EmptyBlock<WCHAR> emptyWide = {{1, 1, kStaticReferences}, 0};

template <typename Char>
EmptyBlock<Char>& EmptyBlockOf();
template <>
EmptyBlock<char>& EmptyBlockOf<char>() {
  return emptyNarrow;
}
template <>
EmptyBlock<WCHAR>& EmptyBlockOf<WCHAR>() {
  return emptyWide;
}

ClStringHeader* HeaderOf(void* chars) { return static_cast<ClStringHeader*>(chars) - 1; }

// Two or more holders; the static buffers count as shared too.
bool IsShared(const ClStringHeader* header) { return static_cast<DWORD>(header->references) >= 2; }

template <typename Char>
Char* NewBlock(uint64_t capacity) {
  uint64_t bytes = sizeof(ClStringHeader) + capacity * sizeof(Char);
  // Beyond this the size no longer fits the allocator's argument (or the
  // count fields); report it as the allocation failure it is.
  if (capacity > 0xFFFFFFFFu || bytes > (SIZE_MAX >> 1)) {
    throw new ClMemException(static_cast<DWORD>(std::min<uint64_t>(bytes, 0xFFFFFFFFu)));
  }
  auto* header = static_cast<ClStringHeader*>(operator new(static_cast<size_t>(bytes)));
  header->count = 0;
  header->capacity = static_cast<DWORD>(capacity);
  header->references = 1;
  return reinterpret_cast<Char*>(header + 1);
}

}  // namespace

template <typename Char>
ClStringBase<Char>::ClStringBase() : chars_(&EmptyBlockOf<Char>().nul) {
  InterlockedIncrement(&Header()->references);
}

template <typename Char>
ClStringBase<Char>::ClStringBase(const ClStringBase& other) : chars_(other.chars_) {
  if (chars_) InterlockedIncrement(&Header()->references);
}

template <typename Char>
ClStringBase<Char>& ClStringBase<Char>::operator=(const ClStringBase& other) {
  Char* incoming = other.chars_;
  if (incoming) InterlockedIncrement(&HeaderOf(incoming)->references);
  Release();
  chars_ = incoming;
  return *this;
}

template <typename Char>
ClStringBase<Char>::~ClStringBase() {
  Release();
}

template <typename Char>
void ClStringBase<Char>::Release() {
  // The static buffers' counts never reach 0; the check only keeps the
  // compiler from seeing a path that frees them.
  if (chars_ && InterlockedDecrement(&Header()->references) == 0 && chars_ != EmptyText())
    operator delete(Header());
  chars_ = nullptr;
}

template <typename Char>
const Char* ClStringBase<Char>::EmptyText() {
  return &EmptyBlockOf<Char>().nul;
}

template <typename Char>
Char* ClStringBase<Char>::SetSize(DWORD newCount, DWORD minCapacity, bool force, bool noShrink) {
  if (newCount == 0 && minCapacity == 0 && !noShrink) {
    Release();
    return nullptr;
  }
  ClStringHeader* header = chars_ ? Header() : nullptr;
  if (header && noShrink && newCount < header->count) newCount = header->count;

  if (header && newCount <= header->capacity && minCapacity <= header->capacity) {
    if (newCount == header->count && !force) return nullptr;
    if (IsShared(header)) {
      Char* copy = NewBlock<Char>(header->capacity);
      memcpy(copy, chars_, header->count * sizeof(Char));
      HeaderOf(copy)->count = header->count;
      Release();
      chars_ = copy;
      header = Header();
    }
    if (newCount > header->count) {
      memset(chars_ + header->count, 0, (newCount - header->count) * sizeof(Char));
    }
    header->count = newCount;
    return chars_;
  }

  uint64_t capacity;
  if (minCapacity >= newCount) {
    capacity = minCapacity;
  } else if (header) {
    capacity = std::max<uint64_t>(2ull * header->capacity, newCount);
  } else {
    capacity = newCount;
  }
  Char* block = NewBlock<Char>(capacity);
  DWORD kept = header ? std::min(header->count, newCount) : 0;
  if (kept) memcpy(block, chars_, kept * sizeof(Char));
  memset(block + kept, 0, (newCount - kept) * sizeof(Char));
  HeaderOf(block)->count = newCount;
  Release();
  chars_ = block;
  return chars_;
}

template <typename Char>
Char* ClStringBase<Char>::GetBuffer() {
  if (!chars_) {
    Char* p = SetSize(1, 0, true);
    p[0] = 0;
    return p;
  }
  return SetSize(Header()->count, 0, true);
}

template <typename Char>
void ClStringBase<Char>::Empty() {
  Release();
  chars_ = &EmptyBlockOf<Char>().nul;
  InterlockedIncrement(&Header()->references);
}

template <typename Char>
void ClStringBase<Char>::Append(const Char* text, DWORD n) {
  if (n == 0) return;
  DWORD length = GetLength();
  // Growing may free the buffer that the text lies in; hold on to it.
  ClStringBase<Char> keep;
  if (chars_ && text >= chars_ && text < chars_ + Header()->count) keep = *this;
  Char* p = SetSize(length + n + 1);
  memcpy(p + length, text, n * sizeof(Char));
  p[length + n] = 0;
}

template <typename Char>
bool ClStringBase<Char>::operator==(const ClStringBase& other) const {
  DWORD length = GetLength();
  return length == other.GetLength() &&
         memcmp(GetText(), other.GetText(), length * sizeof(Char)) == 0;
}

template class ClStringBase<char>;
template class ClStringBase<WCHAR>;

ClString::ClString(const char* text) {
  if (!text || !*text) return;
  DWORD count = static_cast<DWORD>(strlen(text)) + 1;
  char* block = NewBlock<char>(count);
  memcpy(block, text, count);
  HeaderOf(block)->count = count;
  Release();
  chars_ = block;
}

ClString::ClString(UINT id, ...) {
  va_list args;
  va_start(args, id);
  try {
    FormatResStringV(*this, id, args);
  } catch (...) {
    va_end(args);
    throw;
  }
  va_end(args);
}

void ClString::Assign(const char* text, DWORD n) {
  if (n == 0) {
    Empty();
    return;
  }
  if (chars_ && text >= chars_ && text < chars_ + Header()->count) {
    ClString copy;
    copy.Assign(text, n);  // the copy's buffer is its own, so no recursion
    *this = copy;
    return;
  }
  char* p = SetSize(n, 0, true);
  memcpy(p, text, n);
}

ClString& ClString::operator=(const char* text) {
  if (!text || !*text) {
    Empty();
  } else {
    Assign(text, static_cast<DWORD>(strlen(text)) + 1);
  }
  return *this;
}

void ClString::Append(const ClString& text) {
  ClStringBase::Append(text.GetText(), text.GetLength());
}

void ClString::Mid(ClString& out, DWORD start, DWORD n) const {
  DWORD length = GetLength();
  if (start >= length) {
    out.Empty();
    return;
  }
  n = std::min(n, length - start);
  if (n == 0) {
    out.Empty();
    return;
  }
  if (start == 0 && n == length) {
    if (&out != this) out = *this;
    return;
  }
  if (&out == this) {
    char* p = out.GetBuffer();
    if (start) memmove(p, p + start, n);
    p = out.SetSize(n + 1, 0, true);
    p[n] = 0;
    return;
  }
  // If `out` shares our buffer, SetSize copies it first, so the source stays.
  char* p = out.SetSize(n + 1, 0, true);
  memcpy(p, GetText() + start, n);
  p[n] = 0;
}

void ClString::FreeExtra() {
  if (!chars_ || Header()->count == Header()->capacity) return;
  DWORD count = Header()->count;
  char* block = NewBlock<char>(count);
  memcpy(block, chars_, count);
  HeaderOf(block)->count = count;
  Release();
  chars_ = block;
}

void ClString::AssignFromWide(const WCHAR* src, int srcLength, UINT codePage, DWORD flags,
                              const char* defaultChar, BOOL* usedDefaultChar) {
  if (srcLength == 0) {
    Empty();
    return;
  }
  int size = WideCharToMultiByte(codePage, flags, src, srcLength, nullptr, 0, defaultChar,
                                 usedDefaultChar);
  if (size <= 0) ThrowLastError();
  char* p = SetSize(static_cast<DWORD>(size) + 1, 0, true, true);
  int done =
      WideCharToMultiByte(codePage, flags, src, srcLength, p, size, defaultChar, usedDefaultChar);
  if (done <= 0) ThrowLastError();
  if (p[done - 1] == 0) --done;  // the source's own terminator was converted
  if (done == 0) {
    Empty();
    return;
  }
  p = SetSize(static_cast<DWORD>(done) + 1, 0, true);
  p[done] = 0;
}

void ClWString::AssignFromNarrow(const char* src, int srcLength, UINT codePage, DWORD flags) {
  if (srcLength == 0) {
    Empty();
    return;
  }
  int size = MultiByteToWideChar(codePage, flags, src, srcLength, nullptr, 0);
  if (size <= 0) ThrowLastError();
  WCHAR* p = SetSize(static_cast<DWORD>(size) + 1, 0, true, true);
  int done = MultiByteToWideChar(codePage, flags, src, srcLength, p, size);
  if (done <= 0) ThrowLastError();
  if (p[done - 1] == 0) --done;
  if (done == 0) {
    Empty();
    return;
  }
  p = SetSize(static_cast<DWORD>(done) + 1, 0, true);
  p[done] = 0;
}

void ClWString::Assign(const WCHAR* text, DWORD length) {
  if (length == 0) {
    Empty();
    return;
  }
  WCHAR* p = SetSize(length + 1, 0, true);
  memcpy(p, text, length * sizeof(WCHAR));
  p[length] = 0;
}

const char* FindLastByte(const char* p, DWORD n, char c) {
  while (n > 0) {
    --n;
    if (p[n] == c) return p + n;
  }
  return nullptr;
}

int CompareText(const char* a, const char* b, int lengthA, int lengthB, DWORD flags) {
  return CompareStringA(LOCALE_USER_DEFAULT, flags, a, lengthA, b, lengthB) - CSTR_EQUAL;
}

ClString VisibleText(const char* text) {
  ClString visible;
  const char* start = text;
  for (const char* p = text;; ++p) {
    const unsigned char c = static_cast<unsigned char>(*p);
    if (c == 0 || ((c < 0x20 && c != '\t') || c == 0x7F)) {
      visible.Append(start, static_cast<DWORD>(p - start));
      if (c == 0) return visible;
      const char caret[] = {'^', static_cast<char>(c ^ 0x40)};
      visible.Append(caret, 2);
      start = p + 1;
    }
  }
}
