// The test-only hooks on COM's class lookup: the Linux layer's in-process
// registry controls; nothing on Windows.
#include "winapi/com_test_hooks.h"

#ifdef _WIN32

bool IsolateComClassesForTest() { return false; }

void MapProgIdForTest(const char*, const CLSID*) {}

#else

#include "winapi/linux/com_registry.h"

bool IsolateComClassesForTest() {
  SetComRegistryFolder(true, "");
  SetComRegistryFolder(false, "");
  return true;
}

void MapProgIdForTest(const char* progId, const CLSID* clsid) {
  if (clsid) {
    RegisterProgIdInProcess(progId, *clsid);
  } else {
    RevokeProgIdInProcess(progId);
  }
}

#endif
