// The lines, fields and tables of the database's text files.
#include "file_format.h"

#include <string.h>

#include "platform.h"
#include "text.h"

bool LineReader::Next(std::string_view* line) {
  if (position_ >= text_.size()) return false;
  const char* start = text_.data() + position_;
  const void* newline = memchr(start, '\n', text_.size() - position_);
  size_t length = newline ? static_cast<const char*>(newline) - start : text_.size() - position_;
  position_ += length + 1;
  *line = std::string_view(start, length);
  if (!line->empty() && line->back() == '\r') line->remove_suffix(1);
  ++number_;
  return true;
}

bool SplitFields(std::string_view line, std::string_view* fields, size_t count) {
  if (!line.empty() && line.back() == '\r') return false;
  for (size_t i = 0; i + 1 < count; ++i) {
    size_t tab = line.find('\t');
    if (tab == std::string_view::npos) return false;
    fields[i] = line.substr(0, tab);
    line.remove_prefix(tab + 1);
  }
  if (line.find('\t') != std::string_view::npos) return false;
  fields[count - 1] = line;
  return true;
}

Failure Damaged(const std::string& file, size_t line, std::string_view what) {
  return Failure{E_FAIL, FormatText(SS_DAMAGED, {file, std::to_string(line), what})};
}

bool IsStorableLocalPath(std::string_view path) {
  return path.find_first_of("\t\r\n") == std::string_view::npos;
}

bool IsValidUserName(std::string_view name) {
  return !name.empty() && name.find_first_of("\t\r\n") == std::string_view::npos;
}

bool ReadTable(const std::string& path, std::string_view header, TextTable* table,
               Failure* failure) {
  table->clear();
  std::string data, error;
  bool missing = false;
  if (!ReadWholeFile(path, &data, &missing, &error)) {
    if (missing) return true;  // nothing recorded yet
    SetFailure(failure, E_FAIL, FormatText(SS_READ_FAILED, {path, error}));
    return false;
  }
  LineReader reader(data);
  std::string_view line;
  if (!reader.Next(&line) || line != header) {
    if (failure) *failure = Damaged(path, 1, header);
    return false;
  }
  while (reader.Next(&line)) {
    if (line.empty()) continue;
    std::string_view fields[2];
    if (!SplitFields(line, fields, 2) || fields[0].empty() || fields[1].empty()) {
      if (failure) *failure = Damaged(path, reader.Number(), "KEY<tab>VALUE");
      return false;
    }
    (*table)[std::string(fields[0])] = std::string(fields[1]);
  }
  return true;
}

bool WriteTable(const std::string& path, std::string_view header, const TextTable& table,
                Failure* failure) {
  std::string text(header);
  text += '\n';
  for (const auto& [key, value] : table) {
    text += key;
    text += '\t';
    text += value;
    text += '\n';
  }
  std::string error;
  if (!WriteFileAtomically(path, text, &error)) {
    SetFailure(failure, E_FAIL, FormatText(SS_WRITE_FAILED, {path, error}));
    return false;
  }
  return true;
}
