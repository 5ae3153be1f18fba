// The text format of the database's files: lines, tab-separated fields, a
// first line that names the file's format, and the tables of two fields per
// line (checkouts.txt, users.txt).
#pragma once

#include <stddef.h>

#include <map>
#include <string>
#include <string_view>

#include "failure.h"

// Walks a text line by line; a final line without "\n" counts, and "\r"
// before "\n" is dropped so that files edited on Windows still read.
class LineReader {
 public:
  explicit LineReader(std::string_view text) : text_(text) {}
  bool Next(std::string_view* line);
  // The number of the line that Next gave last, from 1.
  size_t Number() const { return number_; }

 private:
  std::string_view text_;
  size_t position_ = 0;
  size_t number_ = 0;
};

// Splits `line` at tabs into exactly `count` fields. A line that still ends
// in "\r" is refused: reading drops the "\r" of a line break, so a last field
// that ends in one would not read back as it was written.
bool SplitFields(std::string_view line, std::string_view* fields, size_t count);

// The failure of a damaged file: `file`'s line `line` is not `what`.
Failure Damaged(const std::string& file, size_t line, std::string_view what);

// Whether a working folder or copy can be stored in a field.
bool IsStorableLocalPath(std::string_view path);
// Whether a text can name a user: not empty, no tab or line break.
bool IsValidUserName(std::string_view name);

// A table file: KEY <tab> VALUE per line after its header line.
typedef std::map<std::string, std::string> TextTable;
// Reads a table file; a missing one is an empty table.
bool ReadTable(const std::string& path, std::string_view header, TextTable* table,
               Failure* failure);
// Replaces a table file whole, atomically.
bool WriteTable(const std::string& path, std::string_view header, const TextTable& table,
                Failure* failure);
