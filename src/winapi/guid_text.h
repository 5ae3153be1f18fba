// The registry's text of a GUID, "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" in
// capitals: one spelling for the Linux COM runtime's registry files and the
// SourceSafe server's registration on both systems.
#pragma once

#include <stdio.h>

#include <string>

#include "winapi/winapi.h"

inline std::string GuidText(REFGUID guid) {
  char text[39];
  snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
           static_cast<unsigned>(guid.Data1), guid.Data2, guid.Data3, guid.Data4[0], guid.Data4[1],
           guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5], guid.Data4[6],
           guid.Data4[7]);
  return text;
}
