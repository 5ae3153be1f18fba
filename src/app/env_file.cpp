// Writing the environment file.
#include "app/env_file.h"

#include "app/read_only.h"
#include "base/path_name.h"
#include "errors/resource_strings.h"

void PrepareEnvFile(CounterOptions& options, ClFileReplacement& env) {
  if (options.envFile.IsEmpty()) options.envFile = options.headerFile;
  options.envFile = WithExtension(options.envFile, "env");
  env.Claim(options.envFile);
  EnsureWritable(options.envFile, Target::kEnvFile, options);
  env.Check();
}

void WriteEnvFile(const CounterOptions& options, ClFileReplacement& env, DWORD number) {
  const ClString text(IDS_ENV_TEMPLATE, options.buildName.GetText(), static_cast<unsigned>(number));
  env.Commit(text.GetText(), text.GetLength());
}
