// The database: the catalog's text format, the folder's files, the lock and
// the check-out.
#include "database.h"

#include <string.h>

#include <algorithm>

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
constexpr std::string_view kRoot = "$/";

Failure Fail(HRESULT code, std::string text) { return Failure{code, std::move(text)}; }

void SetFailure(Failure* failure, HRESULT code, std::string text) {
  if (failure) *failure = Fail(code, std::move(text));
}

// A spec without a trailing "/" (except the root's own).
std::string_view TrimSpec(std::string_view spec) {
  while (spec.size() > kRoot.size() && spec.back() == '/') spec.remove_suffix(1);
  return spec;
}

bool IsSpec(std::string_view spec) { return spec.substr(0, kRoot.size()) == kRoot; }

// Splits `line` at tabs into exactly `count` fields. A line that still ends
// in "\r" is refused: reading drops the "\r" of a line break, so a last field
// that ends in one would not read back as it was written.
bool SplitFields(std::string_view line, std::string_view* fields, size_t count) {
  if (!line.empty() && line.back() == '\r') return false;
  for (size_t i = 0; i + 1 < count; ++i) {
    size_t tab = line.find('\t');
    if (tab == std::string_view::npos) return false;
    fields[i] = line.substr(0, tab);
    line.remove_prefix(tab + 1);
  }
  if (line.find('\t') != std::string_view::npos) return false;
  fields[count - 1] = line;
  return true;
}

// Walks a text line by line; a final line without "\n" counts, and "\r"
// before "\n" is dropped so that files edited on Windows still read.
class LineReader {
 public:
  explicit LineReader(std::string_view text) : text_(text) {}
  bool Next(std::string_view* line) {
    if (position_ >= text_.size()) return false;
    const char* start = text_.data() + position_;
    const void* newline = memchr(start, '\n', text_.size() - position_);
    size_t length = newline ? static_cast<const char*>(newline) - start : text_.size() - position_;
    position_ += length + 1;
    *line = std::string_view(start, length);
    if (!line->empty() && line->back() == '\r') line->remove_suffix(1);
    ++number_;
    return true;
  }
  size_t Number() const { return number_; }

 private:
  std::string_view text_;
  size_t position_ = 0;
  size_t number_ = 0;
};

Failure Damaged(const std::string& file, size_t line, std::string_view what) {
  return Fail(E_FAIL, FormatText(SS_DAMAGED, {file, std::to_string(line), what}));
}

// Reads a small table file of two fields per line after its header.
bool ReadTable(const std::string& path, std::string_view header,
               std::map<std::string, std::string>* table, Failure* failure) {
  table->clear();
  std::string data, error;
  bool missing = false;
  if (!ReadWholeFile(path, &data, &missing, &error)) {
    if (missing) return true;  // nothing recorded yet
    SetFailure(failure, E_FAIL, FormatText(SS_READ_FAILED, {path, error}));
    return false;
  }
  LineReader reader(data);
  std::string_view line;
  if (!reader.Next(&line) || line != header) {
    if (failure) *failure = Damaged(path, 1, header);
    return false;
  }
  while (reader.Next(&line)) {
    if (line.empty()) continue;
    std::string_view fields[2];
    if (!SplitFields(line, fields, 2) || fields[0].empty() || fields[1].empty()) {
      if (failure) *failure = Damaged(path, reader.Number(), "KEY<tab>VALUE");
      return false;
    }
    (*table)[std::string(fields[0])] = std::string(fields[1]);
  }
  return true;
}

bool WriteTable(const std::string& path, std::string_view header,
                const std::map<std::string, std::string>& table, Failure* failure) {
  std::string text(header);
  text += '\n';
  for (const auto& [key, value] : table) {
    text += key;
    text += '\t';
    text += value;
    text += '\n';
  }
  std::string error;
  if (!WriteFileAtomically(path, text, &error)) {
    SetFailure(failure, E_FAIL, FormatText(SS_WRITE_FAILED, {path, error}));
    return false;
  }
  return true;
}

}  // namespace

