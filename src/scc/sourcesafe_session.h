// The SourceSafe session: connects to the database through the Automation
// server registered as "SourceSafe", finds the item whose working copy is a
// given local file and checks it out.
#pragma once

#include "base/string.h"
#include "res/string_ids.h"
#include "scc/com_holders.h"
#include "scc/item_queue.h"
#include "scc/sourcesafe_interfaces.h"

class SourceSafeSession {
 public:
  // Connects: starts COM, creates the server's database object and opens the
  // database with the server's defaults. Throws ClComException, whose newest
  // message is "Error! Cannot connect to Visual Source Safe." for every
  // failure after COM started.
  SourceSafeSession();
  // Drops the database reference (the only way to close it).
  ~SourceSafeSession();
  SourceSafeSession(const SourceSafeSession&) = delete;
  SourceSafeSession& operator=(const SourceSafeSession&) = delete;

  // Looks for the file item whose local path is the full path of `fileName`
  // (letter case aside), breadth-first in the current project and then in
  // the whole database, and checks it out. True when found and checked out,
  // false when no item matched; every SourceSafe or COM failure is thrown.
  // `notInProject` is the warning printed before the whole database is
  // searched: it names the kind of file sought.
  bool CheckOut(const ClString& fileName, UINT notInProject = IDS_NOT_IN_CURRENT_PROJECT);

 private:
  // Examines the item at the head of `searchQueue` (which must not be
  // empty): queues a project's children, or checks the file out when its
  // local path is `wantedPath`. True when it checked the file out.
  bool SearchStep();
  // Queues the item at `path` (a project) and searches breadth-first from it.
  bool Search(BSTR path);
  // Empties `searchQueue` and `wantedPath` whichever way CheckOut ends.
  void EndSearch();

  ClComPtr<IVSSDatabase, IID_IVSSDatabase> database;  // empty until connected
  ClWString wantedPath;     // full local path sought; empty outside CheckOut
  ClItemQueue searchQueue;  // items still to examine; empty outside CheckOut
};
