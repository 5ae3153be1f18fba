// The counter update, step by step: names, read, parse, question, count,
// report, read-only flow, write, batch file.
#include "app/counter_header.h"

#include "app/batch_file.h"
#include "app/header_format.h"
#include "app/read_only.h"
#include "base/file.h"
#include "base/path_name.h"
#include "base/replace_file.h"
#include "console/console_print.h"
#include "console/message_box.h"
#include "errors/exception.h"
#include "errors/resource_strings.h"

namespace {

bool IsMissing(ClException* e) {
  if (!e->IsKindOf(ClWin32Exception::kClassId)) return false;
  const DWORD code = static_cast<ClWin32Exception*>(e)->errorCode;
  return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND;
}

// The header as one run holds it: first the claim of its replacement
// (ClFileReplacement), which keeps every other run out until this one has
// replaced the header and ended, then the header itself, read under its own
// lock. Claiming first leaves no moment in which another run could read the
// header that this run is about to replace: a run that comes after the
// replacement reads the new text (or finds it still held and stops).
class HeaderReader {
 public:
  explicit HeaderReader(const ClString& name) {
    replacement_.Claim(name);
    try {
      file_.Open(name, ClFile::modeRead | ClFile::throwIfMissing);
    } catch (ClException* e) {
      if (!IsMissing(e)) throw;
      delete e;  // the header counts as absent
    }
  }
  HeaderReader(const HeaderReader&) = delete;
  HeaderReader& operator=(const HeaderReader&) = delete;

  ClFile& File() { return file_; }
  ClFileReplacement& Replacement() { return replacement_; }

 private:
  ClFileReplacement replacement_;
  ClFile file_;
};

}  // namespace

void UpdateBuildNumber(CounterOptions& options) {
  if (options.headerFile.IsEmpty()) LoadResString(options.headerFile, IDS_DEFAULT_HEADER);
  options.headerFile = WithExtension(options.headerFile, "h");
  if (options.buildName.IsEmpty()) LoadResString(options.buildName, IDS_DEFAULT_BUILD_NAME);

  DWORD number = 0;
  HeaderReader header(options.headerFile);
  bool numberRead = false;
  if (header.File().IsOpen() && header.File().GetSize() != 0) {
    ClString text;
    header.File().ReadString(text, kHeaderBytesRead);
    number = ParseBuildNumber(text, options.headerFile);
    numberRead = true;
  }

  if (options.interactive && !options.noIncrement && numberRead) {
    const ClString question(IDS_INCREASE_QUESTION, options.buildName.GetText(),
                            static_cast<unsigned>(number), options.headerFile.GetText());
    if (AppMessageBox(question, MB_YESNO | MB_ICONQUESTION, nullptr, nullptr) != IDYES) return;
  }

  if (!options.noIncrement) ++number;
  ConsolePrint(ClString(IDS_BUILD_N, static_cast<unsigned>(number)));

  EnsureWritable(options.headerFile, Target::kHeader, options);

  const ClString text = FormatHeaderText(number, options.headerFile, options.buildName);
  ClFile inPlace;
  // Let go before the replacement, which Windows refuses over a held file;
  // the claim keeps other runs out from here on.
  header.File().Close();
  if (!header.Replacement().Commit(text.GetText(), text.GetLength())) {
    // The folder takes no new file: rewrite in place.
    inPlace.Open(options.headerFile, ClFile::modeWrite | ClFile::shareRead |
                                         ClFile::createAlways | ClFile::throwIfMissing);
    inPlace.Write(text.GetText(), text.GetLength());
  }

  if (options.makeBatFile) WriteBatchFile(options, number);
}
