// Owning holders of an Automation string (ClBStr), an interface reference
// (ClComPtr) and a VARIANT (ClVariant); each releases what it holds in its
// destructor, on exception paths too.
#pragma once

#include "base/string.h"
#include "scc/com_exception.h"
#include "winapi/winapi.h"

// One BSTR; null stands for the empty string.
class ClBStr {
 public:
  ClBStr() = default;
  // A copy of `text`; null or empty leaves the holder null and allocates
  // nothing. Throws ClMemException when the string cannot be allocated.
  explicit ClBStr(const WCHAR* text);
  ~ClBStr() { Free(); }
  ClBStr(const ClBStr&) = delete;
  ClBStr& operator=(const ClBStr&) = delete;

  BSTR Get() const { return text_; }
  // Characters without the terminating NUL; 0 for null.
  UINT GetLength() const { return SysStringLen(text_); }
  // Frees the string and hands out its address for an out-parameter.
  BSTR* Receive() {
    Free();
    return &text_;
  }
  void Free() {
    SysFreeString(text_);
    text_ = nullptr;
  }
  // `out` becomes the text in the conversion code page (AssignFromWide).
  void ToString(ClString& out) const;

 private:
  BSTR text_ = nullptr;
};

// One reference to an interface `T` whose IID is `kIid`.
template <typename T, const IID& kIid>
class ClComPtr {
 public:
  ClComPtr() = default;
  ~ClComPtr() { Reset(); }
  ClComPtr(const ClComPtr&) = delete;
  ClComPtr& operator=(const ClComPtr&) = delete;

  static const IID& Iid() { return kIid; }
  T* Get() const { return object_; }
  T* operator->() const { return object_; }
  explicit operator bool() const { return object_ != nullptr; }

  // Releases the reference, if any.
  void Reset() {
    if (T* object = object_) {
      object_ = nullptr;
      object->Release();
    }
  }
  // Holds `object` (may be null) with a reference of its own; used on an
  // empty holder.
  void Attach(T* object) {
    Reset();
    if (object) object->AddRef();
    object_ = object;
  }
  // Exchanges the two references; no counting.
  void Swap(ClComPtr& other) {
    T* mine = object_;
    object_ = other.object_;
    other.object_ = mine;
  }
  // Releases the reference and hands out the holder's address for an
  // out-parameter.
  T** Receive() {
    Reset();
    return &object_;
  }
  // Same, typed for QueryInterface and CoCreateInstance.
  void** ReceiveVoid() { return reinterpret_cast<void**>(Receive()); }
  // Creates an object of class `clsid` into the holder. Throws
  // ClComException with the HRESULT when CoCreateInstance fails.
  void CreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context) {
    const HRESULT result = CoCreateInstance(clsid, outer, context, kIid, ReceiveVoid());
    if (FAILED(result)) {
      object_ = nullptr;
      throw new ClComException(result);
    }
  }

 private:
  T* object_ = nullptr;
};

// One VARIANT, VT_EMPTY at first.
class ClVariant {
 public:
  ClVariant() { VariantInit(&variant_); }
  ~ClVariant() { VariantClear(&variant_); }
  ClVariant(const ClVariant&) = delete;
  ClVariant& operator=(const ClVariant&) = delete;

  const VARIANT& Get() const { return variant_; }
  // Makes it a VT_I4 holding `value`, clearing any other content first.
  void SetInt32(LONG value);

 private:
  VARIANT variant_;
};
