// The catalog's storage of texts, one large block after another.
#include "string_store.h"

#include <string.h>

#include <algorithm>

std::string_view StringStore::Keep(std::string_view text) {
  constexpr size_t kBlockSize = 1 << 20;
  if (text.size() > blockLeft_) {
    blockLeft_ = std::max(kBlockSize, text.size());
    blocks_.push_back(std::make_unique<char[]>(blockLeft_));
    free_ = blocks_.back().get();
  }
  char* copy = free_;
  if (!text.empty()) memcpy(copy, text.data(), text.size());
  free_ += text.size();
  blockLeft_ -= text.size();
  return {copy, text.size()};
}

void StringStore::Clear() {
  blocks_.clear();
  free_ = nullptr;
  blockLeft_ = 0;
}
