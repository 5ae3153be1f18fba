// ClTokenizer and ClCommandLine. Characters are bytes; comparisons are byte
// equality.
#include "base/tokenizer.h"

namespace {

bool InSet(const ClString& set, char c) { return memchr(set.GetText(), c, set.GetLength()); }

}  // namespace

ClTokenizer::ClTokenizer(const ClString& delimiterSet, const ClString& whitespaceSet,
                         const ClString& quoteSet)
    : whitespace(whitespaceSet), quotes(quoteSet) {
  SetDelimiters(delimiterSet);
}

void ClTokenizer::SetText(const ClString& text) {
  rest = ClStringRange(text);
  if (rest.IsEmpty()) rest.Clear();
  mark = rest;
}

void ClTokenizer::SetDelimiters(const ClString& set) {
  delimiters = set;
  if (whitespace.IsEmpty()) {
    terminators = delimiters;
  } else if (delimiters.IsEmpty()) {
    terminators = whitespace;
  } else {
    terminators = delimiters;
    terminators.Append(whitespace);
  }
}

void ClTokenizer::SkipWhitespace() {
  while (!rest.IsEmpty() && InSet(whitespace, *rest.Begin()))
    rest.SplitBefore(nullptr, &rest, rest.Begin() + 1);
}

char ClTokenizer::GetDelimiter() {
  mark = rest;
  SkipWhitespace();
  if (rest.IsEmpty() || !InSet(delimiters, *rest.Begin())) return 0;
  const char delimiter = *rest.Begin();
  rest.SplitBefore(nullptr, &rest, rest.Begin() + 1);
  return delimiter;
}

void ClTokenizer::GetToken(ClStringRange& out) {
  mark = rest;
  SkipWhitespace();
  if (rest.IsEmpty()) {
    out.Clear();
    return;
  }
  const char first = *rest.Begin();
  if (InSet(quotes, first)) {
    ClStringRange quoted;
    rest.SplitBefore(nullptr, &quoted, rest.Begin() + 1);
    const char* closing =
        static_cast<const char*>(memchr(quoted.Begin(), first, quoted.GetLength()));
    quoted.SplitAt(&out, &rest, closing);  // no closing quote: the rest of the line
    return;
  }
  const char* p = rest.Begin();
  while (p < rest.End() && !InSet(terminators, *p)) ++p;
  rest.SplitBefore(&out, &rest, p);
}

ClCommandLine::ClCommandLine(const ClString& commandLine)
    : ClTokenizer(ClString(), " \t\r\n", "\""),
      argIndex(-1),
      prefixes("/-"),
      nameTerminators(":/-") {
  SetText(commandLine);
}

bool ClCommandLine::Next() {
  argument.Clear();
  switchName.Clear();
  switchValue.Clear();
  if (rest.IsEmpty()) return false;
  for (;;) {
    SetDelimiters(prefixes);
    if (!GetDelimiter()) {
      if (rest.IsEmpty()) return false;  // only whitespace was left
      GetToken(argument);
      ++argIndex;
      return true;
    }
    SetDelimiters(nameTerminators);
    GetToken(switchName);
    if (!switchName.IsEmpty()) break;
    // A lone prefix (before another prefix, a colon or the end) is ignored.
    if (rest.IsEmpty()) return false;
  }
  if (GetDelimiter() == ':') {
    SetDelimiters(prefixes);
    GetToken(switchValue);
  } else {
    rest = mark;  // undo the look-ahead
  }
  return true;
}
