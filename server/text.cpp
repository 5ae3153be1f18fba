// The server's string table, UTF conversions and case folding.
#include "text.h"

#include <algorithm>
#include <iterator>

namespace {

struct Entry {
  unsigned id;
  const char* text;
};

constexpr Entry kTable[] = {
#define SS_STRING(id, name, text) {id, text},
#include "strings.inc"
#undef SS_STRING
};

char FoldAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

const char* ServerText(ServerStringId id) {
  const Entry* entry =
      std::lower_bound(std::begin(kTable), std::end(kTable), id,
                       [](const Entry& e, unsigned value) { return e.id < value; });
  return entry != std::end(kTable) && entry->id == id ? entry->text : "";
}

std::string FormatText(ServerStringId id, std::initializer_list<std::string_view> args) {
  std::string_view format = ServerText(id);
  std::string text;
  text.reserve(format.size() + 64);
  auto next = args.begin();
  for (size_t i = 0; i < format.size(); ++i) {
    if (format[i] == '%' && i + 1 < format.size()) {
      if (format[i + 1] == '%') {
        text += '%';
        ++i;
        continue;
      }
      if (format[i + 1] == 's' && next != args.end()) {
        text += *next++;
        ++i;
        continue;
      }
    }
    text += format[i];
  }
  return text;
}

WideText WideFromUtf8(std::string_view text) {
  WideText wide;
  wide.reserve(text.size());
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const auto* end = p + text.size();
  while (p < end) {
    unsigned c = *p;
    if (c < 0x80) {
      wide += static_cast<OLECHAR>(c);
      ++p;
      continue;
    }
    int more = c >= 0xF0 && c <= 0xF4 ? 3 : c >= 0xE0 ? 2 : c >= 0xC2 && c < 0xE0 ? 1 : -1;
    if (c >= 0xF5) more = -1;
    uint32_t code = more == 3 ? c & 0x07 : more == 2 ? c & 0x0F : c & 0x1F;
    bool valid = more > 0 && end - p > more;
    for (int k = 1; valid && k <= more; ++k) {
      if ((p[k] & 0xC0) != 0x80) valid = false;
      code = (code << 6) | (p[k] & 0x3F);
    }
    // Overlong forms, surrogates and values beyond U+10FFFF are not UTF-8.
    if (valid && ((more == 2 && code < 0x800) || (more == 3 && code < 0x10000) ||
                  (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF)) {
      valid = false;
    }
    if (!valid) {
      wide += static_cast<OLECHAR>(0xFFFD);
      ++p;
      continue;
    }
    if (code >= 0x10000) {
      code -= 0x10000;
      wide += static_cast<OLECHAR>(0xD800 + (code >> 10));
      wide += static_cast<OLECHAR>(0xDC00 + (code & 0x3FF));
    } else {
      wide += static_cast<OLECHAR>(code);
    }
    p += more + 1;
  }
  return wide;
}

std::string Utf8FromWide(const OLECHAR* text, size_t length) {
  std::string narrow;
  narrow.reserve(length);
  for (size_t i = 0; i < length; ++i) {
    uint32_t code = static_cast<uint16_t>(text[i]);
    if (code >= 0xD800 && code <= 0xDBFF && i + 1 < length &&
        static_cast<uint16_t>(text[i + 1]) >= 0xDC00 &&
        static_cast<uint16_t>(text[i + 1]) <= 0xDFFF) {
      code = 0x10000 + ((code - 0xD800) << 10) + (static_cast<uint16_t>(text[i + 1]) - 0xDC00);
      ++i;
    } else if (code >= 0xD800 && code <= 0xDFFF) {
      code = 0xFFFD;
    }
    if (code < 0x80) {
      narrow += static_cast<char>(code);
    } else if (code < 0x800) {
      narrow += static_cast<char>(0xC0 | (code >> 6));
      narrow += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
      narrow += static_cast<char>(0xE0 | (code >> 12));
      narrow += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      narrow += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      narrow += static_cast<char>(0xF0 | (code >> 18));
      narrow += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
      narrow += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      narrow += static_cast<char>(0x80 | (code & 0x3F));
    }
  }
  return narrow;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i] != b[i] && FoldAscii(a[i]) != FoldAscii(b[i])) return false;
  }
  return true;
}

std::string FoldCase(std::string_view text) {
  std::string folded(text);
  for (char& c : folded) c = FoldAscii(c);
  return folded;
}
