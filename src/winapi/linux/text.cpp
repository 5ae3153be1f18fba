// Text on Linux: the string table, locale comparison, UTF-8 <-> UTF-16
// conversion and the Windows flavour of snprintf.
//
// Where Linux differs:
// - Every ANSI and OEM code page is UTF-8, and their flags are those Windows
//   allows for CP_UTF8. A default character and the used-default flag are
//   accepted for it all the same; the replacement is always U+FFFD.
// - CompareString is not linguistic: it orders code units, or with
//   NORM_IGNORECASE code points after Unicode simple case folding.
// - The string table is compiled in and belongs to the executable's module.
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <iterator>
#include <memory>
#include <type_traits>

#include "winapi/linux/api.h"

namespace {

// --- The string table -------------------------------------------------------

struct StringEntry {
  UINT id;
  const char* text;
  size_t length;
};

constexpr StringEntry kStringTable[] = {
#define TW_STRING(id, name, text) {id, text, sizeof(text) - 1},
#include "res/string_table.inc"
#undef TW_STRING
};

// --- Case folding -----------------------------------------------------------

// Every code point first, first + stride, ..., last folds to itself + delta.
struct CaseFoldRun {
  char32_t first;
  char32_t last;
  int32_t delta;
  uint32_t stride;
};

constexpr CaseFoldRun kCaseFolding[] = {
#include "winapi/linux/case_folding.inc"
};

char32_t FoldCase(char32_t c) {
  if (c < 0x80) return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c;
  const CaseFoldRun* run =
      std::upper_bound(std::begin(kCaseFolding), std::end(kCaseFolding), c,
                       [](char32_t value, const CaseFoldRun& r) { return value < r.first; });
  if (run == std::begin(kCaseFolding)) return c;
  --run;
  if (c > run->last || (c - run->first) % run->stride != 0) return c;
  return static_cast<char32_t>(static_cast<int32_t>(c) + run->delta);
}

// --- UTF-8 and UTF-16 -------------------------------------------------------

constexpr char32_t kReplacement = 0xFFFD;

struct Decoded {
  char32_t c;
  size_t length;  // bytes taken: the sequence, or the maximal invalid subpart
  bool valid;
};

// One character from [p, end), p < end. An invalid sequence takes its
// maximal subpart, so that each becomes one U+FFFD as on Windows 10.
Decoded DecodeUtf8(const unsigned char* p, const unsigned char* end) {
  unsigned char lead = p[0];
  if (lead < 0x80) return {lead, 1, true};
  size_t length;
  char32_t c;
  unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    c = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    c = lead & 0x0F;
    if (lead == 0xE0) low = 0xA0;   // no overlong forms
    if (lead == 0xED) high = 0x9F;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    c = lead & 0x07;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;  // nothing above U+10FFFF
  } else {
    return {kReplacement, 1, false};
  }
  for (size_t i = 1; i < length; ++i) {
    if (p + i == end || p[i] < low || p[i] > high) return {kReplacement, i, false};
    c = (c << 6) | (p[i] & 0x3F);
    low = 0x80;
    high = 0xBF;
  }
  return {c, length, true};
}

// One character from [p, end), p < end; a lone surrogate is invalid and
// stands for itself.
Decoded DecodeUtf16(const WCHAR* p, const WCHAR* end) {
  char32_t unit = p[0];
  if (unit < 0xD800 || unit > 0xDFFF) return {unit, 1, true};
  if (unit <= 0xDBFF && p + 1 < end && p[1] >= 0xDC00 && p[1] <= 0xDFFF)
    return {0x10000 + ((unit - 0xD800) << 10) + (p[1] - 0xDC00), 2, true};
  return {unit, 1, false};
}

size_t EncodeUtf8(char32_t c, char* out) {
  if (c < 0x80) {
    out[0] = static_cast<char>(c);
    return 1;
  }
  if (c < 0x800) {
    out[0] = static_cast<char>(0xC0 | (c >> 6));
    out[1] = static_cast<char>(0x80 | (c & 0x3F));
    return 2;
  }
  if (c < 0x10000) {
    out[0] = static_cast<char>(0xE0 | (c >> 12));
    out[1] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out[2] = static_cast<char>(0x80 | (c & 0x3F));
    return 3;
  }
  out[0] = static_cast<char>(0xF0 | (c >> 18));
  out[1] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
  out[2] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
  out[3] = static_cast<char>(0x80 | (c & 0x3F));
  return 4;
}

