// The command-line tokenizer: a general character-set tokenizer and the
// reader of positional arguments and switches built on it. Items are ranges
// into the shared command-line text; nothing is copied while splitting.
#pragma once

#include "base/string.h"
#include "base/string_range.h"

class ClTokenizer {
 public:
  ClTokenizer(const ClString& delimiterSet, const ClString& whitespaceSet,
              const ClString& quoteSet);

  // Starts reading `text` from its beginning.
  void SetText(const ClString& text);
  // Sets the characters that GetDelimiter accepts (and that end a token).
  void SetDelimiters(const ClString& set);
  // Skips whitespace and consumes one delimiter; 0 when the next character
  // is none (the skipped whitespace stays consumed).
  char GetDelimiter();
  // Skips whitespace and reads the next token: a quoted one up to its
  // closing quote (which is consumed), else up to a delimiter or whitespace
  // (which is not). At the end, `out` is the empty range.
  void GetToken(ClStringRange& out);

 protected:
  void SkipWhitespace();

  ClStringRange rest;  // what is not consumed yet
  ClStringRange mark;  // `rest` as it was at the start of the last read
  ClString delimiters;
  ClString whitespace;
  ClString quotes;
  ClString terminators;  // delimiters, then whitespace
};

class ClCommandLine : public ClTokenizer {
 public:
  explicit ClCommandLine(const ClString& commandLine);

  // Reads the next item into `argument` (a positional argument, numbered by
  // `argIndex`: the program's own path is 0) or `switchName`/`switchValue`.
  // False when the command line is exhausted.
  bool Next();

  ClStringRange argument;
  ClStringRange switchName;   // without its prefix
  ClStringRange switchValue;  // the text after the switch's colon
  LONG argIndex;

 private:
  ClString prefixes;
  ClString nameTerminators;
};
