// The read-only test and the check-out flow of the header and the side files.
#include "app/read_only.h"

#include <stdlib.h>

#include "console/console_print.h"
#include "errors/exception.h"
#include "errors/resource_strings.h"
#include "scc/sourcesafe_session.h"

namespace {

SourceSafeSession* sharedSession;

void DestroySharedSession() {
  delete sharedSession;
  sharedSession = nullptr;
}

// Made on first need; its end is registered only once it stands, so that at
// exit it goes before COM, whose end the session registered while starting.
SourceSafeSession& SharedSession() {
  if (!sharedSession) {
    sharedSession = new SourceSafeSession();
    atexit(DestroySharedSession);
  }
  return *sharedSession;
}

// Each target's texts, in the order of Target.
struct TargetTexts {
  UINT checkingOut, notInCurrentProject, cannotCheckOut, readOnly;
};
const TargetTexts kTexts[] = {
    {IDS_HEADER_READ_ONLY_CHECKING_OUT, IDS_NOT_IN_CURRENT_PROJECT, IDS_CANNOT_CHECKOUT,
     IDS_HEADER_READ_ONLY},
    {IDS_BAT_READ_ONLY_CHECKING_OUT, IDS_BAT_NOT_IN_CURRENT_PROJECT, IDS_CANNOT_CHECKOUT_BAT,
     IDS_BAT_READ_ONLY},
    {IDS_ENV_READ_ONLY_CHECKING_OUT, IDS_ENV_NOT_IN_CURRENT_PROJECT, IDS_CANNOT_CHECKOUT_ENV,
     IDS_ENV_READ_ONLY},
};

void Print(UINT id) {
  ClString text;
  LoadResString(text, id);
  ConsolePrint(text);
}

}  // namespace

void EnsureWritable(const ClString& path, Target target, const CounterOptions& options) {
  const DWORD attributes = GetFileAttributesA(path.GetText());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD code = GetLastError();
    if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) return;
    throw new ClFileException(code, ClMessage(path), ClString());
  }
  if (!(attributes & FILE_ATTRIBUTE_READONLY)) return;

  const TargetTexts& texts = kTexts[static_cast<int>(target)];
  if (options.checkOut) {
    Print(texts.checkingOut);
    if (!SharedSession().CheckOut(path, texts.notInCurrentProject)) {
      throw new ClException(ClMessage::Reference(texts.cannotCheckOut));
    }
    Print(IDS_OK);
    return;
  }
  // Under /n a read-only header is left to the write, which then fails.
  if (target == Target::kHeader && options.noIncrement) return;
  throw new ClException(ClMessage::Reference(texts.readOnly));
}
