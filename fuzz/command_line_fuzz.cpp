// Fuzz target: the command-line tokenizer and the option parsing over
// arbitrary bytes; and the Linux layer's command line, rebuilt from arguments
// (the input split at NUL bytes), which must read back to those arguments,
// less the ones that hold a quotation mark, which it names instead.
#include <ctype.h>
#include <stddef.h>
#include <stdint.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/options.h"
#include "base/tokenizer.h"
#include "fuzz_support.h"
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

// Appends the items that one argument must give, or returns false when it is
// one whose reading the rebuild leaves to the user: a switch group with a
// blank name, or with an empty name that a value follows. An argument that
// holds a quotation mark is left out (and added to `uncarried`); the
// program's name loses its quotation marks.
bool ExpectElement(std::string element, bool isProgram, std::vector<std::string>& out,
                   std::vector<std::string>& uncarried) {
  if (isProgram) {
    element.erase(std::remove(element.begin(), element.end(), '"'), element.end());
    out.push_back("a:" + element);
    return true;
  }
  if (element.find('"') != std::string::npos) {
    uncarried.push_back(element);
    return true;
  }
  const char first = element.empty() ? 0 : element[0];
  const std::vector<std::string> names =
      first == '-' || first == '/' ? SwitchNames(element) : std::vector<std::string>();
  const size_t colon = element.find(':');
  bool group = first == '-';
  if (first == '/') {
    // No further "/" before the value, or nothing but switch words.
    group = element.substr(0, colon).find('/', 1) == std::string::npos;
    bool onlySwitches = true;
    for (std::string name : names) {
      for (char& c : name) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
      onlySwitches = onlySwitches && (name.empty() || name == "i" || name == "b" ||
                                      name == "nologo" || name == "c" || name == "n" ||
                                      name == "?" || name == "help" || name == "version" ||
                                      name == "e");
    }
    group = group || onlySwitches;
  }
  if (!group) {
    out.push_back("a:" + element);
    return true;
  }
  const std::string value = colon == std::string::npos ? "" : element.substr(colon + 1);
  if (names.back().empty() && colon != std::string::npos) return false;
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
  bool checkable = true;
  for (size_t i = 0; i < elements.size(); ++i) {
    argv.push_back(elements[i].c_str());
    checkable = checkable && ExpectElement(elements[i], i == 0, expected, expectedUncarried);
  }
  std::vector<std::string> uncarried;
  const std::string rebuilt =
      BuildCommandLine(static_cast<int>(argv.size()), argv.data(), &uncarried);
  const std::vector<std::string> read = ReadItems(ClString(rebuilt.c_str()));
  // No quotation mark reaches the line but the ones that quote.
  FUZZ_CHECK(std::count(rebuilt.begin(), rebuilt.end(), '"') % 2 == 0);
  if (checkable) FUZZ_CHECK(read == expected && uncarried == expectedUncarried);
  return 0;
}
