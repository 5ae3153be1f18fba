// How the server's work fails: a code for programs and a text for people.
#pragma once

#include <string>
#include <utility>

#include "winapi/winapi.h"

// SourceSafe's own error codes, as its clients know them.
constexpr HRESULT kSsItemNotFound = static_cast<HRESULT>(0x8004D68Fu);
constexpr HRESULT kSsBadUserName = static_cast<HRESULT>(0x8004D6C2u);
constexpr HRESULT kSsFileNotFound = static_cast<HRESULT>(0x8004D74Bu);
constexpr HRESULT kSsCheckedOut = static_cast<HRESULT>(0x8004D75Bu);

// What went wrong: the code for programs and the text for people (what is
// wrong and what to do).
struct Failure {
  HRESULT code = S_OK;
  std::string text;
};

// Sets `failure`, where the caller wants one.
inline void SetFailure(Failure* failure, HRESULT code, std::string text) {
  if (failure) *failure = Failure{code, std::move(text)};
}