bool IsStorableLocalPath(std::string_view path) {
  return path.find_first_of("\t\r\n") == std::string_view::npos;
}

bool IsValidItemName(std::string_view name) {
  return !name.empty() && name != "." && name != ".." &&
         name.find_first_of("/\\\t\r\n") == std::string_view::npos;
}

bool IsValidUserName(std::string_view name) {
  return !name.empty() && name.find_first_of("\t\r\n") == std::string_view::npos;
}

std::string_view ParentSpec(std::string_view spec) {
  spec = TrimSpec(spec);
  if (spec.size() <= kRoot.size()) return {};
  size_t slash = spec.rfind('/');
  return slash < kRoot.size() ? kRoot : spec.substr(0, slash);
}

std::string_view SpecName(std::string_view spec) {
  spec = TrimSpec(spec);
  if (spec.size() <= kRoot.size()) return {};
  return spec.substr(spec.rfind('/') + 1);
}

// ---------------------------------------------------------------- Catalog

Catalog::Catalog() {
  Item root;
  root.spec = kRoot;
  items_.push_back(root);
  projects_.emplace(std::string(kRoot), 0);
}

bool Catalog::Parse(std::string_view text, const std::string& fileName, Failure* failure) {
  items_.clear();
  projects_.clear();
  blocks_.clear();
  free_ = nullptr;
  blockLeft_ = 0;

  LineReader reader(text);
  std::string_view line;
  if (!reader.Next(&line) || line != kHeader) {
    if (failure) *failure = Damaged(fileName, 1, kHeader);
    return false;
  }
  // One record per line, so the newlines bound the count.
  size_t lines = 1;
  for (const char* p = text.data();
       (p = static_cast<const char*>(memchr(p, '\n', text.data() + text.size() - p))); ++p) {
    ++lines;
  }
  items_.reserve(lines);

  // Files come in runs under one project, so the last parent is kept at hand
  // and the map of projects (which also sees deleted ones while loading, as
  // the latest project of a path is the parent of what follows it) is asked
  // only when the run ends.
  std::unordered_map<std::string, uint32_t> latest;
  std::string_view lastParentSpec;
  uint32_t lastParent = kNoItem;
  while (reader.Next(&line)) {
    if (line.empty()) continue;
    std::string_view fields[4];
    if (!SplitFields(line, fields, 4)) {
      if (failure)
        *failure = Damaged(fileName, reader.Number(), "TYPE<tab>STATE<tab>PATH<tab>LOCAL");
      return false;
    }
    Item item;
    if (fields[0] == "P") {
      item.type = ItemType::kProject;
    } else if (fields[0] == "F") {
      item.type = ItemType::kFile;
    } else {
      if (failure) *failure = Damaged(fileName, reader.Number(), "TYPE is P or F");
      return false;
    }
    if (fields[1] == "deleted") {
      item.deleted = true;
    } else if (fields[1] != "live") {
      if (failure) *failure = Damaged(fileName, reader.Number(), "STATE is live or deleted");
      return false;
    }
    item.spec = fields[2];
    item.local = fields[3];
    if (!IsSpec(item.spec) || (item.spec.size() > kRoot.size() && item.spec.back() == '/')) {
      if (failure) *failure = Damaged(fileName, reader.Number(), "PATH begins with $/");
      return false;
    }

    const auto index = static_cast<uint32_t>(items_.size());
    if (items_.empty()) {
      if (item.spec != kRoot || item.type != ItemType::kProject || item.deleted) {
        if (failure) *failure = Damaged(fileName, reader.Number(), "the first item is $/");
        return false;
      }
    } else {
      std::string_view parentSpec = ParentSpec(item.spec);
      std::string_view name = SpecName(item.spec);
      // Only the project's path, one "/" and the name: "$//a" would be a
      // second path of $/a, and Find would take one item for the other.
      const size_t separator = parentSpec == kRoot ? 0 : 1;
      if (parentSpec.empty() || !IsValidItemName(name) ||
          parentSpec.size() + separator + name.size() != item.spec.size()) {
        if (failure)
          *failure = Damaged(fileName, reader.Number(), "PATH names an item in a project");
        return false;
      }
      if (parentSpec != lastParentSpec || lastParent == kNoItem) {
        auto found = latest.find(FoldCase(parentSpec));
        if (found == latest.end()) {
          if (failure)
            *failure = Damaged(fileName, reader.Number(), "the project of PATH comes first");
          return false;
        }
        lastParentSpec = parentSpec;
        lastParent = found->second;
      }
      item.parent = lastParent;
    }
    // Parents come before their children, so what is hidden is known here.
    item.hidden = item.deleted || (item.parent != kNoItem && items_[item.parent].hidden);
    if (item.type == ItemType::kProject) {
      auto [latestOfPath, first] = latest.try_emplace(FoldCase(item.spec), index);
      // A path is added again only once its project is gone; another line
      // for a project that is there would leave one of them unreachable.
      if (!first && !items_[latestOfPath->second].hidden) {
        if (failure) *failure = Damaged(fileName, reader.Number(), "PATH is no project's already");
        return false;
      }
      latestOfPath->second = index;
    }
    items_.push_back(item);
    if (item.parent != kNoItem) Link(index);
  }
  if (items_.empty()) {
    if (failure) *failure = Damaged(fileName, reader.Number() + 1, "the first item is $/");
    return false;
  }
  for (const auto& [spec, index] : latest) {
    if (!items_[index].hidden) projects_.emplace(spec, index);
  }
  return true;
}

