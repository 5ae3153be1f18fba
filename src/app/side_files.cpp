// Writing the batch file and the environment file.
#include "app/side_files.h"

#include "app/header_format.h"
#include "base/path_name.h"
#include "errors/resource_strings.h"

namespace {

struct SideFileKind {
  ClString CounterOptions::*name;
  const char* extension;
  Target target;
  UINT textTemplate;
  SafeWrite::OwnText ownText;
};

// In the order of SideFile.
const SideFileKind kKinds[] = {
    {&CounterOptions::batFile, "bat", Target::kBatchFile, IDS_BAT_TEMPLATE,
     [](const char* data, size_t size) { return IsStartOfOwnText(IDS_BAT_TEMPLATE, data, size); }},
    {&CounterOptions::envFile, "env", Target::kEnvFile, IDS_ENV_TEMPLATE,
     [](const char* data, size_t size) { return IsStartOfOwnText(IDS_ENV_TEMPLATE, data, size); }},
};

}  // namespace

void PrepareSideFile(SideFile which, CounterOptions& options, ClFileReplacement& file) {
  const SideFileKind& kind = kKinds[static_cast<int>(which)];
  ClString& name = options.*kind.name;
  if (name.IsEmpty()) name = options.headerFile;
  name = WithExtension(name, kind.extension);
  file.Claim(name, kind.ownText);
  EnsureWritable(name, kind.target, options);
  file.Check();
}

void PrepareSideFileText(SideFile which, const CounterOptions& options, ClFileReplacement& file,
                         DWORD number) {
  const ClString text(kKinds[static_cast<int>(which)].textTemplate, options.buildName.GetText(),
                      static_cast<unsigned>(number));
  file.Prepare(text.GetText(), text.GetLength());
}
