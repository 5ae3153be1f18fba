// SafeWrite on Windows (the contract is in winapi/safe_write.h). Where
// Windows differs from Linux:
// - Share modes hold against every program, so the target needs no lock of
//   its own: the caller reads it under its share mode, and the claim file
//   keeps other runs out from then on.
// - Names are not resolved (links are rare and the rename would replace a
//   link by a file); every spelling of one path names one claim file, since
//   file names ignore letter case.
// - A stale claim is recognised by being a plain file (no folder, no reparse
//   point, not read-only) with one link that nobody holds; its owner is not
//   looked at, since a new file takes its security from its folder anyway.
// - A rename keeps the attributes that matter (hidden, system, archive, not
//   indexed); ReplaceFile would keep more but is no single step. Windows
//   renames over no file that a handle holds: another program's handle is
//   waited for up to 2 s.
// - Room for an in-place text is taken by setting the end of the file
//   first, so the old text stands followed by zeros until the new one is
//   written.
#include "winapi/safe_write.h"

#include <vector>

namespace {

// What a rename would lose and a new file may carry. Not read-only: a
// replacement that failed to move could no longer be removed.
constexpr DWORD kKeptAttributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                  FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
constexpr DWORD kHeldTargetWaitMs = 2000;
constexpr DWORD kHeldTargetRetryMs = 10;

void CloseKeepingError(HANDLE file) {
  const DWORD saved = GetLastError();
  CloseHandle(file);
  SetLastError(saved);
}

bool IsMissing(DWORD code) { return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND; }

// Failures of the claim file that leave the write to the target itself.
bool LeavesWriteInPlace(DWORD code) {
  return code == ERROR_ACCESS_DENIED || IsMissing(code) || code == ERROR_FILENAME_EXCED_RANGE ||
         code == ERROR_WRITE_PROTECT || code == ERROR_DISK_FULL || code == ERROR_HANDLE_DISK_FULL ||
         code == ERROR_NOT_SAME_DEVICE || code == ERROR_UNABLE_TO_MOVE_REPLACEMENT;
}

// Whether `name` is a claim file that another run is deleting as it lets go.
// Windows refuses a name pending deletion with access denied, as it refuses
// a new name in a folder that takes none; asking for the name's attributes
// tells them apart (access denied again, against not found). Sets
// ERROR_SHARING_VIOLATION when so.
bool PendingDeletion(const std::string& name) {
  if (GetFileAttributesA(name.c_str()) != INVALID_FILE_ATTRIBUTES ||
      GetLastError() != ERROR_ACCESS_DENIED) {
    return false;
  }
  SetLastError(ERROR_SHARING_VIOLATION);
  return true;
}

bool SeekTo(HANDLE file, size_t offset) {
  LARGE_INTEGER to;
  to.QuadPart = static_cast<LONGLONG>(offset);
  return SetFilePointerEx(file, to, nullptr, FILE_BEGIN) != FALSE;
}

bool WriteAllAt(HANDLE file, const void* data, size_t size) {
  if (!SeekTo(file, 0)) return false;
  const auto* bytes = static_cast<const char*>(data);
  for (size_t done = 0; done < size;) {
    DWORD written = 0;
    const DWORD chunk = static_cast<DWORD>(size - done > (1u << 30) ? (1u << 30) : size - done);
    if (!WriteFile(file, bytes + done, chunk, &written, nullptr)) return false;
    if (written == 0) {
      SetLastError(ERROR_WRITE_FAULT);
      return false;
    }
    done += written;
  }
  return true;
}

bool SetEnd(HANDLE file, size_t size) { return SeekTo(file, size) && SetEndOfFile(file); }

std::string FolderOf(const std::string& path) {
  const size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? "." : path.substr(0, slash + 1);
}

}  // namespace

void SafeWrite::Release() {
  if (claimFile_ != kNoFile) {
    // Removed while still held: another run cannot come in between.
    if (!committed_) DeleteFileA(claimName_.c_str());
    CloseKeepingError(claimFile_);
    claimFile_ = kNoFile;
  }
  checked_ = exists_ = inPlace_ = committed_ = false;
}

