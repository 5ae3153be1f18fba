// Files: a thin owner of a Win32 file handle whose failures are thrown as
// ClFileException naming the file, and full path names.
#pragma once

#include "base/string.h"
#include "winapi/winapi.h"

class ClFile {
 public:
  // The mode word of Open. The creation field is the two bits 0x3000 taken
  // together; 0 opens an existing file. No sharing bit means no sharing.
  enum : DWORD {
    modeRead = 0x1,
    modeWrite = 0x2,
    shareRead = 0x10,
    shareWrite = 0x20,
    shareDelete = 0x40,
    createAlways = 0x1000,  // create, or truncate an existing file
    openExisting = 0x2000,
    openAlways = 0x3000,
    creationMask = 0x3000,
    hintSequential = 0x20000,
    hintRandom = 0x40000,
    attrTemporary = 0x80000,
    deleteOnClose = 0x100000,
    throwIfMissing = 0x200000,  // a missing file or path throws too
    noThrow = 0x400000,         // every failure returns false
  };

  // Closed, with an empty name.
  ClFile();
  // Opens with `mode` + throwIfMissing: opens or throws.
  ClFile(const ClString& fileName, DWORD mode);
  ClFile(const ClFile&) = delete;
  ClFile& operator=(const ClFile&) = delete;
  ~ClFile();

  // True when opened. False when not opened and nothing was thrown: under
  // noThrow, or for a missing file or path without throwIfMissing. The name
  // is kept even when the open fails. Callers close an open file first.
  bool Open(const ClString& fileName, DWORD mode);
  // Closes an open handle and forgets the name; never fails.
  void Close();
  // Bytes read, fewer than `count` at the end of the file.
  DWORD Read(void* buffer, DWORD count);
  // Writes all `count` bytes or throws.
  void Write(const void* buffer, DWORD count);
  // Commits what was written to the disk, or throws.
  void Flush();
  // The size of the open file; a file of 4 GiB or more throws.
  DWORD GetSize();
  // `out` receives at most `count` bytes read from the current position, as
  // they are (a NUL byte ends the text for every C-string use).
  void ReadString(ClString& out, DWORD count);

  bool IsOpen() const { return handle != INVALID_HANDLE_VALUE; }
  const ClString& GetName() const { return name; }

 private:
  [[noreturn]] void ThrowError(UINT messageId);

  ClString name;
  HANDLE handle;
};

// `out` receives the full path of `name`, or with `directoryOnly` its
// directory with the trailing separator.
void GetFullPath(ClString& out, const char* name, bool directoryOnly = false);
