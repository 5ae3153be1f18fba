// RunningUnderWine: the one place where the tests recognise Wine.
#include "winapi/test_platform.h"

#include "winapi/winapi.h"

bool RunningUnderWine() {
#ifdef _WIN32
  const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "wine_get_version");
#else
  return false;
#endif
}