bool SafeWrite::Claim(const char* target) {
  Release();
  failedStep_ = Step::kNone;
  char full[MAX_PATH + 1];
  const DWORD length = GetFullPathNameA(target, sizeof full, full, nullptr);
  if (length == 0) return Fail(Step::kOpen);
  file_ = length < sizeof full ? std::string(full, length) : std::string(target);
  claimName_ = file_ + ".TMP";

  HANDLE claim = CreateFileA(claimName_.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_DELETE,
                             nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (claim != INVALID_HANDLE_VALUE) {
    claimFile_ = claim;
    return true;
  }
  DWORD code = GetLastError();
  if (code == ERROR_ACCESS_DENIED && PendingDeletion(claimName_)) return Fail(Step::kOpen);
  if (code != ERROR_FILE_EXISTS && code != ERROR_ALREADY_EXISTS) {
    if (LeavesWriteInPlace(code)) return true;
    return Fail(Step::kOpen);
  }
  // Something is there. Only our own stale claim is taken over.
  claim = CreateFileA(claimName_.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_DELETE, nullptr,
                      OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (claim == INVALID_HANDLE_VALUE) {
    code = GetLastError();
    if (code == ERROR_SHARING_VIOLATION ||
        (code == ERROR_ACCESS_DENIED && PendingDeletion(claimName_)))
      return Fail(Step::kOpen);  // a live run's
    if (code == ERROR_ACCESS_DENIED || IsMissing(code)) return true;
    return Fail(Step::kOpen);
  }
  BY_HANDLE_FILE_INFORMATION info;
  const DWORD foreign =
      FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_READONLY;
  if (GetFileType(claim) != FILE_TYPE_DISK || !GetFileInformationByHandle(claim, &info) ||
      (info.dwFileAttributes & foreign) || info.nNumberOfLinks != 1) {
    CloseHandle(claim);
    return true;
  }
  if (!SetEnd(claim, 0)) {
    CloseKeepingError(claim);
    return Fail(Step::kOpen);
  }
  claimFile_ = claim;
  return true;
}

bool SafeWrite::Check() {
  checked_ = false;
  const DWORD attributes = GetFileAttributesA(file_.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    if (!IsMissing(GetLastError())) return Fail(Step::kOpen);
    const DWORD folder = GetFileAttributesA(FolderOf(file_).c_str());
    if (folder == INVALID_FILE_ATTRIBUTES || !(folder & FILE_ATTRIBUTE_DIRECTORY)) {
      SetLastError(ERROR_PATH_NOT_FOUND);
      return Fail(Step::kOpen);
    }
    exists_ = false;
    inPlace_ = claimFile_ == kNoFile;
    checked_ = true;
    return true;
  }
  if (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return Fail(Step::kOpen);
  }
  // Opened as the write would open it: the user's rights decide, not those
  // of whoever may rename in the folder.
  HANDLE target = CreateFileA(file_.c_str(), GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  bool linked = false;
  if (target == INVALID_HANDLE_VALUE) {
    // Held by another program: the rename waits for it.
    if (GetLastError() != ERROR_SHARING_VIOLATION) return Fail(Step::kOpen);
  } else {
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileType(target) != FILE_TYPE_DISK) {
      CloseHandle(target);
      SetLastError(ERROR_BAD_FILE_TYPE);  // a device name such as NUL or CON
      return Fail(Step::kOpen);
    }
    linked = GetFileInformationByHandle(target, &info) && info.nNumberOfLinks > 1;
    CloseHandle(target);
  }
  exists_ = true;
  inPlace_ = claimFile_ == kNoFile || linked;
  checked_ = true;
  return true;
}

bool SafeWrite::Commit(const void* data, size_t size) {
  failedStep_ = Step::kNone;
  if (!checked_ && !Check()) return false;
  checked_ = false;
  if (!inPlace_) {
    if (Replace(data, size)) return true;
    if (failedStep_ != Step::kNone) return false;
    SetEnd(claimFile_, 0);  // the claim stays, empty
  }
  return WriteInPlace(data, size);
}

bool SafeWrite::Replace(const void* data, size_t size) {
  if (!WriteAllAt(claimFile_, data, size) || !SetEnd(claimFile_, size) ||
      !FlushFileBuffers(claimFile_)) {
    const DWORD code = GetLastError();
    if (code == ERROR_DISK_FULL || code == ERROR_HANDLE_DISK_FULL) return false;
    return Fail(Step::kWrite);
  }
  DWORD flags = MOVEFILE_WRITE_THROUGH;
  if (exists_) {
    const DWORD attributes = GetFileAttributesA(file_.c_str());
    const DWORD kept = attributes == INVALID_FILE_ATTRIBUTES ? 0 : attributes & kKeptAttributes;
    if (!SetFileAttributesA(claimName_.c_str(), kept ? kept : FILE_ATTRIBUTE_NORMAL))
      return Fail(Step::kWrite);
    flags |= MOVEFILE_REPLACE_EXISTING;
  }
  // A holder that is another run of ours lets go at once, refused the claim
  // that this run holds.
  for (DWORD waited = 0;; waited += kHeldTargetRetryMs) {
    if (MoveFileExA(claimName_.c_str(), file_.c_str(), flags)) {
      committed_ = true;
      return true;
    }
    const DWORD code = GetLastError();
    if (!exists_ || (code != ERROR_ACCESS_DENIED && code != ERROR_SHARING_VIOLATION) ||
        waited >= kHeldTargetWaitMs) {
      SetFileAttributesA(claimName_.c_str(), FILE_ATTRIBUTE_NORMAL);
      SetLastError(code);
      if (code == ERROR_NOT_SAME_DEVICE) return false;
      return Fail(Step::kMove);
    }
    Sleep(kHeldTargetRetryMs);
  }
}

bool SafeWrite::WriteInPlace(const void* data, size_t size) {
  HANDLE file = CreateFileA(file_.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                            exists_ ? OPEN_EXISTING : CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return Fail(Step::kOpen);
  const bool created = !exists_;
  auto fail = [&](Step step) {
    CloseKeepingError(file);
    if (created) {
      const DWORD saved = GetLastError();
      DeleteFileA(file_.c_str());
      SetLastError(saved);
    }
    return Fail(step);
  };
  if (GetFileType(file) != FILE_TYPE_DISK) {
    SetLastError(ERROR_BAD_FILE_TYPE);
    return fail(Step::kOpen);
  }
  LARGE_INTEGER length;
  if (!GetFileSizeEx(file, &length)) return fail(Step::kWrite);
  const auto oldSize = static_cast<size_t>(length.QuadPart);
  std::vector<char> oldBytes(oldSize < size ? oldSize : size);
  DWORD read = 0;
  if (!oldBytes.empty() &&
      (!SeekTo(file, 0) ||
       !ReadFile(file, oldBytes.data(), static_cast<DWORD>(oldBytes.size()), &read, nullptr))) {
    return fail(Step::kWrite);
  }
  oldBytes.resize(read);
  // Room first: a full disk fails here, before the old text changes.
  if (size > oldSize && !SetEnd(file, size)) {
    const DWORD code = GetLastError();
    SetEnd(file, oldSize);
    SetLastError(code);
    return fail(Step::kWrite);
  }
  if (!WriteAllAt(file, data, size) || (size < oldSize && !SetEnd(file, size))) {
    const DWORD code = GetLastError();
    if (!created) {
      WriteAllAt(file, oldBytes.data(), oldBytes.size());
      SetEnd(file, oldSize);
    }
    SetLastError(code);
    return fail(Step::kWrite);
  }
  if (!FlushFileBuffers(file)) {
    CloseKeepingError(file);
    return Fail(Step::kWrite);
  }
  CloseHandle(file);
  return true;
}
