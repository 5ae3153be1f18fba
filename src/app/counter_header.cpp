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

// Opens the header for reading and keeps everybody else out until the run
// has replaced it. An absent header is created empty on the way, so that a
// second run cannot count from the same absent header meanwhile; it is
// removed again if the run ends before writing. Deleting is shared, so that
// the header can be replaced while it is held.
class HeaderReader {
 public:
  explicit HeaderReader(const ClString& name) : name_(name) {
    constexpr DWORD kMode = ClFile::modeRead | ClFile::shareDelete | ClFile::throwIfMissing;
    try {
      try {
        file_.Open(name, kMode | ClFile::openAlways);
        created_ = GetLastError() != ERROR_ALREADY_EXISTS;
      } catch (ClException* e) {
        // A folder that takes no new file may still hold the header.
        if (!e->IsKindOf(ClWin32Exception::kClassId) ||
            static_cast<ClWin32Exception*>(e)->errorCode != ERROR_ACCESS_DENIED) {
          throw;
        }
        delete e;
        file_.Open(name, kMode);
      }
    } catch (ClException* e) {
      if (!IsMissing(e)) throw;
      delete e;  // the header counts as absent
    }
  }
  ~HeaderReader() {
    if (created_ && !written_) DeleteFileA(name_.GetText());
    file_.Close();
  }
  HeaderReader(const HeaderReader&) = delete;
  HeaderReader& operator=(const HeaderReader&) = delete;

  ClFile& File() { return file_; }
  void Written() { written_ = true; }

 private:
  ClString name_;
  ClFile file_;
  bool created_ = false;
  bool written_ = false;
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
  if (WriteByReplacing(options.headerFile, text.GetText(), text.GetLength())) {
    header.Written();
  } else {
    // The folder takes no new file: rewrite in place, which needs the
    // header to ourselves.
    header.File().Close();
    inPlace.Open(options.headerFile, ClFile::modeWrite | ClFile::shareRead |
                                         ClFile::createAlways | ClFile::throwIfMissing);
    inPlace.Write(text.GetText(), text.GetLength());
    header.Written();
  }

  if (options.makeBatFile) WriteBatchFile(options, number);
}
