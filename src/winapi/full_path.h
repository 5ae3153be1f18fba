// The full path of a POSIX path, made lexically: one rule for the Linux
// layer's GetFullPathNameA and the SourceSafe server on Linux, so that both
// name a file the same way.
#pragma once

#include <string>
#include <string_view>

// `path` with `currentFolder` (absolute, unused when `path` begins with "/")
// in front of it, "." and ".." resolved and repeated "/" folded, no link
// followed; ".." at the root stays there. A trailing "/" is kept, and the
// root is "/".
inline std::string LexicalFullPath(std::string_view currentFolder, std::string_view path) {
  std::string input;
  if (path.empty() || path[0] != '/') {
    input = currentFolder;
    input += '/';
  }
  input += path;
  std::string full;  // "/a/b" for each component kept; empty at the root
  for (size_t start = 0; start < input.size();) {
    size_t end = input.find('/', start);
    if (end == std::string::npos) end = input.size();
    std::string_view part(input.data() + start, end - start);
    if (part == "..") {
      full.resize(full.empty() ? 0 : full.rfind('/'));
    } else if (!part.empty() && part != ".") {
      full += '/';
      full += part;
    }
    start = end + 1;
  }
  if (full.empty() || input.back() == '/') full += '/';
  return full;
}
