// Checking a file out: under the database's exclusive lock, from the
// database as it is then.
#include "checkout.h"

#include "text.h"

bool CheckOutFile(Database& database, uint32_t item, const std::string& user, Failure* failure) {
  std::string spec(database.Items().At(item).spec);
  std::string local(database.Items().At(item).local);
  if (!database.Lock(true, failure)) return false;
  const Database::UnlockAtEnd unlock(&database);
  // The caller's view may be older than the database: what counts is the
  // item as it is now.
  if (database.ItemsChanged()) {
    Database now(database.Folder());
    if (!now.Load(false, failure)) return false;
    uint32_t current = now.Items().Find(spec);
    if (current == kNoItem || now.Items().At(current).type != ItemType::kFile) {
      SetFailure(failure, kSsItemNotFound, FormatText(SS_ITEM_GONE, {spec}));
      return false;
    }
    local = now.Items().At(current).local;
  }
  if (!database.ReloadCheckouts(failure)) return false;
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
  return ok;
}
