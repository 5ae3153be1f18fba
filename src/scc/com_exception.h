// ClComException: a failed COM or Automation call, with the server's own
// description of the error where the failing object offers one.
#pragma once

#include "errors/exception.h"
#include "winapi/winapi.h"

// `errorCode` holds the HRESULT. Reports without a message of their own stand
// under the heading "Component Error".
class ClComException : public ClWin32Exception {
 public:
  // No messages; for failures without an object to ask (class lookup,
  // creation).
  explicit ClComException(HRESULT result);
  // One message; no description is fetched.
  ClComException(const ClMessage& message, HRESULT result);
  // The message "Component Error", then the description that `object`
  // reports for interface `iid`, if any. Throws ClComException(code) in its
  // place when asking `object` for ISupportErrorInfo fails other than with
  // E_NOINTERFACE.
  ClComException(HRESULT result, IUnknown* object, REFIID iid);
  // As above with `message` in place of "Component Error".
  ClComException(const ClMessage& message, HRESULT result, IUnknown* object, REFIID iid);
  ~ClComException() override;

  void Describe(ClString& text) override;

 private:
  // Appends the description of the thread's error info when `object`
  // vouches for it for `iid`.
  void AddErrorInfo(IUnknown* object, REFIID iid);
};
