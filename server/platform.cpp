// The server's operating-system services that both systems share; what each
// system does its own way is in platform_posix.cpp and platform_win32.cpp.
#include "platform.h"

#include "platform_shared.h"
#include "winapi/safe_write.h"

const char kChangedWhileRead[] =
    "it changed while it was read (a program wrote it without taking the database's lock); "
    "try again";

const char kHeldTooLong[] =
    "another program holds it and has not let go of it (tw-ssadmin, or another check-out); "
    "try again once it is done";

// Both systems write through the one write path of the tool.
bool WriteFileAtomically(const std::string& path, std::string_view data, std::string* error) {
  SafeWrite write;
  if (write.Claim(path.c_str()) && write.Commit(data.data(), data.size())) return true;
  SetWin32Error(error, GetLastError());
  return false;
}
