// Test-only hooks: a scripted server under a ProgID, the machine's registrations untouched.
#pragma once

#include "winapi/winapi.h"

// Hides every registered class from this process; false where there is no such hook (Windows).
bool IsolateComClassesForTest();
// Makes CLSIDFromProgID give `*clsid` for `progId` here; null drops the mapping.
void MapProgIdForTest(const char* progId, const CLSID* clsid);
