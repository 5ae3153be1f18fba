// A growable array whose count and capacity stand in one heap block in front
// of the elements. It is owned by one holder: copying is not supported.
#pragma once

#include <stddef.h>

#include <new>
#include <utility>

#include "winapi/winapi.h"

template <typename T>
class ClBlockArray {
 public:
  ClBlockArray() = default;
  ClBlockArray(const ClBlockArray&) = delete;
  ClBlockArray& operator=(const ClBlockArray&) = delete;
  ~ClBlockArray() { Free(); }

  DWORD GetCount() const { return elements_ ? Header()->count : 0; }
  DWORD GetCapacity() const { return elements_ ? Header()->capacity : 0; }
  T& operator[](DWORD i) { return elements_[i]; }
  const T& operator[](DWORD i) const { return elements_[i]; }
  T* begin() { return elements_; }
  T* end() { return elements_ + GetCount(); }
  const T* begin() const { return elements_; }
  const T* end() const { return elements_ + GetCount(); }

  // Makes room for at least `capacity` elements in all.
  void Reserve(DWORD capacity) {
    if (capacity > GetCapacity()) Reallocate(capacity);
  }
  // Appends a copy of `value`, doubling the room when it is full (the first
  // room holds one element).
  void Append(const T& value) {
    DWORD count = GetCount();
    if (count == GetCapacity()) Reallocate(count ? 2 * count : 1);
    new (elements_ + count) T(value);
    ++Header()->count;
  }

 private:
  struct BlockHeader {
    DWORD count;
    DWORD capacity;
  };
  // The elements follow the header at their own alignment.
  static constexpr size_t kElementsOffset =
      (sizeof(BlockHeader) + alignof(T) - 1) / alignof(T) * alignof(T);

  BlockHeader* Header() const { return static_cast<BlockHeader*>(block_); }

  void Reallocate(DWORD capacity) {
    void* block = operator new(kElementsOffset + static_cast<size_t>(capacity) * sizeof(T));
    auto* header = static_cast<BlockHeader*>(block);
    T* elements = reinterpret_cast<T*>(static_cast<char*>(block) + kElementsOffset);
    DWORD count = GetCount();
    for (DWORD i = 0; i < count; ++i) {
      new (elements + i) T(std::move(elements_[i]));
      elements_[i].~T();
    }
    header->count = count;
    header->capacity = capacity;
    if (block_) operator delete(block_);
    block_ = block;
    elements_ = elements;
  }

  void Free() {
    for (DWORD i = 0, count = GetCount(); i < count; ++i) elements_[i].~T();
    if (block_) operator delete(block_);
    block_ = nullptr;
    elements_ = nullptr;
  }

  void* block_ = nullptr;
  T* elements_ = nullptr;
};
