// Fuzz target: the command-line tokenizer and the option parsing over
// arbitrary bytes; and the Linux layer's command line, rebuilt from arguments
// (the input split at NUL bytes). Words that a Windows console could type
// alike read back as the same words typed with blanks between them; other
// elements, where no word borrows from the next, as the element alone; and
// those that hold a quotation mark as stand-ins, in order.
#include <ctype.h>
#include <stddef.h>
#include <stdint.h>

#include <algorithm>
#include <iterator>
#include <string>
#include <vector>

#include "app/options.h"
#include "base/tokenizer.h"
#include "fuzz_support.h"
#include "res/switch_words.h"
#include "winapi/linux/command_line.h"

namespace {

// "a:<text>" for a positional argument, "s:<name>=<value>" for a switch;
// each is applied to a fresh options record too.
std::vector<std::string> ReadItems(const ClString& line) {
  std::vector<std::string> items;
  ClCommandLine reader(line);
  CounterOptions options;
  bool showBanner = true;
  LONG lastIndex = -1;
  while (reader.Next()) {
    ApplyCommandLineItem(reader, options, showBanner);
    // Every item consumes at least one character of the line.
    FUZZ_CHECK(items.size() <= line.GetLength());
    if (reader.switchName.IsEmpty()) {
      FUZZ_CHECK(reader.switchValue.IsEmpty() && reader.argIndex == lastIndex + 1);
      lastIndex = reader.argIndex;
      items.push_back(std::string("a:") + reader.argument.GetText().GetText());
    } else {
      FUZZ_CHECK(reader.argument.IsEmpty());
      items.push_back(std::string("s:") + reader.switchName.GetText().GetText() + "=" +
                      reader.switchValue.GetText().GetText());
    }
  }
  FUZZ_CHECK(reader.argument.IsEmpty() && reader.switchName.IsEmpty() &&
             reader.switchValue.IsEmpty());
  return items;
}

// The names of a switch group ("/a-b:v" gives a and b).
std::vector<std::string> SwitchNames(const std::string& element) {
  const std::string names = element.substr(0, element.find(':'));
  std::vector<std::string> out;
  for (size_t start = 1;;) {
    const size_t end = names.find_first_of("/-", start);
    out.push_back(names.substr(start, end - start));
    if (end == std::string::npos) return out;
    start = end + 1;
  }
}

// Whether an element is a switch group: it starts with "-", or with "/" and
// has no further "/" before its value or names nothing but switch words.
bool IsGroup(const std::string& element) {
  if (element.empty() || (element[0] != '-' && element[0] != '/')) return false;
  if (element[0] == '-') return true;
  if (element.substr(0, element.find(':')).find('/', 1) == std::string::npos) return true;
  for (std::string name : SwitchNames(element)) {
    for (char& c : name) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    if (name.empty()) continue;
    if (std::none_of(std::begin(kSwitchWords), std::end(kSwitchWords),
                     [&](const SwitchWord& word) { return name == word.name; }))
      return false;
  }
  return true;
}

// Whether a Windows console could type the element as it stands and read the
// same from it: not empty, no blank or quotation mark, no path, and no "/" or
// "-" in a positional word or after a group's colon, where Linux keeps them.
bool TypedAlike(const std::string& element) {
  if (element.empty() || element.find_first_of(" \t\r\n\"") != std::string::npos) return false;
  const bool group = IsGroup(element);
  if (element[0] == '/' && !group) return false;
  const size_t from = group ? element.find(':') : 0;
  return from == std::string::npos || element.find_first_of("/-", from) == std::string::npos;
}

// Appends the items that one argument must give on its own, or returns false
// for one that borrows from the next element or lends to the one before (a
// trailing prefix, an empty value, a leading colon) or whose reading the
// rebuild leaves to the user (a blank name, an empty name before a value).
// An argument that holds a quotation mark gives its stand-in; the program's
// name loses its quotation marks.
bool ExpectElement(std::string element, bool isProgram, std::vector<std::string>& out,
                   std::vector<std::string>& uncarried) {
  if (isProgram) {
    element.erase(std::remove(element.begin(), element.end(), '"'), element.end());
    out.push_back("a:" + element);
    return true;
  }
  const bool group = IsGroup(element);
  if (element.find('"') != std::string::npos) {
    const std::string standIn = std::to_string(uncarried.size()) + '"';
    out.push_back(group ? "s:" + standIn + "=" : "a:" + standIn);
    uncarried.push_back(element);
    return true;
  }
  if (!element.empty() && element[0] == ':') return false;
  if (!group) {
    out.push_back("a:" + element);
    return true;
  }
  const std::vector<std::string> names = SwitchNames(element);
  const size_t colon = element.find(':');
  const std::string value = colon == std::string::npos ? "" : element.substr(colon + 1);
  if (names.back().empty() || (colon != std::string::npos && value.empty())) return false;
  for (size_t i = 0; i < names.size(); ++i) {
    if (names[i].find_first_of(" \t\r\n") != std::string::npos) return false;
    if (names[i].empty()) continue;  // the tokenizer skips a lone prefix
    out.push_back("s:" + names[i] + "=" + (i + 1 == names.size() ? value : ""));
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  SilenceStandardOutput();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);

  // The bytes as the process's command line (which ends at its first NUL).
  ReadItems(ClString(bytes.c_str()));

  // The bytes as argv.
  std::vector<std::string> elements;
  for (size_t start = 0; start <= size;) {
    const size_t end = std::min(bytes.find('\0', start), size);
    elements.push_back(bytes.substr(start, end - start));
    start = end + 1;
  }
  std::vector<const char*> argv;
  std::vector<std::string> expected, expectedUncarried;
  bool checkable = true, typedAlike = elements.size() > 1;
  std::string program = elements[0];
  program.erase(std::remove(program.begin(), program.end(), '"'), program.end());
  std::string typed = '"' + program + '"';
  for (size_t i = 0; i < elements.size(); ++i) {
    argv.push_back(elements[i].c_str());
    checkable = ExpectElement(elements[i], i == 0, expected, expectedUncarried) && checkable;
    if (i > 0) {
      typedAlike = typedAlike && TypedAlike(elements[i]);
      typed += ' ' + elements[i];
    }
  }
  std::vector<std::string> uncarried;
  const std::string rebuilt =
      BuildCommandLine(static_cast<int>(argv.size()), argv.data(), &uncarried);
  const std::vector<std::string> read = ReadItems(ClString(rebuilt.c_str()));
  FUZZ_CHECK(uncarried == expectedUncarried);
  // Every stand-in is read as an item of its own, in order.
  long standIns = 0;
  for (const std::string& item : read) {
    // An argument's text, or the name of a switch without a value.
    const std::string text = item[0] == 'a' ? item.substr(2) : item.substr(2, item.size() - 3);
    if (UncarriedNumber(text.c_str()) >= 0 && (item[0] == 'a' || item.back() == '='))
      FUZZ_CHECK(UncarriedNumber(text.c_str()) == standIns++);
  }
  FUZZ_CHECK(standIns == static_cast<long>(uncarried.size()));
  if (checkable) FUZZ_CHECK(read == expected);
  if (typedAlike) FUZZ_CHECK(read == ReadItems(ClString(typed.c_str())));
  return 0;
}
