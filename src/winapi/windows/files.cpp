// File calls that Windows makes differently from Linux: replacing a file by
// another in one step.
#include "winapi/winapi.h"

namespace {

// What a rename would lose and a new file may carry. Not read-only: the
// caller could no longer remove a replacement that failed to move.
constexpr DWORD kKeptAttributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                  FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

// How long a target held by somebody else is waited for.
constexpr DWORD kHeldTargetWaitMs = 2000;
constexpr DWORD kHeldTargetRetryMs = 10;

}  // namespace

// ReplaceFileA would keep more (the security descriptor, the creation time,
// the short name), but it is no single step: it moves the target aside
// before it moves the replacement in (Wine does so visibly), and a reader
// between the two finds no file. MoveFileExA renames in one step; the new
// file has the security its folder gives new files.
bool ReplaceFileInOneStep(const char* target, const char* replacement) {
  const DWORD attributes = GetFileAttributesA(target);
  if (attributes == INVALID_FILE_ATTRIBUTES) return false;
  const DWORD kept = attributes & kKeptAttributes;
  if (!SetFileAttributesA(replacement, kept ? kept : FILE_ATTRIBUTE_NORMAL)) return false;
  // A rename over a file that any handle holds is refused (Wine, and NTFS
  // without POSIX semantics); a holder that is another run of ours lets go
  // at once, refused the replacement that this run holds.
  for (DWORD waited = 0;; waited += kHeldTargetRetryMs) {
    if (MoveFileExA(replacement, target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
      return true;
    const DWORD code = GetLastError();
    if ((code != ERROR_ACCESS_DENIED && code != ERROR_SHARING_VIOLATION) ||
        waited >= kHeldTargetWaitMs) {
      SetFileAttributesA(replacement, FILE_ATTRIBUTE_NORMAL);
      SetLastError(code);
      return false;
    }
    Sleep(kHeldTargetRetryMs);
  }
}

bool MoveFileIntoPlace(const char* target, const char* replacement) {
  return MoveFileExA(replacement, target, MOVEFILE_WRITE_THROUGH) != FALSE;
}
