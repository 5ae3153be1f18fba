// WriteByReplacing: temporary file, flush, ReplaceFileA or MoveFileExA.
#include "base/replace_file.h"

#include "base/file.h"
#include "errors/exception.h"
#include "errors/resource_strings.h"

namespace {

// The folder of `target` with its trailing separator, or the current one.
ClString FolderOf(const ClString& target) {
  const char* separator = FindLastByte(target.GetText(), target.GetLength(), kPathSeparator);
  if (!separator) return ClString(".");
  ClString folder;
  target.Mid(folder, 0, static_cast<DWORD>(separator - target.GetText()) + 1);
  return folder;
}


// A move that could work in place: across file systems, typically through a
// link to another folder.
bool CannotMoveAcross(DWORD code) {
  return code == ERROR_UNABLE_TO_MOVE_REPLACEMENT || code == ERROR_NOT_SAME_DEVICE;
}

}  // namespace

bool WriteByReplacing(const ClString& target, const void* data, DWORD size) {
  // Refused as opening it for writing would refuse it, before anything is
  // made: a folder, or a read-only file (which a rename would not respect).
  const DWORD attributes = GetFileAttributesA(target.GetText());
  const bool exists = attributes != INVALID_FILE_ATTRIBUTES;
  if (exists && (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY))) {
    throw new ClFileException(ERROR_ACCESS_DENIED, ClMessage::Reference(IDS_CANNOT_OPEN_FILE),
                              target);
  }
  char tempName[MAX_PATH + 1] = {};
  if (!GetTempFileNameA(FolderOf(target).GetText(), "tw", 0, tempName)) return false;
  const ClString temp(tempName);
  try {
    {
      ClFile file(temp, ClFile::modeWrite | ClFile::createAlways);
      file.Write(data, size);
      file.Flush();
    }
    const BOOL moved =
        exists ? ReplaceFileA(target.GetText(), temp.GetText(), nullptr, 0, nullptr, nullptr)
            : MoveFileExA(temp.GetText(), target.GetText(), MOVEFILE_WRITE_THROUGH);
    if (!moved) {
      const DWORD code = GetLastError();
      if (CannotMoveAcross(code)) {
        DeleteFileA(temp.GetText());
        return false;
      }
      throw new ClFileException(
          code, ClMessage(ClString(IDS_CANNOT_MOVE_FILE, temp.GetText(), target.GetText())),
          target);
    }
  } catch (ClException* e) {
    DeleteFileA(temp.GetText());
    // The user knows the target, not our temporary file.
    if (auto* fileError = dynamic_cast<ClFileException*>(e)) fileError->fileName = target;
    throw;
  }
  return true;
}