bool IsUtf8CodePage(UINT codePage) {
  return codePage == CP_ACP || codePage == CP_THREAD_ACP || codePage == CP_OEMCP ||
         codePage == CP_UTF8;
}

// --- Comparison -------------------------------------------------------------

int CompareResult(int difference) {
  return difference < 0 ? CSTR_LESS_THAN : difference > 0 ? CSTR_GREATER_THAN : CSTR_EQUAL;
}

bool CompareArgumentsValid(LCID locale, DWORD flags, const void* string1, int count1,
                           const void* string2, int count2) {
  if (locale != LOCALE_USER_DEFAULT && locale != LOCALE_SYSTEM_DEFAULT &&
      locale != LOCALE_INVARIANT) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  if (flags & ~NORM_IGNORECASE) {
    SetLastError(ERROR_INVALID_FLAGS);
    return false;
  }
  if (!string1 || !string2 || count1 < -1 || count2 < -1) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  return true;
}

// Code units in order; a text that is a prefix of the other is less.
template <typename Unit>
int CompareUnits(const Unit* a, size_t countA, const Unit* b, size_t countB) {
  size_t common = std::min(countA, countB);
  for (size_t i = 0; i < common; ++i)
    if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
  return countA < countB ? -1 : countA > countB ? 1 : 0;
}

// The key a character compares by when case is ignored: its folded code
// point, or for something that is no character the value itself, kept apart
// from every code point.
template <typename Unit>
char32_t FoldedKey(const Unit* p, const Unit* end, size_t& length) {
  if constexpr (sizeof(Unit) == 1) {
    if (*p < 0x80) {  // ASCII needs no decoding
      length = 1;
      return FoldCase(*p);
    }
    Decoded d = DecodeUtf8(p, end);
    if (!d.valid) {
      length = 1;  // each stray byte stands for itself
      return 0x110000 + *p;
    }
    length = d.length;
    return FoldCase(d.c);
  } else {
    Decoded d = DecodeUtf16(p, end);
    length = d.length;
    return d.valid ? FoldCase(d.c) : d.c;  // a lone surrogate is outside every code point
  }
}

template <typename Unit>
int CompareFolded(const Unit* a, size_t countA, const Unit* b, size_t countB) {
  const Unit *endA = a + countA, *endB = b + countB;
  while (a < endA && b < endB) {
    size_t lengthA, lengthB;
    char32_t keyA = FoldedKey(a, endA, lengthA);
    char32_t keyB = FoldedKey(b, endB, lengthB);
    if (keyA != keyB) return keyA < keyB ? -1 : 1;
    a += lengthA;
    b += lengthB;
  }
  return a < endA ? 1 : b < endB ? -1 : 0;
}

template <typename Unit>
size_t LengthOf(const Unit* text, int count) {
  if (count >= 0) return static_cast<size_t>(count);
  size_t length = 0;
  while (text[length]) ++length;
  return length;
}

template <typename Unit>
int CompareText(LCID locale, DWORD flags, const Unit* string1, int count1, const Unit* string2,
                int count2) {
  if (!CompareArgumentsValid(locale, flags, string1, count1, string2, count2)) return 0;
  // Unsigned: bytes above 0x7F sort after ASCII, as on Windows.
  using Code = std::conditional_t<sizeof(Unit) == 1, unsigned char, WCHAR>;
  const Code* a = reinterpret_cast<const Code*>(string1);
  const Code* b = reinterpret_cast<const Code*>(string2);
  size_t lengthA = LengthOf(a, count1), lengthB = LengthOf(b, count2);
  if (flags & NORM_IGNORECASE) return CompareResult(CompareFolded(a, lengthA, b, lengthB));
  return CompareResult(CompareUnits(a, lengthA, b, lengthB));
}

}  // namespace

