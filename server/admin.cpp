// tw-ssadmin: keeps a database of the SourceSafe server (creates it, adds
// projects and files, checks files in and out, deletes, sets current
// projects, lists) and registers the server library.
#include <stdio.h>
#include <string.h>

#include <string>
#include <unordered_set>
#include <vector>

#include "checkout.h"
#include "database.h"
#include "identity.h"
#include "platform.h"
#include "text.h"

namespace {

enum ExitCode { kDone = 0, kBadCommandLine = 1, kFailed = 2 };

// A failure of the command at hand, shown as "tw-ssadmin COMMAND: TEXT".
struct Command {
  std::string name;
  std::vector<std::string> arguments;
  std::string folder;  // the database folder from -d

  int Fail(const std::string& text) const {
    fprintf(stderr, "%s\n", FormatText(ADM_ERROR, {name, text}).c_str());
    return kFailed;
  }
  int Fail(const Failure& failure) const { return Fail(failure.text); }
  int Usage() const {
    fprintf(stderr, "%s\n", FormatText(ADM_BAD_ARGUMENTS, {name}).c_str());
    return kBadCommandLine;
  }
};

void Say(const std::string& text) { printf("%s\n", text.c_str()); }

// Removes the option `option` from the arguments; true when it was there.
bool TakeFlag(std::vector<std::string>* arguments, const char* option) {
  for (auto it = arguments->begin(); it != arguments->end(); ++it) {
    if (*it == option) {
      arguments->erase(it);
      return true;
    }
  }
  return false;
}

// Removes "option VALUE"; false when the option lacks its value.
bool TakeValue(std::vector<std::string>* arguments, const char* option, std::string* value) {
  for (auto it = arguments->begin(); it != arguments->end(); ++it) {
    if (*it != option) continue;
    if (it + 1 == arguments->end()) return false;
    *value = *(it + 1);
    arguments->erase(it, it + 2);
    return true;
  }
  return true;
}

bool DatabaseFolder(const Command& command, std::string* folder, Failure* failure) {
  if (!command.folder.empty()) {
    *folder = FullPath(command.folder);
    return true;
  }
  std::string ssdir = GetEnvironment("SSDIR");
  if (ssdir.empty()) {
    failure->text = ServerText(ADM_NO_DATABASE_FOLDER);
    return false;
  }
  *folder = FullPath(ssdir);
  return true;
}

// The database of the command, loaded: under the exclusive lock for a
// change (held until the database goes), else under a passing shared one.
std::unique_ptr<Database> OpenDatabase(const Command& command, bool forChange, Failure* failure) {
  std::string folder;
  if (!DatabaseFolder(command, &folder, failure)) return nullptr;
  auto database = std::make_unique<Database>(folder);
  if (forChange && !database->Lock(true, failure)) return nullptr;
  if (!database->Load(!forChange, failure)) return nullptr;
  return database;
}

// The item at `spec`, which must exist; kNoItem after reporting.
uint32_t FindItem(const Command& command, const Database& database, const std::string& spec);

// The database, opened as OpenDatabase opens it, and in `item` the item that
// the command's one argument names; null after reporting.
std::unique_ptr<Database> OpenWithItem(const Command& command, bool forChange, uint32_t* item) {
  Failure failure;
  auto database = OpenDatabase(command, forChange, &failure);
  if (!database) {
    command.Fail(failure);
    return nullptr;
  }
  *item = FindItem(command, *database, command.arguments[0]);
  if (*item == kNoItem) return nullptr;
  return database;
}

uint32_t FindItem(const Command& command, const Database& database, const std::string& spec) {
  uint32_t item = database.Items().Find(spec);
  if (item == kNoItem) {
    command.Fail(spec.substr(0, 2) == "$/" ? FormatText(SS_NOT_FOUND, {spec, database.Folder()})
                                           : FormatText(SS_BAD_SPEC, {spec}));
  }
  return item;
}

int Create(const Command& command) {
  if (command.arguments.size() != 1) return command.Usage();
  std::string folder = FullPath(command.arguments[0]);
  Failure failure;
  if (!Database::Create(folder, &failure)) return command.Fail(failure);
  Say(FormatText(ADM_CREATED, {folder}));
  return kDone;
}

int AddProject(const Command& command) {
  if (command.arguments.empty() || command.arguments.size() > 2) return command.Usage();
  const std::string& spec = command.arguments[0];
  std::string workingFolder =
      command.arguments.size() == 2 ? FullPath(command.arguments[1]) : std::string();
  Failure failure;
  auto database = OpenDatabase(command, true, &failure);
  if (!database) return command.Fail(failure);
  Catalog& items = database->Items();
  std::string_view parentSpec = ParentSpec(spec);
  if (parentSpec.empty() || spec.substr(0, 2) != "$/") {
    return command.Fail(FormatText(SS_BAD_SPEC, {spec}));
  }
  std::string_view name = SpecName(spec);
  if (!IsValidItemName(name)) return command.Fail(FormatText(ADM_BAD_NAME, {name}));
  uint32_t parent = items.Find(parentSpec);
  if (parent == kNoItem || items.At(parent).type != ItemType::kProject) {
    return command.Fail(FormatText(ADM_NO_PROJECT, {parentSpec}));
  }
  if (items.Find(spec) != kNoItem) return command.Fail(FormatText(ADM_ITEM_EXISTS, {spec}));
  // Without a folder of its own a project works in its parent's, as in
  // SourceSafe: the parent's working folder and the project's name.
  if (workingFolder.empty() && !items.At(parent).local.empty()) {
    workingFolder = JoinPath(items.At(parent).local, name);
  }
  if (!IsStorableLocalPath(workingFolder))
    return command.Fail(FormatText(ADM_BAD_LOCAL_PATH, {workingFolder}));
  uint32_t added = items.Add(parent, ItemType::kProject, name, workingFolder);
  if (!database->SaveItems(&failure)) return command.Fail(failure);
  std::string user;
  SelectUser("", &user, nullptr);
  database->Journal(user, "add-project", items.At(added).spec);
  Say(FormatText(ADM_ADDED, {items.At(added).spec, items.At(parent).spec}));
  return kDone;
}

int AddFiles(Command command) {
  bool missingOk = TakeFlag(&command.arguments, "--missing-ok");
  if (command.arguments.empty()) return command.Usage();
  std::string spec = command.arguments[0];
  std::vector<std::string> names(command.arguments.begin() + 1, command.arguments.end());
  if (names.empty()) {
    // One name a line; a very long line is simply read in pieces.
    std::string line;
    char buffer[4096];
    while (fgets(buffer, sizeof(buffer), stdin)) {
      line += buffer;
      if (line.empty() || line.back() != '\n') continue;
      line.pop_back();
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (!line.empty()) names.push_back(std::move(line));
      line.clear();
    }
    if (!line.empty()) names.push_back(std::move(line));
  }

  Failure failure;
  auto database = OpenDatabase(command, true, &failure);
  if (!database) return command.Fail(failure);
  Catalog& items = database->Items();
  uint32_t project = FindItem(command, *database, spec);
  if (project == kNoItem) return kFailed;
  if (items.At(project).type != ItemType::kProject) {
    return command.Fail(FormatText(ADM_NOT_A_PROJECT, {spec}));
  }
  std::string workingFolder(items.At(project).local);
  std::vector<uint32_t> children = items.Children(project);
  std::unordered_set<std::string> taken;
  taken.reserve(children.size() + names.size());
  for (uint32_t child : children) taken.insert(FoldCase(SpecName(items.At(child).spec)));

  // Everything is checked before anything changes.
  struct Pending {
    std::string local;
    size_t nameStart;  // the name is the last component of the local path
    bool exists;
    std::string_view Name() const { return std::string_view(local).substr(nameStart); }
  };
  std::vector<Pending> pending;
  pending.reserve(names.size());
  for (const std::string& name : names) {
    Pending file;
    file.local = FullPath(
        IsAbsolutePath(name) || workingFolder.empty() ? name : JoinPath(workingFolder, name));
    file.nameStart = file.local.size() - FileNameOf(file.local).size();
    if (!IsValidItemName(file.Name())) return command.Fail(FormatText(ADM_BAD_NAME, {name}));
    if (!IsStorableLocalPath(file.local))
      return command.Fail(FormatText(ADM_BAD_LOCAL_PATH, {file.local}));
    if (!taken.insert(FoldCase(file.Name())).second) {
      std::string itemSpec(items.At(project).spec);
      if (itemSpec.size() > 2) itemSpec += '/';
      itemSpec += file.Name();
      return command.Fail(FormatText(ADM_ITEM_EXISTS, {itemSpec}));
    }
    file.exists = IsFile(file.local);
    if (!file.exists && !missingOk) {
      return command.Fail(FormatText(ADM_WORKING_COPY_MISSING, {file.local}));
    }
    pending.push_back(std::move(file));
  }
  std::string error;
  for (const Pending& file : pending) {
    items.Add(project, ItemType::kFile, file.Name(), file.local);
    if (file.exists && !SetWritable(file.local, false, &error)) {
      return command.Fail(FormatText(SS_MAKE_WRITABLE_FAILED, {file.local, error, spec}));
    }
  }
  if (!database->SaveItems(&failure)) return command.Fail(failure);
  std::string user;
  SelectUser("", &user, nullptr);
  database->Journal(user, "add " + std::to_string(pending.size()) + " files",
                    items.At(project).spec);
  if (pending.size() == 1) {
    Say(FormatText(ADM_ADDED, {items.At(static_cast<uint32_t>(items.Size() - 1)).spec,
                               items.At(project).spec}));
  } else {
    Say(FormatText(ADM_ADDED_FILES, {std::to_string(pending.size()), items.At(project).spec}));
  }
  return kDone;
}

int CheckOut(const Command& command) {
  if (command.arguments.size() != 1) return command.Usage();
  Failure failure;
  std::string user;
  if (!SelectUser("", &user, &failure)) return command.Fail(failure);
  uint32_t item;
  auto database = OpenWithItem(command, false, &item);
  if (!database) return kFailed;
  if (database->Items().At(item).type != ItemType::kFile) {
    return command.Fail(FormatText(ADM_NO_WORKING_COPY, {command.arguments[0]}));
  }
  if (!CheckOutFile(*database, item, user, &failure)) return command.Fail(failure);
  Say(FormatText(ADM_CHECKED_OUT, {database->Items().At(item).spec, user}));
  return kDone;
}

int CheckIn(const Command& command) {
  if (command.arguments.size() != 1) return command.Usage();
  uint32_t item;
  auto database = OpenWithItem(command, true, &item);
  if (!database) return kFailed;
  Failure failure;
  const Item& file = database->Items().At(item);
  std::string holder = database->CheckedOutBy(item);
  if (holder.empty()) return command.Fail(FormatText(ADM_NOT_CHECKED_OUT, {file.spec}));
  database->Checkouts().erase(std::string(file.spec));
  if (!database->SaveCheckouts(&failure)) return command.Fail(failure);
  std::string error, user;
  // A working copy that is gone has nothing to protect.
  if (IsFile(std::string(file.local)) && !SetWritable(std::string(file.local), false, &error)) {
    return command.Fail(FormatText(SS_MAKE_WRITABLE_FAILED, {file.local, error, file.spec}));
  }
  SelectUser("", &user, nullptr);
  database->Journal(user, "checkin", file.spec);
  Say(FormatText(ADM_CHECKED_IN, {file.spec, holder}));
  return kDone;
}

int Delete(const Command& command) {
  if (command.arguments.size() != 1) return command.Usage();
  uint32_t item;
  auto database = OpenWithItem(command, true, &item);
  if (!database) return kFailed;
  Failure failure;
  if (item == 0) return command.Fail(ServerText(ADM_ROOT_UNDELETABLE));
  std::string spec(database->Items().At(item).spec);
  database->Items().MarkDeleted(item);
  // Check-outs of what is gone go with it; the table is ordered, so a
  // project's files follow its path directly.
  CheckoutTable& checkouts = database->Checkouts();
  checkouts.erase(spec);
  std::string inside = spec + "/";
  for (auto it = checkouts.lower_bound(inside);
       it != checkouts.end() && it->first.compare(0, inside.size(), inside) == 0;) {
    it = checkouts.erase(it);
  }
  if (!database->SaveItems(&failure) || !database->SaveCheckouts(&failure)) {
    return command.Fail(failure);
  }
  std::string user;
  SelectUser("", &user, nullptr);
  database->Journal(user, "delete", spec);
  Say(FormatText(ADM_DELETED, {spec}));
  return kDone;
}

int Current(const Command& command) {
  if (command.arguments.size() > 1) return command.Usage();
  Failure failure;
  std::string user;
  if (!SelectUser("", &user, &failure)) return command.Fail(failure);
  bool change = command.arguments.size() == 1;
  auto database = OpenDatabase(command, change, &failure);
  if (!database) return command.Fail(failure);
  if (change) {
    uint32_t project = FindItem(command, *database, command.arguments[0]);
    if (project == kNoItem) return kFailed;
    if (database->Items().At(project).type != ItemType::kProject) {
      return command.Fail(FormatText(ADM_NOT_A_PROJECT, {command.arguments[0]}));
    }
    database->Users()[user] = std::string(database->Items().At(project).spec);
    if (!database->SaveUsers(&failure)) return command.Fail(failure);
  }
  Say(FormatText(ADM_CURRENT_PROJECT, {user, database->CurrentProject(user)}));
  return kDone;
}

int List(const Command& command) {
  if (command.arguments.size() > 1) return command.Usage();
  Failure failure;
  auto database = OpenDatabase(command, false, &failure);
  if (!database) return command.Fail(failure);
  const Catalog& items = database->Items();
  uint32_t top = 0;
  if (!command.arguments.empty()) {
    top = FindItem(command, *database, command.arguments[0]);
    if (top == kNoItem) return kFailed;
  }
  std::string out;
  // Depth first, each project's items in the order they were added.
  std::vector<uint32_t> stack{top};
  while (!stack.empty()) {
    const Item& item = items.At(stack.back());
    uint32_t index = stack.back();
    stack.pop_back();
    if (item.type == ItemType::kProject) {
      std::string shown(item.spec);
      if (index != 0) shown += '/';
      out += FormatText(
          ADM_LIST_PROJECT,
          {shown,
           item.local.empty() ? std::string_view(ServerText(ADM_NO_WORKING_FOLDER)) : item.local});
      std::vector<uint32_t> children = items.Children(index);
      stack.insert(stack.end(), children.rbegin(), children.rend());
    } else {
      std::string holder = database->CheckedOutBy(index);
      out +=
          FormatText(ADM_LIST_FILE, {item.spec, item.local,
                                     holder.empty() ? ServerText(ADM_STATE_CHECKED_IN)
                                                    : FormatText(ADM_STATE_CHECKED_OUT, {holder})});
    }
    out += '\n';
  }
  fwrite(out.data(), 1, out.size(), stdout);
  return kDone;
}

int Register(Command command) {
  bool system = TakeFlag(&command.arguments, "--system");
  std::string library;
  if (!TakeValue(&command.arguments, "--server", &library) || !command.arguments.empty()) {
    return command.Usage();
  }
  library =
      library.empty() ? JoinPath(FolderOf(ProgramPath()), kServerLibraryName) : FullPath(library);
  if (!IsFile(library)) return command.Fail(FormatText(ADM_NO_SERVER_LIBRARY, {library}));
  std::string where, error;
  if (!WriteServerRegistration(kServerClassId, kServerProgId, library, !system, &where, &error)) {
    return command.Fail(FormatText(ADM_REGISTRATION_FAILED, {where, error}));
  }
  Say(FormatText(ADM_REGISTERED, {library, kServerClassIdText, where}));
  return kDone;
}

int Unregister(Command command) {
  bool system = TakeFlag(&command.arguments, "--system");
  if (!command.arguments.empty()) return command.Usage();
  std::string where, error;
  bool existed = false;
  if (!RemoveServerRegistration(kServerClassId, !system, &where, &existed, &error)) {
    return command.Fail(FormatText(ADM_REGISTRATION_FAILED, {where, error}));
  }
  Say(FormatText(existed ? ADM_UNREGISTERED : ADM_NOT_REGISTERED, {where}));
  return kDone;
}

}  // namespace

