// The read-only test and the check-out flow of the header and batch file.
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

  const bool header = target == Target::kHeader;
  if (options.checkOut) {
    Print(header ? IDS_HEADER_READ_ONLY_CHECKING_OUT : IDS_BAT_READ_ONLY_CHECKING_OUT);
    if (!SharedSession().CheckOut(
            path, header ? IDS_NOT_IN_CURRENT_PROJECT : IDS_BAT_NOT_IN_CURRENT_PROJECT)) {
      throw new ClException(
          ClMessage::Reference(header ? IDS_CANNOT_CHECKOUT : IDS_CANNOT_CHECKOUT_BAT));
    }
    Print(IDS_OK);
    return;
  }
  // Under /n a read-only header is left to the write, which then fails.
  if (header && options.noIncrement) return;
  throw new ClException(ClMessage::Reference(header ? IDS_HEADER_READ_ONLY : IDS_BAT_READ_ONLY));
}
