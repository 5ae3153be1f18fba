// Parsing the counter header's first line and formatting its text.
#include "app/header_format.h"

#include <vector>

#include "base/string_range.h"
#include "errors/exception.h"
#include "errors/resource_strings.h"

namespace {

const char kBlanks[] = " \t\r\n";

const char* Find(const ClStringRange& range, char c) {
  return static_cast<const char*>(memchr(range.Begin(), c, range.GetLength()));
}

bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// What a "%s" of the templates stands for: a name, which holds no line
// break or double quote.
bool IsNameCharacter(char c) { return c != '\r' && c != '\n' && c != '"' && c != '\0'; }

// Longer than any text of ours, however long its names.
constexpr size_t kMaxOwnText = 64 * 1024;

}  // namespace

bool ScanUnsigned(const char* text, DWORD& value) {
  const char* p = text;
  while (IsSpace(*p)) ++p;
  const bool negative = *p == '-';
  if (*p == '-' || *p == '+') ++p;
  if (*p < '0' || *p > '9') return false;
  uint64_t magnitude = 0;
  bool overflow = false;
  for (; *p >= '0' && *p <= '9'; ++p) {
    magnitude = magnitude * 10 + static_cast<unsigned>(*p - '0');
    if (magnitude > 0xFFFFFFFFu) {
      overflow = true;
      magnitude = 0xFFFFFFFFu;
    }
  }
  if (overflow) {
    value = 0xFFFFFFFFu;
  } else {
    value = negative ? static_cast<DWORD>(0u - static_cast<DWORD>(magnitude))
                     : static_cast<DWORD>(magnitude);
  }
  return true;
}

DWORD ParseBuildNumber(const ClString& text, const ClString& headerFile) {
  ClStringRange line(text);
  line.SplitAt(&line, nullptr, Find(line, '\n'));
  line.SplitAt(&line, nullptr, Find(line, '\r'));

  ClStringRange head(line);
  ClStringRange tail;
  if (line.GetLength() > 3) line.SplitBefore(&head, &tail, line.Begin() + 3);
  if (CompareText(head.Begin(), "// ", static_cast<int>(head.GetLength()), -1) != 0)
    throw new ClException(ClMessage(ClString(IDS_PARSE_ERROR, headerFile.GetText())));

  tail.TrimLeft(kBlanks);
  tail.TrimRight(kBlanks);
  const ClString number = tail.GetText();
  DWORD value = 0;
  if (!ScanUnsigned(number.GetText(), value))
    throw new ClException(
        ClMessage(ClString(IDS_BAD_BUILD_NUMBER, VisibleText(number.GetText()).GetText())));
  return value;
}

ClString FormatHeaderText(DWORD number, const ClString& headerFile, const ClString& buildName) {
  const char* separator =
      FindLastByte(headerFile.GetText(), headerFile.GetLength(), kPathSeparator);
  const char* ownName = separator ? separator + 1 : headerFile.GetText();
  const char* macro = buildName.GetText();
  const unsigned value = number;
  const unsigned low = number & 0xFFFF;
  const unsigned high = number >> 16;
  return ClString(IDS_HEADER_TEMPLATE, value, ownName, macro, value, macro, value, macro, low,
                  macro, high, macro, low, macro, high);
}

bool IsStartOfOwnText(UINT templateId, const char* data, size_t size) {
  if (size > kMaxOwnText) return false;
  ClString textTemplate;
  LoadResString(textTemplate, templateId);
  // reached[j]: the template so far can give data[0, j).
  std::vector<char> reached(size + 1), next(size + 1);
  reached[0] = true;
  for (const char* t = textTemplate.GetText(); *t;) {
    if (reached[size]) return true;  // all of it, part way through the template
    if (t[0] == '%' && (t[1] == 'u' || t[1] == 's')) {
      // One or more characters of the kind.
      const auto fits = t[1] == 'u' ? IsDigit : IsNameCharacter;
      bool run = false;
      next[0] = false;
      for (size_t k = 0; k < size; ++k) next[k + 1] = run = fits(data[k]) && (reached[k] || run);
      t += 2;
    } else {
      const char c = *t++;
      next[0] = false;
      for (size_t k = 0; k < size; ++k) next[k + 1] = reached[k] && data[k] == c;
    }
    reached.swap(next);
  }
  return reached[size];
}

bool IsHeaderText(const char* data, size_t size) {
  return IsStartOfOwnText(IDS_HEADER_TEMPLATE, data, size);
}
