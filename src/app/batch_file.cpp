// Writing the batch file.
#include "app/batch_file.h"

#include "app/read_only.h"
#include "base/file.h"
#include "base/path_name.h"
#include "base/replace_file.h"
#include "errors/resource_strings.h"

void WriteBatchFile(CounterOptions& options, DWORD number) {
  if (options.batFile.IsEmpty()) options.batFile = options.headerFile;
  options.batFile = WithExtension(options.batFile, "bat");

  EnsureWritable(options.batFile, Target::kBatchFile, options);

  const ClString text(IDS_BAT_TEMPLATE, options.buildName.GetText(), static_cast<unsigned>(number));
  if (WriteByReplacing(options.batFile, text.GetText(), text.GetLength())) return;
  ClFile file(options.batFile, ClFile::modeWrite | ClFile::createAlways | ClFile::hintSequential);
  file.Write(text.GetText(), text.GetLength());
}
