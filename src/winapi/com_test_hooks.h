// Test-only hooks on how COM finds classes, so that a test can put a scripted
// server under a ProgID without reading or touching the machine's
// registrations.
#pragma once

#include "winapi/winapi.h"

// Hides every registered class from this process: from now on only class
// objects registered with CoRegisterClassObject and ProgIDs mapped below
// exist. False where the platform has no such hook (Windows keeps ProgIDs in
// its registry only); the caller then skips its test.
bool IsolateComClassesForTest();
// Makes CLSIDFromProgID give `*clsid` for `progId` in this process; a null
// `clsid` drops the mapping. Does nothing where isolation is not available.
void MapProgIdForTest(const char* progId, const CLSID* clsid);
