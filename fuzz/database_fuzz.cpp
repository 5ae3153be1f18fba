// Fuzz target: the SourceSafe server's database reader. The input, split at
// NUL bytes, is a database's items, check-outs and users files, which are
// loaded from a folder of the fuzzer's own. A database that loads writes its
// items back in a form that loads to the same text, and finds each visible
// item by its path; one that does not load says why.
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>

#include "database.h"
#include "fuzz_support.h"
#include "text.h"

namespace {

std::string folder;

void WriteFile(const char* name, const std::string& text) {
  std::ofstream(folder + "/" + name, std::ios::binary | std::ios::trunc) << text;
}

void RemoveFolder() { std::filesystem::remove_all(folder); }

std::string TakeField(std::string& input) {
  const size_t end = std::min(input.find('\0'), input.size());
  std::string field = input.substr(0, end);
  input.erase(0, std::min(end + 1, input.size()));
  return field;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::string pattern = (std::filesystem::temp_directory_path() / "twss-fuzz-XXXXXX").string();
  if (!mkdtemp(pattern.data())) abort();
  folder = pattern;
  atexit(RemoveFolder);
  Failure failure;
  if (!Database::Create(folder, &failure)) abort();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string input(reinterpret_cast<const char*>(data), size);
  WriteFile("items.txt", TakeField(input));
  WriteFile("checkouts.txt", TakeField(input));
  WriteFile("users.txt", input);

  Database database(folder);
  Failure failure;
  if (!database.Load(true, &failure)) {
    FUZZ_CHECK(!failure.text.empty());
    return 0;
  }
  const Catalog& items = database.Items();
  const std::string text = items.Serialize();
  Catalog again;
  FUZZ_CHECK(again.Parse(text, "items.txt", &failure) && again.Serialize() == text);

  for (uint32_t i = 0; i < items.Size(); ++i) {
    const Item& item = items.At(i);
    if (item.hidden) continue;
    const uint32_t found = items.Find(item.spec);
    FUZZ_CHECK(found != kNoItem && !items.At(found).hidden &&
               FoldCase(items.At(found).spec) == FoldCase(item.spec));
    if (item.type == ItemType::kProject) items.Children(i);
    if (item.type == ItemType::kFile) database.CheckedOutBy(i);
  }
  for (const auto& [user, project] : database.Users()) database.CurrentProject(user);
  return 0;
}
