// ClFile and GetFullPath over the ANSI file calls of the Win32 API;
// ClFileReplacement over SafeWrite.
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

void ClFileReplacement::Throw() {
  const DWORD code = GetLastError();
  // The user knows the target, not our claim file, except in a failed rename.
  switch (write_.FailedStep()) {
    case SafeWrite::Step::kWrite:
      throw new ClFileException(code, ClMessage::Reference(IDS_WRITE_ERROR), target_);
    case SafeWrite::Step::kMove:
      throw new ClFileException(
          code,
          ClMessage(
              ClString(IDS_CANNOT_MOVE_FILE, write_.ClaimFileName().c_str(), target_.GetText())),
          target_);
    default:
      throw new ClFileException(code, ClMessage::Reference(IDS_CANNOT_OPEN_FILE), target_);
  }
}

void ClFileReplacement::Claim(const ClString& target, SafeWrite::OwnText ownText) {
  target_ = target;
  if (!write_.Claim(target.GetText(), ownText)) Throw();
}

void ClFileReplacement::Check() {
  if (!write_.Check()) Throw();
}

void ClFileReplacement::Prepare(const void* data, DWORD size) {
  if (!write_.Prepare(data, size)) Throw();
}

void ClFileReplacement::Commit() {
  if (!write_.Commit()) Throw();
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
