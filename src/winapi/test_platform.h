// What the unit tests need to know about the system they run on beyond the
// build's own platform.
#pragma once

// True when a Windows build runs under Wine, whose ntdll exports
// wine_get_version; false on Windows itself and on Linux.
bool RunningUnderWine();
