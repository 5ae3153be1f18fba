// SafeWrite's primitives on Windows (the steps are in winapi/safe_write.cpp,
// the contract in winapi/safe_write.h). Where Windows differs from Linux:
// - Share modes hold against every program, and a handle that the lock
//   kept open would keep the run's own reader out (it shares nothing). The
//   target's own lock is therefore a named mutex of the session, named
//   after the file's volume and index, which all its names share.
// - Names are not resolved (links are rare and the rename would replace a
//   link by a file); every spelling of one path names one claim file, since
//   file names ignore letter case.
// - A new file takes its security from its folder, so the claim file needs
//   no mode of its own and a stale one's owner is not looked at. A stale
//   claim is reused: nobody else can hold it, since it is opened sharing
//   nothing but deletion.
// - A rename keeps the attributes that matter (hidden, system, archive, not
//   indexed); ReplaceFile would keep more but is no single step. Another
//   program's handle on the target is waited for up to 2 s.
// - Room for a longer text in place is taken by appending line feeds, so
//   that the old text stands followed by blank lines until the new one is
//   written.
#include "winapi/safe_write.h"

namespace {

// What a rename would lose and a new file may carry. Not read-only: a
// replacement that failed to move could no longer be removed.
constexpr DWORD kKeptAttributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                  FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
constexpr DWORD kHeldTargetWaitMs = 2000;
constexpr DWORD kHeldTargetRetryMs = 10;
constexpr DWORD kMaxStaleClaim = 1 << 20;

bool IsMissing(DWORD code) { return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND; }

bool IsDiskFull(DWORD code) { return code == ERROR_DISK_FULL || code == ERROR_HANDLE_DISK_FULL; }

// Failures of the claim file that leave the write to the target itself.
bool LeavesWriteInPlace(DWORD code) {
  return code == ERROR_ACCESS_DENIED || IsMissing(code) || code == ERROR_FILENAME_EXCED_RANGE ||
         code == ERROR_WRITE_PROTECT || IsDiskFull(code) || code == ERROR_NOT_SAME_DEVICE ||
         code == ERROR_UNABLE_TO_MOVE_REPLACEMENT;
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

bool WriteAt(HANDLE file, size_t offset, const char* data, size_t size) {
  if (!SeekTo(file, offset)) return false;
  for (size_t done = 0; done < size;) {
    DWORD written = 0;
    const DWORD chunk = static_cast<DWORD>(size - done > (1u << 30) ? (1u << 30) : size - done);
    if (!WriteFile(file, data + done, chunk, &written, nullptr)) return false;
    if (written == 0) {
      SetLastError(ERROR_WRITE_FAULT);
      return false;
    }
    done += written;
  }
  return true;
}

// Reads the first `data->size()` bytes, or fewer where the file is shorter.
bool ReadFromStart(HANDLE file, std::vector<char>* data) {
  DWORD read = 0;
  if (data->empty()) return true;
  if (!SeekTo(file, 0) ||
      !ReadFile(file, data->data(), static_cast<DWORD>(data->size()), &read, nullptr)) {
    return false;
  }
  data->resize(read);
  return true;
}

bool SetEnd(HANDLE file, size_t size) { return SeekTo(file, size) && SetEndOfFile(file); }

std::string FolderOf(const std::string& path) {
  const size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? "." : path.substr(0, slash + 1);
}

// Takes the session's mutex of the file or folder `path` (named after its
// volume and index, which all its names share) into `lock`. True with no
// lock where there is no such file.
bool LockByIdentity(const std::string& path, DWORD flags, ScopedLock* lock) {
  // Opened for its attributes alone, which no share mode refuses.
  ScopedFile file(CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, flags, nullptr));
  if (!file) return true;
  BY_HANDLE_FILE_INFORMATION info;
  const bool known =
      GetFileType(file.Get()) == FILE_TYPE_DISK && GetFileInformationByHandle(file.Get(), &info);
  file.Reset();
  if (!known) return true;
  char name[64];
  wsprintfA(name, "Local\\Tickwright.%08lX.%08lX%08lX", info.dwVolumeSerialNumber,
            info.nFileIndexHigh, info.nFileIndexLow);
  ScopedObject mutex(CreateMutexA(nullptr, FALSE, name));  // only closed: not ours yet
  if (!mutex) return false;
  const DWORD waited = WaitForSingleObject(mutex.Get(), 0);
  if (waited == WAIT_TIMEOUT) {
    SetLastError(ERROR_SHARING_VIOLATION);
    return false;
  }
  // Abandoned: a run that was killed holding it; it is ours now.
  if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) return false;
  lock->Reset(mutex.Release());
  return true;
}

}  // namespace

bool SafeWrite::ResolveTarget(const char* target) {
  char full[MAX_PATH + 1];
  const DWORD length = GetFullPathNameA(target, sizeof full, full, nullptr);
  if (length == 0) return false;
  file_ = length < sizeof full ? std::string(full, length) : std::string(target);
  return true;
}

bool SafeWrite::LockTarget() { return LockByIdentity(file_, FILE_ATTRIBUTE_NORMAL, &lock_); }

bool SafeWrite::LockFolder() {
  return LockByIdentity(FolderOf(file_), FILE_FLAG_BACKUP_SEMANTICS, &lock_);
}

