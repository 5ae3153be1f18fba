// ClFileReplacement and WriteByReplacing: a claimed replacement file beside
// the target, flushed, then put in place with ReplaceFileInOneStep.
#include "base/replace_file.h"

#include "errors/exception.h"
#include "errors/resource_strings.h"

namespace {

// A move that could work in place: across file systems, typically through a
// link to another folder.
bool CannotMoveAcross(DWORD code) {
  return code == ERROR_UNABLE_TO_MOVE_REPLACEMENT || code == ERROR_NOT_SAME_DEVICE;
}

}  // namespace

ClFileReplacement::~ClFileReplacement() {
  // Removed while still held, so that no other run's claim of the same name
  // can come in between and lose its file.
  if (IsClaimed() && !committed_) DeleteFileA(name_.GetText());
}

void ClFileReplacement::Claim(const ClString& target) {
  target_ = target;
  name_ = target;
  name_.Append(".TMP");
  constexpr DWORD kMode = ClFile::modeWrite | ClFile::shareDelete | ClFile::createAlways;
  if (file_.Open(name_, kMode | ClFile::noThrow)) return;
  const DWORD code = GetLastError();
  // Left to the in-place write: a folder that takes no new file, a name with
  // no room for the suffix, a missing folder (which that write reports). Any
  // other failure (an I/O error, a full disk, another run's claim) would
  // strike the in-place write too, after it had truncated the target.
  if (code == ERROR_ACCESS_DENIED || code == ERROR_FILENAME_EXCED_RANGE ||
      code == ERROR_PATH_NOT_FOUND || code == ERROR_FILE_NOT_FOUND) {
    return;
  }
  throw new ClFileException(code, ClMessage::Reference(IDS_CANNOT_OPEN_FILE), target);
}

bool ClFileReplacement::Commit(const void* data, DWORD size) {
  // Refused as opening it for writing would refuse it, before anything is
  // written: a folder, or a read-only file (which a rename would not respect).
  const DWORD attributes = GetFileAttributesA(target_.GetText());
  const bool exists = attributes != INVALID_FILE_ATTRIBUTES;
  if (!exists) {
    // Only an absent target is created; any other failure is reported as
    // it is, not as the clash of a create with the file that is there.
    const DWORD code = GetLastError();
    if (code != ERROR_FILE_NOT_FOUND && code != ERROR_PATH_NOT_FOUND)
      throw new ClFileException(code, ClMessage::Reference(IDS_CANNOT_OPEN_FILE), target_);
  }
  if (exists && (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY))) {
    throw new ClFileException(ERROR_ACCESS_DENIED, ClMessage::Reference(IDS_CANNOT_OPEN_FILE),
                              target_);
  }
  if (!IsClaimed()) return false;
  try {
    file_.Write(data, size);
    file_.Flush();
    const bool moved =
        exists ? ReplaceFileInOneStep(target_.GetText(), name_.GetText())
               : MoveFileIntoPlace(target_.GetText(), name_.GetText());
    if (!moved) {
      const DWORD code = GetLastError();
      if (CannotMoveAcross(code)) {
        DeleteFileA(name_.GetText());
        file_.Close();
        return false;
      }
      throw new ClFileException(
          code, ClMessage(ClString(IDS_CANNOT_MOVE_FILE, name_.GetText(), target_.GetText())),
          target_);
    }
  } catch (ClException* e) {
    // The user knows the target, not our replacement file.
    if (auto* fileError = dynamic_cast<ClFileException*>(e)) fileError->fileName = target_;
    throw;
  }
  committed_ = true;
  return true;
}

bool WriteByReplacing(const ClString& target, const void* data, DWORD size) {
  ClFileReplacement replacement;
  replacement.Claim(target);
  return replacement.Commit(data, size);
}