int WINAPI LoadStringA(HINSTANCE instance, UINT id, LPSTR buffer, int bufferMax) {
  if (!buffer || bufferMax <= 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  buffer[0] = '\0';
  if (instance && instance != GetModuleHandleA(nullptr)) {
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return 0;
  }
  const StringEntry* entry =
      std::lower_bound(std::begin(kStringTable), std::end(kStringTable), id,
                       [](const StringEntry& e, UINT value) { return e.id < value; });
  if (entry == std::end(kStringTable) || entry->id != id) {
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return 0;
  }
  size_t count = std::min(entry->length, static_cast<size_t>(bufferMax) - 1);
  memcpy(buffer, entry->text, count);
  buffer[count] = '\0';
  return static_cast<int>(count);
}

int WINAPI CompareStringA(LCID locale, DWORD flags, LPCSTR string1, int count1, LPCSTR string2,
                          int count2) {
  return CompareText(locale, flags, string1, count1, string2, count2);
}

int WINAPI CompareStringW(LCID locale, DWORD flags, LPCWSTR string1, int count1, LPCWSTR string2,
                          int count2) {
  return CompareText(locale, flags, string1, count1, string2, count2);
}

int WINAPI MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR multiByte, int multiByteCount,
                               LPWSTR wide, int wideCount) {
  if (!IsUtf8CodePage(codePage)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (flags & ~MB_ERR_INVALID_CHARS) {
    SetLastError(ERROR_INVALID_FLAGS);
    return 0;
  }
  if (!multiByte || multiByteCount == 0 || multiByteCount < -1 || wideCount < 0 ||
      (wideCount > 0 && !wide)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  // -1 takes the terminating NUL along into the result.
  size_t length =
      multiByteCount == -1 ? strlen(multiByte) + 1 : static_cast<size_t>(multiByteCount);
  const unsigned char* p = reinterpret_cast<const unsigned char*>(multiByte);
  const unsigned char* end = p + length;
  size_t written = 0;
  while (p < end) {
    Decoded d = DecodeUtf8(p, end);
    p += d.length;
    if (!d.valid && (flags & MB_ERR_INVALID_CHARS)) {
      SetLastError(ERROR_NO_UNICODE_TRANSLATION);
      return 0;
    }
    size_t units = d.c >= 0x10000 ? 2 : 1;
    if (wideCount > 0) {
      if (written + units > static_cast<size_t>(wideCount)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
      }
      if (units == 2) {
        wide[written] = static_cast<WCHAR>(0xD800 + ((d.c - 0x10000) >> 10));
        wide[written + 1] = static_cast<WCHAR>(0xDC00 + ((d.c - 0x10000) & 0x3FF));
      } else {
        wide[written] = static_cast<WCHAR>(d.c);
      }
    }
    written += units;
  }
  return static_cast<int>(written);
}

int WINAPI WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR wide, int wideCount,
                               LPSTR multiByte, int multiByteCount, LPCSTR /*defaultChar*/,
                               LPBOOL usedDefaultChar) {
  if (!IsUtf8CodePage(codePage)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (flags & ~WC_ERR_INVALID_CHARS) {
    SetLastError(ERROR_INVALID_FLAGS);
    return 0;
  }
  if (!wide || wideCount == 0 || wideCount < -1 || multiByteCount < 0 ||
      (multiByteCount > 0 && !multiByte)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  size_t length = LengthOf(wide, wideCount) + (wideCount == -1 ? 1 : 0);
  const WCHAR* p = wide;
  const WCHAR* end = p + length;
  size_t written = 0;
  bool replaced = false;
  while (p < end) {
    Decoded d = DecodeUtf16(p, end);
    p += d.length;
    if (!d.valid) {
      if (flags & WC_ERR_INVALID_CHARS) {
        SetLastError(ERROR_NO_UNICODE_TRANSLATION);
        return 0;
      }
      d.c = kReplacement;
      replaced = true;
    }
    char bytes[4];
    size_t count = EncodeUtf8(d.c, bytes);
    if (multiByteCount > 0) {
      if (written + count > static_cast<size_t>(multiByteCount)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
      }
      memcpy(multiByte + written, bytes, count);
    }
    written += count;
  }
  if (usedDefaultChar) *usedDefaultChar = replaced ? TRUE : FALSE;
  return static_cast<int>(written);
}

int _vsnprintf(char* buffer, size_t count, const char* format, va_list args) {
  va_list again;
  va_copy(again, args);
  int length = vsnprintf(buffer, count, format, args);
  if (length < 0 || static_cast<size_t>(length) < count || (count == 0 && !buffer)) {
    va_end(again);
    return length;  // it fitted with its NUL, failed, or only its size was asked
  }
  // vsnprintf kept the last place for a NUL; the Windows contract fills it
  // with text instead.
  if (count > 0) {
    std::unique_ptr<char[]> whole(new char[static_cast<size_t>(length) + 1]);
    vsnprintf(whole.get(), static_cast<size_t>(length) + 1, format, again);
    memcpy(buffer, whole.get(), count);
  }
  va_end(again);
  return static_cast<size_t>(length) == count ? length : -1;
}
