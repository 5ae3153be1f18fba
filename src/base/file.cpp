// ClFile and GetFullPath over the ANSI file calls of the Win32 API.
#include "base/file.h"

#include "errors/exception.h"
#include "errors/resource_strings.h"

ClFile::ClFile() : handle(INVALID_HANDLE_VALUE) {}

ClFile::ClFile(const ClString& fileName, DWORD mode) : handle(INVALID_HANDLE_VALUE) {
  Open(fileName, mode | throwIfMissing);
}

ClFile::~ClFile() { Close(); }

bool ClFile::Open(const ClString& fileName, DWORD mode) {
  name = fileName;

  DWORD access = 0;
  if (mode & modeRead) access |= GENERIC_READ;
  if (mode & modeWrite) access |= GENERIC_WRITE;
  DWORD share = 0;
  if (mode & shareRead) share |= FILE_SHARE_READ;
  if (mode & shareWrite) share |= FILE_SHARE_WRITE;
  if (mode & shareDelete) share |= FILE_SHARE_DELETE;
  DWORD creation = OPEN_EXISTING;
  switch (mode & creationMask) {
    case createAlways: creation = CREATE_ALWAYS; break;
    case openAlways: creation = OPEN_ALWAYS; break;
    default: break;
  }
  DWORD flags = (mode & attrTemporary) ? FILE_ATTRIBUTE_TEMPORARY : FILE_ATTRIBUTE_NORMAL;
  if (mode & hintSequential) flags |= FILE_FLAG_SEQUENTIAL_SCAN;
  if (mode & hintRandom) flags |= FILE_FLAG_RANDOM_ACCESS;
  if (mode & deleteOnClose) flags |= FILE_FLAG_DELETE_ON_CLOSE;

  handle = CreateFileA(name.GetText(), access, share, nullptr, creation, flags, nullptr);
  if (handle != INVALID_HANDLE_VALUE) return true;
  if (mode & noThrow) return false;
  const DWORD code = GetLastError();
  if (!(mode & throwIfMissing) && (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND))
    return false;
  throw new ClFileException(code, ClMessage::Reference(IDS_CANNOT_OPEN_FILE), name);
}

void ClFile::Close() {
  if (handle == INVALID_HANDLE_VALUE) return;
  CloseHandle(handle);
  handle = INVALID_HANDLE_VALUE;
  name.Empty();
}

void ClFile::ThrowError(UINT messageId) {
  const DWORD code = GetLastError();
  throw new ClFileException(code, ClMessage::Reference(messageId), name);
}

DWORD ClFile::Read(void* buffer, DWORD count) {
  DWORD read = 0;
  if (!ReadFile(handle, buffer, count, &read, nullptr)) ThrowError(IDS_READ_ERROR);
  return read;
}

void ClFile::Write(const void* buffer, DWORD count) {
  DWORD written = 0;
  if (!WriteFile(handle, buffer, count, &written, nullptr) || written != count)
    ThrowError(IDS_WRITE_ERROR);
}

void ClFile::Flush() {
  if (!FlushFileBuffers(handle)) ThrowError(IDS_WRITE_ERROR);
}

DWORD ClFile::GetSize() {
  DWORD high = 0;
  // Only a failure sets the error when the low part reads 0xFFFFFFFF.
  SetLastError(ERROR_SUCCESS);
  const DWORD low = GetFileSize(handle, &high);
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
  const DWORD read = Read(p, count);
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
