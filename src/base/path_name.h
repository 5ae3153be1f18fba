// A path taken apart into directory, file name, title and extension, and
// put together again; the tool uses it to force an extension.
#pragma once

#include "base/string.h"
#include "base/string_range.h"

class ClPathName {
 public:
  // Only the path is valid. `separator` splits components: the platform's
  // own by default (tests pass the other one to check both rule sets).
  explicit ClPathName(const ClString& whole, char separator = kPathSeparator);

  // Replaces the extension of the last component with `ext` (given without
  // a dot); adds one when the component has none.
  void SetExtension(const ClStringRange& ext);
  // Puts the path together again from its valid parts.
  void GetPath(ClString& out);

 private:
  enum : DWORD {
    validPath = 1,
    validDirectory = 2,
    validFileName = 4,
    validTitle = 8,
    validExtension = 16,
  };

  ClStringRange path;
  ClStringRange directory;  // up to and including the last separator
  ClStringRange fileName;   // after the last separator
  ClStringRange title;      // the file name up to its last dot
  ClStringRange extension;  // after that dot, without it
  DWORD valid;
  char separator;
};

// `path` with the extension of its last component replaced by (or, when it
// has none, extended with) `ext`, given without a dot.
ClString WithExtension(const ClString& path, const char* ext);
