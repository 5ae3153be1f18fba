// Writing the batch file.
#include "app/batch_file.h"

#include "app/read_only.h"
#include "base/path_name.h"
#include "errors/resource_strings.h"

void PrepareBatchFile(CounterOptions& options, ClFileReplacement& batch) {
  if (options.batFile.IsEmpty()) options.batFile = options.headerFile;
  options.batFile = WithExtension(options.batFile, "bat");
  batch.Claim(options.batFile);
  EnsureWritable(options.batFile, Target::kBatchFile, options);
  batch.Check();
}

void WriteBatchFile(const CounterOptions& options, ClFileReplacement& batch, DWORD number) {
  const ClString text(IDS_BAT_TEMPLATE, options.buildName.GetText(), static_cast<unsigned>(number));
  batch.Commit(text.GetText(), text.GetLength());
}
