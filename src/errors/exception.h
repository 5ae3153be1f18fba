// The exception classes of the class library. Every failure travels as one
// of them, created on the heap, thrown by pointer, caught as ClException*
// and deleted by whoever handles it; code that adds context catches it,
// calls AddMessage and throws the same pointer on.
#pragma once

#include "base/block_array.h"
#include "base/string.h"
#include "errors/call_stack.h"
#include "winapi/winapi.h"

// One entry of an exception's message list: a literal text, or a reference
// to a string-table entry that is loaded (never formatted) when the report
// is built.
class ClMessage {
 public:
  // A text entry.
  ClMessage(const ClString& literal) : module(nullptr), text(literal), id(0) {}  // NOLINT
  ClMessage(const char* literal) : module(nullptr), text(literal), id(0) {}      // NOLINT
  // A reference to entry `id` of `module`'s string table.
  static ClMessage Reference(UINT id, HMODULE module = nullptr);

  // The text; a reference entry is loaded in place the first time.
  const ClString& GetText();
  bool IsReference() const { return module != nullptr; }
  UINT GetId() const { return id; }

 private:
  ClMessage() = default;

  HMODULE module;  // null for a text entry
  ClString text;
  UINT id;
};

// The root of the class tree.
class ClClassInfo {
 public:
  // True when the object belongs to the class identified by `classId`.
  virtual bool IsKindOf(DWORD classId) const;

 protected:
  // Not virtual: objects are deleted through ClException, which adds one.
  ~ClClassInfo() = default;
};

class ClException : public ClClassInfo {
 public:
  ClException();
  explicit ClException(const ClMessage& message);
  // The report shows `first` above `second`.
  ClException(const ClMessage& first, const ClMessage& second);
  virtual ~ClException();

  // Completes the report text with the class's own part.
  virtual void Describe(ClString& text);
  // Appends technical details and the call-stack listing.
  virtual void DescribeDetails(ClString& text);

  // Appends a message; it becomes the newest, shown first.
  void AddMessage(const ClMessage& message);
  // `text` comes in empty and leaves holding the whole report: the messages,
  // newest first, then the class's part.
  void BuildReport(ClString& text);

  ClBlockArray<ClMessage> messages;
  ClBlockArray<ClStackFrame> callStack;

 protected:
  // The snapshot starts at `start` instead of this constructor.
  explicit ClException(const ClStackStart& start);
  // The call-stack listing, framed by "---" lines.
  void AppendCallStackListing(ClString& text);
};

// A failed Win32 call: `errorCode` is its system error code (an HRESULT for
// the COM subclass); 0 means there is no code.
class ClWin32Exception : public ClException {
 public:
  static constexpr DWORD kClassId = 0x0E07E3F7;

  ClWin32Exception(DWORD code, const ClMessage& message);
  // No messages; the snapshot starts at `start`.
  ClWin32Exception(const ClStackStart& start, DWORD code);

  bool IsKindOf(DWORD classId) const override;
  void Describe(ClString& text) override;
  void DescribeDetails(ClString& text) override;

  DWORD errorCode;

 protected:
  // No messages.
  explicit ClWin32Exception(DWORD code);
};

// A file operation that failed; `fileName` may be empty.
class ClFileException : public ClWin32Exception {
 public:
  ClFileException(DWORD code, const ClMessage& message, const ClString& name);

  void Describe(ClString& text) override;

  ClString fileName;
};

// An allocation that failed; `size` is the byte count asked for, 0 when
// unknown.
class ClMemException : public ClException {
 public:
  static constexpr DWORD kClassId = 0x1EE41E3F;

  explicit ClMemException(DWORD bytes);
  ClMemException(const ClStackStart& start, DWORD bytes);

  bool IsKindOf(DWORD classId) const override;
  void Describe(ClString& text) override;
  void DescribeDetails(ClString& text) override;

  DWORD size;
};

// Throws a ClWin32Exception with the calling thread's last error code, no
// messages and a call stack that starts here.
[[noreturn]] void ThrowLastError();

// Appends the system's text for `code` (as the system gives it, trailing
// line break included); appends nothing when there is none.
void AppendSystemErrorText(ClString& text, DWORD code);
