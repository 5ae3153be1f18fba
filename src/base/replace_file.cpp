// ClFileReplacement: SafeWrite with the class library's exceptions.
#include "base/replace_file.h"

#include "errors/exception.h"
#include "errors/resource_strings.h"

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