std::string Catalog::Serialize() const {
  size_t size = kHeader.size() + 1;
  for (const Item& item : items_) size += item.spec.size() + item.local.size() + 16;
  std::string text;
  text.reserve(size);
  text += kHeader;
  text += '\n';
  for (const Item& item : items_) {
    text += item.type == ItemType::kProject ? "P\t" : "F\t";
    text += item.deleted ? "deleted\t" : "live\t";
    text += item.spec;
    text += '\t';
    text += item.local;
    text += '\n';
  }
  return text;
}

uint32_t Catalog::Find(std::string_view spec) const {
  spec = TrimSpec(spec);
  if (!IsSpec(spec)) return kNoItem;
  std::string folded = FoldCase(spec);
  auto project = projects_.find(folded);
  if (project != projects_.end()) return project->second;
  std::string_view parentSpec = ParentSpec(spec);
  if (parentSpec.empty()) return kNoItem;
  auto parent = projects_.find(FoldCase(parentSpec));
  if (parent == projects_.end()) return kNoItem;
  std::string_view name = SpecName(spec);
  for (uint32_t child = items_[parent->second].firstChild; child != kNoItem;
       child = items_[child].nextSibling) {
    const Item& item = items_[child];
    if (!item.hidden && item.type == ItemType::kFile && EqualNoCase(SpecName(item.spec), name)) {
      return child;
    }
  }
  return kNoItem;
}

std::vector<uint32_t> Catalog::Children(uint32_t project) const {
  std::vector<uint32_t> children;
  for (uint32_t child = items_[project].firstChild; child != kNoItem;
       child = items_[child].nextSibling) {
    if (!items_[child].hidden) children.push_back(child);
  }
  return children;
}

uint32_t Catalog::Add(uint32_t parent, ItemType type, std::string_view name,
                      std::string_view local) {
  const Item& project = items_[parent];
  std::string spec(project.spec);
  if (spec.size() > kRoot.size()) spec += '/';
  spec += name;
  Item item;
  item.spec = Keep(spec);
  item.local = Keep(local);
  item.type = type;
  item.parent = parent;
  const auto index = static_cast<uint32_t>(items_.size());
  items_.push_back(item);
  Link(index);
  if (type == ItemType::kProject) projects_[FoldCase(item.spec)] = index;
  return index;
}

