// The server's class id and ProgID.
#include "identity.h"

const CLSID kServerClassId = {
    0x08776ADA, 0x0354, 0x4CB1, {0x92, 0x78, 0x00, 0x3F, 0x04, 0x35, 0x1D, 0x5F}};
const char kServerClassIdText[] = "{08776ADA-0354-4CB1-9278-003F04351D5F}";
const char kServerProgId[] = "SourceSafe";
