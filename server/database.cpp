// The database folder: its files read and written, its lock, the journal,
// and which folder and user a session opens.
#include "database.h"

#include "text.h"

namespace {

constexpr char kIniName[] = "srcsafe.ini";
constexpr char kItemsName[] = "items.txt";
constexpr char kCheckoutsName[] = "checkouts.txt";
constexpr char kUsersName[] = "users.txt";
constexpr char kJournalName[] = "journal.log";
constexpr char kLockName[] = "lock";
constexpr std::string_view kIniFormatLine = "Tickwright_Database_Format = 1";
constexpr std::string_view kCheckoutsHeader = "# Tickwright SourceSafe check-outs, format 1";
constexpr std::string_view kUsersHeader = "# Tickwright SourceSafe users, format 1";

}  // namespace

Database::Database(std::string folder) : folder_(std::move(folder)) {}

std::string Database::PathOf(const char* name) const { return JoinPath(folder_, name); }

bool Database::Create(const std::string& folder, Failure* failure) {
  std::string error;
  if (!MakeFolder(folder, &error)) {
    SetFailure(failure, E_FAIL, FormatText(SS_WRITE_FAILED, {folder, error}));
    return false;
  }
  Database database(folder);
  if (!database.Lock(true, failure)) return false;
  std::string ini = database.PathOf(kIniName);
  if (IsFile(ini)) {
    SetFailure(failure, E_FAIL, FormatText(ADM_DATABASE_EXISTS, {folder}));
    return false;
  }
  // The marker goes last: a folder is a database only once it is complete.
  if (!database.SaveItems(failure) || !database.SaveCheckouts(failure) ||
      !database.SaveUsers(failure)) {
    return false;
  }
  std::string text = "; The SourceSafe database of the Tickwright server.\n";
  text += kIniFormatLine;
  text += '\n';
  if (!WriteFileAtomically(ini, text, &error)) {
    SetFailure(failure, E_FAIL, FormatText(SS_WRITE_FAILED, {ini, error}));
    return false;
  }
  return true;
}

bool Database::Lock(bool exclusive, Failure* failure) {
  std::string error, path = PathOf(kLockName);
  if (!lock_.Acquire(path, exclusive, &error)) {
    SetFailure(failure, E_FAIL, FormatText(SS_LOCK_FAILED, {path, error}));
    return false;
  }
  return true;
}

bool Database::Load(bool takeLock, Failure* failure) {
  std::string ini = PathOf(kIniName), data, error;
  bool missing = false;
  if (!ReadWholeFile(ini, &data, &missing, &error)) {
    SetFailure(failure, kSsFileNotFound,
               missing ? FormatText(SS_NO_DATABASE, {folder_, ini})
                       : FormatText(SS_READ_FAILED, {ini, error}));
    return false;
  }
  bool ours = false;
  LineReader reader(data);
  std::string_view line;
  while (!ours && reader.Next(&line)) ours = line == kIniFormatLine;
  if (!ours) {
    SetFailure(failure, kSsFileNotFound,
               FormatText(SS_FOREIGN_DATABASE, {folder_, kIniFormatLine}));
    return false;
  }

  if (takeLock && !Lock(false, failure)) return false;
  const UnlockAtEnd unlock(takeLock ? this : nullptr);
  // Read under the lock into memory of its own: an outside writer that
  // ignores the lock cannot change the catalog's texts afterwards, nor cut
  // them away under it.
  std::string items = PathOf(kItemsName), text;
  bool loaded = ReadWholeFile(items, &text, &missing, &error, &itemsIdentity_);
  if (!loaded) SetFailure(failure, E_FAIL, FormatText(SS_READ_FAILED, {items, error}));
  if (loaded) itemsText_.swap(text);
  loaded = loaded && catalog_.Parse(itemsText_, items, failure) &&
           ReadTable(PathOf(kCheckoutsName), kCheckoutsHeader, &checkouts_, failure) &&
           ReadTable(PathOf(kUsersName), kUsersHeader, &users_, failure);
  return loaded;
}

bool Database::ItemsChanged() const {
  FileIdentity now;
  return !GetFileIdentity(PathOf(kItemsName), &now) || !(now == itemsIdentity_);
}

bool Database::SaveItems(Failure* failure) const {
  std::string path = PathOf(kItemsName), error;
  if (!WriteFileAtomically(path, catalog_.Serialize(), &error)) {
    SetFailure(failure, E_FAIL, FormatText(SS_WRITE_FAILED, {path, error}));
    return false;
  }
  return true;
}

bool Database::SaveCheckouts(Failure* failure) const {
  return WriteTable(PathOf(kCheckoutsName), kCheckoutsHeader, checkouts_, failure);
}

bool Database::SaveUsers(Failure* failure) const {
  return WriteTable(PathOf(kUsersName), kUsersHeader, users_, failure);
}

bool Database::ReloadCheckouts(Failure* failure) {
  return ReadTable(PathOf(kCheckoutsName), kCheckoutsHeader, &checkouts_, failure);
}

std::string Database::CurrentProject(const std::string& user) const {
  auto found = users_.find(user);
  if (found == users_.end()) return std::string(kRootSpec);
  uint32_t project = catalog_.Find(found->second);
  if (project == kNoItem || catalog_.At(project).type != ItemType::kProject) {
    return std::string(kRootSpec);
  }
  return std::string(catalog_.At(project).spec);
}

std::string Database::CheckedOutBy(uint32_t item) const {
  auto found = checkouts_.find(std::string(catalog_.At(item).spec));
  return found == checkouts_.end() ? std::string() : found->second;
}

void Database::Journal(const std::string& user, std::string_view action,
                       std::string_view spec) const {
  std::string line = TimeStamp();
  line += '\t';
  line += user;
  line += '\t';
  line += action;
  line += '\t';
  line += spec;
  line += '\n';
  AppendToFile(PathOf(kJournalName), line, nullptr);
}

bool SelectDatabaseFolder(const std::string& iniPath, std::string* folder, Failure* failure) {
  if (!iniPath.empty()) {
    *folder = FolderOf(FullPath(iniPath));
    return true;
  }
  std::string ssdir = GetEnvironment("SSDIR");
  if (ssdir.empty()) {
    SetFailure(failure, kSsFileNotFound, ServerText(SS_NO_SSDIR));
    return false;
  }
  *folder = FullPath(ssdir);
  return true;
}

bool SelectUser(const std::string& given, std::string* user, Failure* failure) {
  *user = given;
  if (user->empty()) *user = GetEnvironment("SSUSER");
  if (user->empty()) *user = LoginName();
  if (user->empty()) {
    SetFailure(failure, kSsBadUserName, ServerText(SS_NO_USER_NAME));
    return false;
  }
  if (!IsValidUserName(*user)) {
    SetFailure(failure, kSsBadUserName, FormatText(SS_BAD_USER_NAME, {*user}));
    return false;
  }
  return true;
}
