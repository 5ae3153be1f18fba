// ClFile and GetFullPath over the ANSI file calls of the Win32 API.
#include "base/file.h"

#include "errors/exception.h"
#include "errors/resource_strings.h"

void ClFile::Open(const ClString& fileName) {
  name = fileName;
  handle.Reset(CreateFileA(name.GetText(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!handle) {
    const DWORD code = GetLastError();
    throw new ClFileException(code, ClMessage::Reference(IDS_CANNOT_OPEN_FILE), name);
  }
}

void ClFile::Close() {
  handle.Reset();
  name.Empty();
}

DWORD ClFile::GetSize() {
  DWORD high = 0;
  // Only a failure sets the error when the low part reads 0xFFFFFFFF.
  SetLastError(ERROR_SUCCESS);
  const DWORD low = GetFileSize(handle.Get(), &high);
  if (low == INVALID_FILE_SIZE) {
    const DWORD code = GetLastError();
    if (code != ERROR_SUCCESS) throw new ClFileException(code, ClMessage(name), ClString());
  }
  if (high != 0) throw new ClException(ClMessage(ClString(IDS_FILE_TOO_LARGE, name.GetText())));
  return low;
}

void ClFile::ReadString(ClString& out, DWORD count) {
  if (count == 0xFFFFFFFFu) --count;  // room for the NUL must still be countable
  char* p = out.SetSize(count + 1, 0, true, true);
  p[out.GetCount() - 1] = 0;
  DWORD read = 0;
  if (!ReadFile(handle.Get(), p, count, &read, nullptr)) {
    const DWORD code = GetLastError();
    throw new ClFileException(code, ClMessage::Reference(IDS_READ_ERROR), name);
  }
  p = out.SetSize(read + 1, 0, true);
  p[read] = 0;
}

void GetFullPath(ClString& out, const char* name, bool directoryOnly) {
  DWORD room = MAX_PATH + 1;
  for (;;) {
    char* p = out.SetSize(room + 1, 0, true, true);
    p[out.GetCount() - 1] = 0;
    char* filePart = nullptr;
    const DWORD length = GetFullPathNameA(name, room, p, &filePart);
    if (length == 0) {
      const DWORD code = GetLastError();
      throw new ClFileException(code, ClMessage::Reference(IDS_CANNOT_GET_FULL_PATH),
                                ClString(name));
    }
    if (length >= room) {
      // It did not fit: `length` is the room it needs. Longer paths than
      // the classic limit are real on Linux, so ask again.
      room = length + 1;
      continue;
    }
    const DWORD kept = (directoryOnly && filePart) ? static_cast<DWORD>(filePart - p) : length;
    p = out.SetSize(kept + 1, 0, true);
    p[kept] = 0;
    return;
  }
}