int main(int argc, char** argv) {
  Command command;
  int next = 1;
  if (next + 1 < argc && strcmp(argv[next], "-d") == 0) {
    command.folder = argv[next + 1];
    next += 2;
  }
  if (next >= argc) {
    fputs(ServerText(ADM_USAGE), stderr);
    return kBadCommandLine;
  }
  command.name = argv[next++];
  command.arguments.assign(argv + next, argv + argc);

  static const struct {
    const char* name;
    int (*run)(Command);
  } kCommands[] = {
      {"create", [](Command c) { return Create(c); }},
      {"add-project", [](Command c) { return AddProject(c); }},
      {"add", [](Command c) { return AddFiles(std::move(c)); }},
      {"checkout", [](Command c) { return CheckOut(c); }},
      {"checkin", [](Command c) { return CheckIn(c); }},
      {"delete", [](Command c) { return Delete(c); }},
      {"current", [](Command c) { return Current(c); }},
      {"list", [](Command c) { return List(c); }},
      {"register", [](Command c) { return Register(std::move(c)); }},
      {"unregister", [](Command c) { return Unregister(std::move(c)); }},
  };
  if (command.name == "help" || command.name == "--help" || command.name == "-h") {
    fputs(ServerText(ADM_USAGE), stdout);
    return kDone;
  }
  for (const auto& entry : kCommands) {
    if (command.name == entry.name) return entry.run(std::move(command));
  }
  fprintf(stderr, "%s\n", FormatText(ADM_UNKNOWN_COMMAND, {command.name}).c_str());
  return kBadCommandLine;
}
