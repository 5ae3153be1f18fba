// The SourceSafe database of the server: a folder of text files that holds
// the projects and files, who has which file checked out and each user's
// current project. Files are replaced whole and atomically, under a lock
// file, so that any number of processes can share a database.
//
// The folder:
//   srcsafe.ini    marks the folder as a database of ours (and its format)
//   items.txt      the catalog (catalog.h)
//   checkouts.txt  PATH <tab> USER for each file checked out
//   users.txt      USER <tab> PROJECT, each user's current project
//   journal.log    TIME <tab> USER <tab> ACTION <tab> PATH, appended
//   lock           the lock file: shared while reading, exclusive for a change
// Every text file begins with a line naming its format (file_format.h).
#pragma once

#include <stdint.h>

#include <string>
#include <string_view>

#include "catalog.h"
#include "failure.h"
#include "file_format.h"
#include "platform.h"

// Who has which file checked out: the item's path (spelled as the item
// has it) -> user.
typedef TextTable CheckoutTable;
// Each user's current project: user -> project path.
typedef TextTable UserTable;

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
  // Unlocks a database when it goes, whichever way its scope is left; null
  // leaves the lock to the caller who holds it.
  class UnlockAtEnd {
   public:
    explicit UnlockAtEnd(Database* database) : database_(database) {}
    ~UnlockAtEnd() {
      if (database_) database_->Unlock();
    }
    UnlockAtEnd(const UnlockAtEnd&) = delete;
    UnlockAtEnd& operator=(const UnlockAtEnd&) = delete;

   private:
    Database* database_;
  };

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

// The database folder and user that empty Open arguments select: SSDIR and
// SSUSER, else the login name. An ini path selects its folder.
bool SelectDatabaseFolder(const std::string& iniPath, std::string* folder, Failure* failure);
bool SelectUser(const std::string& given, std::string* user, Failure* failure);