bool SafeWrite::TakeClaimFile() {
  HANDLE claim = CreateFileA(claimName_.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_DELETE,
                             nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (claim != INVALID_HANDLE_VALUE) {
    claim_.Reset(claim);
    return true;
  }
  DWORD code = GetLastError();
  if (code == ERROR_ACCESS_DENIED && PendingDeletion(claimName_)) return false;
  if (code != ERROR_FILE_EXISTS && code != ERROR_ALREADY_EXISTS) return LeavesWriteInPlace(code);
  // Something is there. Only a stale claim of ours is taken over.
  claim = CreateFileA(claimName_.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_DELETE, nullptr,
                      OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (claim == INVALID_HANDLE_VALUE) {
    code = GetLastError();
    if (code == ERROR_SHARING_VIOLATION ||
        (code == ERROR_ACCESS_DENIED && PendingDeletion(claimName_)))
      return false;  // a live run's
    return code == ERROR_ACCESS_DENIED || IsMissing(code);
  }
  ScopedFile stale(claim);
  BY_HANDLE_FILE_INFORMATION info;
  const DWORD foreign =
      FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_READONLY;
  if (GetFileType(claim) != FILE_TYPE_DISK || !GetFileInformationByHandle(claim, &info) ||
      (info.dwFileAttributes & foreign) || info.nNumberOfLinks != 1 || info.nFileSizeHigh != 0 ||
      info.nFileSizeLow > kMaxStaleClaim) {
    return true;
  }
  std::vector<char> text(info.nFileSizeLow);
  if (!ReadFromStart(claim, &text)) return false;
  if (!text.empty() && !(ownText_ && ownText_(text.data(), text.size()))) return true;
  if (!SetEnd(claim, 0)) return false;
  claim_ = std::move(stale);
  return true;
}

bool SafeWrite::InspectTarget() {
  const DWORD attributes = GetFileAttributesA(file_.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    if (!IsMissing(GetLastError())) return false;
    const DWORD folder = GetFileAttributesA(FolderOf(file_).c_str());
    if (folder == INVALID_FILE_ATTRIBUTES || !(folder & FILE_ATTRIBUTE_DIRECTORY)) {
      SetLastError(ERROR_PATH_NOT_FOUND);
      return false;
    }
    exists_ = inPlace_ = false;
    attributes_ = 0;
    return true;
  }
  if (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return false;
  }
  // Opened as the write would open it: the user's rights decide, not those
  // of whoever may rename in the folder.
  HANDLE target = CreateFileA(file_.c_str(), GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  bool linked = false;
  if (target == INVALID_HANDLE_VALUE) {
    // Held by another program: the rename waits for it.
    if (GetLastError() != ERROR_SHARING_VIOLATION) return false;
  } else {
    ScopedFile opened(target);
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileType(target) != FILE_TYPE_DISK) {
      SetLastError(ERROR_BAD_FILE_TYPE);  // a device name such as NUL or CON
      return false;
    }
    linked = GetFileInformationByHandle(target, &info) && info.nNumberOfLinks > 1;
  }
  exists_ = true;
  attributes_ = attributes & kKeptAttributes;
  inPlace_ = linked;
  return true;
}

bool SafeWrite::LeadsTo(const SafeWrite& other) const {
  return CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, file_.c_str(), -1,
                        other.claimName_.c_str(), -1) == CSTR_EQUAL;
}

bool SafeWrite::WithinSizeLimit(size_t) const { return true; }

bool SafeWrite::FillClaimFile() {
  if (!WriteAll(claim_, text_.data(), text_.size()) || !Cut(claim_, text_.size()) ||
      !Flush(claim_)) {
    if (IsDiskFull(GetLastError())) return false;
    return Fail(Step::kWrite);
  }
  if (!SetFileAttributesA(claimName_.c_str(), attributes_ ? attributes_ : FILE_ATTRIBUTE_NORMAL))
    return Fail(Step::kWrite);
  return true;
}

bool SafeWrite::MoveClaimFile() {
  DWORD flags = MOVEFILE_WRITE_THROUGH;
  if (exists_) flags |= MOVEFILE_REPLACE_EXISTING;
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

bool SafeWrite::OpenTarget() {
  HANDLE file = CreateFileA(file_.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                            exists_ ? OPEN_EXISTING : CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return Fail(Step::kOpen);
  target_.Reset(file);
  created_ = !exists_;
  if (GetFileType(file) != FILE_TYPE_DISK) {
    SetLastError(ERROR_BAD_FILE_TYPE);
    return Fail(Step::kOpen);
  }
  LARGE_INTEGER length;
  if (!GetFileSizeEx(file, &length)) return Fail(Step::kWrite);
  oldText_.resize(static_cast<size_t>(length.QuadPart));
  if (!ReadFromStart(file, &oldText_) || !Reserve(size_)) return Fail(Step::kWrite);
  return true;
}

bool SafeWrite::Reserve(size_t size) {
  const size_t oldSize = oldText_.size();
  if (size <= oldSize) return true;
  const std::string lineFeeds(size - oldSize, '\n');
  if (WriteAt(target_.Get(), oldSize, lineFeeds.data(), lineFeeds.size())) return true;
  const DWORD code = GetLastError();
  SetEnd(target_.Get(), oldSize);
  SetLastError(code);
  return false;
}

bool SafeWrite::WriteAll(const ScopedFile& file, const char* data, size_t size) {
  return WriteAt(file.Get(), 0, data, size);
}

bool SafeWrite::Flush(const ScopedFile& file) { return FlushFileBuffers(file.Get()) != FALSE; }

bool SafeWrite::Cut(const ScopedFile& file, size_t size) { return SetEnd(file.Get(), size); }

// Removed while still held: another run cannot come in between.
void SafeWrite::RemoveClaimFile() {
  if (claim_ && !committed_) {
    const DWORD saved = GetLastError();
    DeleteFileA(claimName_.c_str());
    SetLastError(saved);
  }
}

void SafeWrite::RemoveCreatedTarget() {
  if (created_ && target_) {
    const DWORD saved = GetLastError();
    target_.Reset();  // Windows deletes no file that a handle holds
    DeleteFileA(file_.c_str());
    SetLastError(saved);
  }
  created_ = false;
}
