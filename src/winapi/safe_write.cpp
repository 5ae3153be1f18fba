// SafeWrite's steps, the same on every system (the contract is in
// safe_write.h); the primitives they stand on are in linux/ and windows/.
#include "winapi/safe_write.h"

#include <algorithm>

// So that a target that leads to another one's claim file is found before
// anything is written, and the layer's opens know the files claimed here.
std::vector<const SafeWrite*>& SafeWrite::Live() {
  static std::vector<const SafeWrite*> live;
  return live;
}

void SafeWrite::Release() {
  RemoveCreatedTarget();
  target_.Reset();
  RemoveClaimFile();
  claim_.Reset();
  stale_.Reset();
  lock_.Reset();
  folder_.Reset();
  auto& live = Live();
  live.erase(std::remove(live.begin(), live.end(), this), live.end());
  text_.clear();
  oldText_.clear();
  checked_ = exists_ = inPlace_ = prepared_ = created_ = committed_ = false;
}

bool SafeWrite::Claim(const char* target, OwnText ownText) {
  Release();
  failedStep_ = Step::kNone;
  ownText_ = ownText;
  if (!ResolveTarget(target)) return Fail(Step::kOpen);
  claimName_ = file_ + ".TMP";
  if (!LockTarget() || !TakeClaimFile() || (!claim_ && !lock_ && !LockFolder())) {
    Release();
    return Fail(Step::kOpen);
  }
  Live().push_back(this);
  return true;
}

bool SafeWrite::Check() {
  checked_ = prepared_ = false;
  if (!InspectTarget()) return Fail(Step::kOpen);
  if (!claim_) inPlace_ = true;
  checked_ = true;
  return true;
}

bool SafeWrite::LeadsToAnotherClaim() const {
  for (const SafeWrite* other : Live()) {
    if (other != this && other->claim_ && LeadsTo(*other)) return true;
  }
  return false;
}

bool SafeWrite::Prepare(const void* data, size_t size) {
  failedStep_ = Step::kNone;
  if (!checked_ && !Check()) return false;
  checked_ = false;
  if (LeadsToAnotherClaim()) {
    SetLastError(ERROR_ACCESS_DENIED);
    return Fail(Step::kOpen);
  }
  // A size limit would cut any write that reaches past it, in place too.
  if (!WithinSizeLimit(size)) return Fail(Step::kWrite);
  text_.assign(static_cast<const char*>(data), size);
  size_ = size;
  if (!inPlace_) {
    if (FillClaimFile()) {
      prepared_ = true;
      return true;
    }
    if (failedStep_ != Step::kNone) return false;
    // No room for a second copy: the claim file stays, empty, as the claim.
    Cut(claim_, 0);
    inPlace_ = true;
  }
  if (!OpenTarget()) return false;
  prepared_ = true;
  return true;
}

bool SafeWrite::Commit() {
  failedStep_ = Step::kNone;
  if (!prepared_) {
    SetLastError(ERROR_INVALID_FUNCTION);
    return Fail(Step::kWrite);
  }
  prepared_ = false;
  if (!inPlace_) {
    if (MoveClaimFile()) return true;
    if (failedStep_ != Step::kNone) return false;
    // A rename refused that the check could not foresee (another file
    // system behind a mount made meanwhile, say).
    Cut(claim_, 0);
    inPlace_ = true;
    if (!OpenTarget()) return false;
  }
  return WriteInPlace();
}

bool SafeWrite::PutOldTextBack() {
  if (!created_) {
    WriteAll(target_, oldText_.data(), oldText_.size());
    Cut(target_, oldText_.size());
    Flush(target_);
  }
  return Fail(Step::kWrite);
}

bool SafeWrite::WriteInPlace() {
  // A shorter text goes in padded with line feeds to the old length, so
  // that a run that ends before the cut leaves the new text followed by
  // blank lines, never the new text followed by the old one's tail.
  const size_t oldSize = oldText_.size();
  if (size_ < oldSize) text_.append(oldSize - size_, '\n');
  if (!WriteAll(target_, text_.data(), text_.size()) || !Flush(target_)) {
    const DWORD code = GetLastError();
    PutOldTextBack();
    SetLastError(code);
    return false;
  }
  if (size_ < oldSize && (!Cut(target_, size_) || !Flush(target_))) {
    const DWORD code = GetLastError();
    PutOldTextBack();
    SetLastError(code);
    return false;
  }
  created_ = false;  // it is the target now
  target_.Reset();
  return true;
}
