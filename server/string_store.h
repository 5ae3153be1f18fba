// Lasting copies of short texts, kept in large blocks: the catalog's texts
// that do not point into a loaded file.
#pragma once

#include <stddef.h>

#include <memory>
#include <string_view>
#include <vector>

class StringStore {
 public:
  StringStore() = default;
  StringStore(const StringStore&) = delete;
  StringStore& operator=(const StringStore&) = delete;

  // A copy of `text` that lives as long as the store, or until Clear.
  std::string_view Keep(std::string_view text);
  void Clear();

 private:
  std::vector<std::unique_ptr<char[]>> blocks_;
  char* free_ = nullptr;
  size_t blockLeft_ = 0;
};
