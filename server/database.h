// The SourceSafe database of the server: a folder of text files that holds
// the projects and files, who has which file checked out and each user's
// current project. Files are replaced whole and atomically, under a lock
// file, so that any number of processes can share a database.
//
// The folder:
//   srcsafe.ini    marks the folder as a database of ours (and its format)
//   items.txt      one line per project or file, in the order they were added:
//                  TYPE <tab> STATE <tab> PATH <tab> LOCAL
//                  TYPE "P" project or "F" file, STATE "live" or "deleted",
//                  PATH the SourceSafe path ("$/", "$/app/main.c"), LOCAL a
//                  file's working copy or a project's working folder (full
//                  paths; a project's may be empty)
//   checkouts.txt  PATH <tab> USER for each file checked out
//   users.txt      USER <tab> PROJECT, each user's current project
//   journal.log    TIME <tab> USER <tab> ACTION <tab> PATH, appended
//   lock           the lock file: shared while reading, exclusive for a change
// Every text file begins with a line naming its format.
#pragma once

#include <stdint.h>

#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform.h"
#include "winapi/winapi.h"

// SourceSafe's own error codes, as its clients know them.
constexpr HRESULT kSsItemNotFound = static_cast<HRESULT>(0x8004D68Fu);
constexpr HRESULT kSsFileNotFound = static_cast<HRESULT>(0x8004D74Bu);
constexpr HRESULT kSsCheckedOut = static_cast<HRESULT>(0x8004D75Bu);

// What went wrong: the code for programs and the text for people (what is
// wrong and what to do).
struct Failure {
  HRESULT code = S_OK;
  std::string text;
};

constexpr uint32_t kNoItem = UINT32_MAX;

enum class ItemType : uint8_t { kProject = 0, kFile = 1 };

struct Item {
  std::string_view spec;   // the SourceSafe path, letter case as added
  std::string_view local;  // working copy or working folder, full path
  uint32_t parent = kNoItem;
  uint32_t firstChild = kNoItem;
  uint32_t lastChild = kNoItem;
  uint32_t nextSibling = kNoItem;
  ItemType type = ItemType::kProject;
  bool deleted = false;
  bool hidden = false;  // deleted, or inside a deleted project
};

// The projects and files, as a tree in the order of adding. Item 0 is the
// root project "$/". Texts point into the loaded text or into the catalog's
// own storage, so loading allocates per line nothing but the item record.
class Catalog {
 public:
  Catalog();
  Catalog(const Catalog&) = delete;
  Catalog& operator=(const Catalog&) = delete;

  // Replaces the content by the items of an items.txt text, which must stay
  // alive as long as the catalog. `fileName` names the file in failures.
  bool Parse(std::string_view text, const std::string& fileName, Failure* failure);
  // The items.txt text of the catalog.
  std::string Serialize() const;

  size_t Size() const { return items_.size(); }
  const Item& At(uint32_t index) const { return items_[index]; }
  // The visible item at `spec` (letter case ignored, a trailing "/" allowed);
  // kNoItem when there is none.
  uint32_t Find(std::string_view spec) const;
  // The visible children of a project, in the order they were added.
  std::vector<uint32_t> Children(uint32_t project) const;

  // Adds an item to a visible project (the caller has checked that the name
  // is valid and free); its texts are copied. Returns its index.
  uint32_t Add(uint32_t parent, ItemType type, std::string_view name, std::string_view local);
  // Marks an item deleted; whatever a project holds is hidden with it.
  void MarkDeleted(uint32_t index);

  static constexpr std::string_view kHeader = "# Tickwright SourceSafe items, format 1";

 private:
  void Link(uint32_t index);
  // A lasting copy of `text`, in blocks of the catalog's own.
  std::string_view Keep(std::string_view text);

  std::vector<Item> items_;
  // Folded spec of every visible project. Files are found through their
  // project, so loading builds no index of them.
  std::unordered_map<std::string, uint32_t> projects_;
  std::vector<std::unique_ptr<char[]>> blocks_;
  char* free_ = nullptr;
  size_t blockLeft_ = 0;
};

// Who has which file checked out: the item's path (spelled as the item
// has it) -> user.
typedef std::map<std::string, std::string> CheckoutTable;
// Each user's current project: user -> project path.
typedef std::map<std::string, std::string> UserTable;

// Whether a name can name an item: not empty, not "." or "..", no separator,
// tab or line break.
bool IsValidItemName(std::string_view name);
// Whether a working folder or copy can be stored in items.txt, whose fields
// are tab-separated lines.
bool IsStorableLocalPath(std::string_view path);
// Whether a text can name a user: not empty, no tab or line break.
bool IsValidUserName(std::string_view name);
// The parent part of a spec ("$/a/b" -> "$/a", "$/a" -> "$/"); "" for "$/".
std::string_view ParentSpec(std::string_view spec);
// The last component of a spec ("$/a/b" -> "b").
std::string_view SpecName(std::string_view spec);

// One database folder, loaded whole. Not copyable or movable: the catalog
// points into the copy of the items file it owns.
class Database {
 public:
  explicit Database(std::string folder);
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  // Makes a new, empty database in `folder` (created if missing; its parent
  // must exist). Fails when one is there already.
  static bool Create(const std::string& folder, Failure* failure);

  const std::string& Folder() const { return folder_; }
  std::string PathOf(const char* name) const;

  // Takes the database's lock for reading or for a change; held until
  // Unlock or the object's end.
  bool Lock(bool exclusive, Failure* failure);
  void Unlock() { lock_.Release(); }

  // Reads every file. With `takeLock` it holds the shared lock meanwhile;
  // without, the caller holds a lock already.
  bool Load(bool takeLock, Failure* failure);
  // Whether items.txt was replaced since Load.
  bool ItemsChanged() const;

  Catalog& Items() { return catalog_; }
  const Catalog& Items() const { return catalog_; }
  CheckoutTable& Checkouts() { return checkouts_; }
  UserTable& Users() { return users_; }

  // Write one file atomically; the caller holds the exclusive lock.
  bool SaveItems(Failure* failure) const;
  bool SaveCheckouts(Failure* failure) const;
  bool SaveUsers(Failure* failure) const;
  // Re-reads only checkouts.txt (under the caller's lock).
  bool ReloadCheckouts(Failure* failure);

  // The user's current project, "$/" when none was set or it is gone.
  std::string CurrentProject(const std::string& user) const;
  // Who has the file checked out, "" when nobody.
  std::string CheckedOutBy(uint32_t item) const;

  // Appends a journal line; a failure to journal is not a failure of the
  // action, so it reports nothing.
  void Journal(const std::string& user, std::string_view action, std::string_view spec) const;

 private:
  std::string folder_;
  FileLock lock_;
  std::string itemsText_;
  FileIdentity itemsIdentity_;
  Catalog catalog_;
  CheckoutTable checkouts_;
  UserTable users_;
};

// Checks a file out to `user` in an opened database: under the exclusive
// lock it re-reads who holds the file, refuses one held by somebody else,
// requires the working copy, makes it writable and records the check-out.
// A file the user holds already is checked out again (it stays writable).
bool CheckOutFile(Database& database, uint32_t item, const std::string& user, Failure* failure);

// The database folder and user that empty Open arguments select: SSDIR and
// SSUSER, else the login name. An ini path selects its folder.
bool SelectDatabaseFolder(const std::string& iniPath, std::string* folder, Failure* failure);
bool SelectUser(const std::string& given, std::string* user, Failure* failure);
