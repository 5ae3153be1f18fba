// Fuzz target: forcing an extension with ClPathName. Whatever the path, the
// result is its folder part, the title of its last component and the forced
// extension after one dot, also when the extension is forced a second time.
// The input: a byte that picks the separator, two extensions ended by NUL
// bytes, then the path.
#include <stddef.h>
#include <stdint.h>

#include <algorithm>
#include <string>

#include "base/path_name.h"
#include "fuzz_support.h"

namespace {

// Takes the text up to the next NUL (or the end) off the front of `input`.
std::string TakeField(std::string& input) {
  const size_t end = std::min(input.find('\0'), input.size());
  std::string field = input.substr(0, end);
  input.erase(0, std::min(end + 1, input.size()));
  return field;
}

void CheckPath(ClPathName& name, const std::string& expected) {
  ClString out;
  name.GetPath(out);
  FUZZ_CHECK(std::string(out.GetText(), out.GetLength()) == expected);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const char separator = data[0] & 1 ? '\\' : '/';
  std::string input(reinterpret_cast<const char*>(data) + 1, size - 1);
  std::string first = TakeField(input), second = TakeField(input);
  const std::string path = TakeField(input);
  // An extension names no folder.
  std::replace(first.begin(), first.end(), separator, '_');
  std::replace(second.begin(), second.end(), separator, '_');

  const size_t folderEnd =
      path.rfind(separator) == std::string::npos ? 0 : path.rfind(separator) + 1;
  const std::string folder = path.substr(0, folderEnd);
  const std::string fileName = path.substr(folderEnd);
  const std::string title = fileName.substr(0, std::min(fileName.rfind('.'), fileName.size()));

  ClPathName name(ClString(path.c_str()), separator);
  name.SetExtension(ClStringRange(ClString(first.c_str())));
  CheckPath(name, folder + title + "." + first);
  name.SetExtension(ClStringRange(ClString(second.c_str())));
  CheckPath(name, folder + title + "." + second);
  return 0;
}