void Catalog::MarkDeleted(uint32_t index) {
  items_[index].deleted = true;
  // Hide the subtree: an explicit stack, as projects nest without bound.
  std::vector<uint32_t> pending{index};
  while (!pending.empty()) {
    uint32_t current = pending.back();
    pending.pop_back();
    Item& item = items_[current];
    if (item.hidden && current != index) continue;
    item.hidden = true;
    if (item.type == ItemType::kProject) {
      auto found = projects_.find(FoldCase(item.spec));
      if (found != projects_.end() && found->second == current) projects_.erase(found);
      for (uint32_t child = item.firstChild; child != kNoItem; child = items_[child].nextSibling) {
        pending.push_back(child);
      }
    }
  }
}

void Catalog::Link(uint32_t index) {
  Item& parent = items_[items_[index].parent];
  if (parent.lastChild == kNoItem) {
    parent.firstChild = index;
  } else {
    items_[parent.lastChild].nextSibling = index;
  }
  parent.lastChild = index;
}

std::string_view Catalog::Keep(std::string_view text) {
  constexpr size_t kBlockSize = 1 << 20;
  if (text.size() > blockLeft_) {
    blockLeft_ = std::max(kBlockSize, text.size());
    blocks_.push_back(std::make_unique<char[]>(blockLeft_));
    free_ = blocks_.back().get();
  }
  char* copy = free_;
  if (!text.empty()) memcpy(copy, text.data(), text.size());
  free_ += text.size();
  blockLeft_ -= text.size();
  return {copy, text.size()};
}

// --------------------------------------------------------------- Database

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
  if (takeLock) Unlock();
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
  if (found == users_.end()) return std::string(kRoot);
  uint32_t project = catalog_.Find(found->second);
  if (project == kNoItem || catalog_.At(project).type != ItemType::kProject) {
    return std::string(kRoot);
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

// ---------------------------------------------------------------- actions

bool CheckOutFile(Database& database, uint32_t item, const std::string& user, Failure* failure) {
  std::string spec(database.Items().At(item).spec);
  std::string local(database.Items().At(item).local);
  if (!database.Lock(true, failure)) return false;
  // The caller's view may be older than the database: what counts is the
  // item as it is now.
  if (database.ItemsChanged()) {
    Database now(database.Folder());
    if (!now.Load(false, failure)) {
      database.Unlock();
      return false;
    }
    uint32_t current = now.Items().Find(spec);
    if (current == kNoItem || now.Items().At(current).type != ItemType::kFile) {
      database.Unlock();
      SetFailure(failure, kSsItemNotFound, FormatText(SS_ITEM_GONE, {spec}));
      return false;
    }
    local = now.Items().At(current).local;
  }
  if (!database.ReloadCheckouts(failure)) {
    database.Unlock();
    return false;
  }
  std::string holder = database.CheckedOutBy(item);
  bool ok = false;
  std::string error;
  if (!holder.empty() && holder != user) {
    SetFailure(failure, kSsCheckedOut, FormatText(SS_CHECKED_OUT_BY_OTHER, {spec, holder, holder}));
  } else if (!IsFile(local)) {
    SetFailure(failure, kSsFileNotFound, FormatText(SS_WORKING_COPY_MISSING, {local, spec}));
  } else if (!SetWritable(local, true, &error)) {
    SetFailure(failure, E_ACCESSDENIED, FormatText(SS_MAKE_WRITABLE_FAILED, {local, error, spec}));
  } else if (holder.empty()) {
    database.Checkouts()[spec] = user;
    ok = database.SaveCheckouts(failure);
    // Writable but not recorded would let the next check-out by another
    // user pass; put the file back as it was.
    if (!ok) SetWritable(local, false, nullptr);
  } else {
    ok = true;
  }
  if (ok) database.Journal(user, "checkout", spec);
  database.Unlock();
  return ok;
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
    SetFailure(failure, static_cast<HRESULT>(0x8004D6C2u), ServerText(SS_NO_USER_NAME));
    return false;
  }
  if (!IsValidUserName(*user)) {
    SetFailure(failure, static_cast<HRESULT>(0x8004D6C2u), FormatText(SS_BAD_USER_NAME, {*user}));
    return false;
  }
  return true;
}
