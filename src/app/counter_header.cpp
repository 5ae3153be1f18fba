// The counter update, step by step: names, claim, read, parse, question,
// count, report, read-only flow and checks of every target, then the writes.
#include "app/counter_header.h"

#include "app/header_format.h"
#include "app/read_only.h"
#include "app/side_files.h"
#include "base/file.h"
#include "base/path_name.h"
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

// The header's build number, read under the header's own lock; 0 with
// `numberRead` false for an absent or empty header.
DWORD ReadBuildNumber(ClFile& file, const ClString& name, bool& numberRead) {
  numberRead = false;
  try {
    file.Open(name);
  } catch (ClException* e) {
    if (!IsMissing(e)) throw;
    delete e;  // the header counts as absent
    return 0;
  }
  if (file.GetSize() == 0) return 0;
  ClString text;
  file.ReadString(text, kHeaderBytesRead);
  numberRead = true;
  return ParseBuildNumber(text, name);
}

}  // namespace

void UpdateBuildNumber(CounterOptions& options) {
  if (options.headerFile.IsEmpty()) LoadResString(options.headerFile, IDS_DEFAULT_HEADER);
  options.headerFile = WithExtension(options.headerFile, "h");
  if (options.buildName.IsEmpty()) LoadResString(options.buildName, IDS_DEFAULT_BUILD_NAME);

  // Claimed before it is read: from here to the end of the run no other run
  // reads or writes the header, through any of its names.
  ClFileReplacement header;
  header.Claim(options.headerFile, IsHeaderText);

  bool numberRead = false;
  ClFile reader;
  DWORD number = ReadBuildNumber(reader, options.headerFile, numberRead);

  if (options.interactive && !options.noIncrement && numberRead) {
    const ClString question(IDS_INCREASE_QUESTION, options.buildName.GetText(),
                            static_cast<unsigned>(number), options.headerFile.GetText());
    if (AppMessageBox(question, MB_YESNO | MB_ICONQUESTION, nullptr, nullptr) != IDYES) return;
  }

  if (!options.noIncrement) ++number;
  ConsolePrint(ClString(IDS_BUILD_N, static_cast<unsigned>(number)));
  // Let go before the check-out, which rewrites the file, and before the
  // rename, which Windows refuses over a held file; the claim stands.
  reader.Close();

  // Everything that can refuse a target is decided before the first write,
  // so that a batch file that cannot be written leaves the header as it was.
  EnsureWritable(options.headerFile, Target::kHeader, options);
  header.Check();
  ClFileReplacement batch, environment;
  if (options.makeBatFile) PrepareSideFile(SideFile::kBatch, options, batch);
  if (options.makeEnvFile) PrepareSideFile(SideFile::kEnvironment, options, environment);

  // Every text written and flushed (or its room taken) before the first
  // file changes: a side file on a full disk leaves the header as it was.
  const ClString text = FormatHeaderText(number, options.headerFile, options.buildName);
  header.Prepare(text.GetText(), text.GetLength());
  if (options.makeBatFile) PrepareSideFileText(SideFile::kBatch, options, batch, number);
  if (options.makeEnvFile)
    PrepareSideFileText(SideFile::kEnvironment, options, environment, number);
  header.Commit();
  if (options.makeBatFile) batch.Commit();
  if (options.makeEnvFile) environment.Commit();
}
