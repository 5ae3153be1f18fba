// Who the server is: the class id it registers under the ProgID "SourceSafe".
#pragma once

#include "winapi/winapi.h"

// Our own class id, not the product's, so that both can be installed.
extern const CLSID kServerClassId;
// The same id as registry text, "{...}".
extern const char kServerClassIdText[];
extern const char kServerProgId[];
