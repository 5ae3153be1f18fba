// The server's Automation objects: the database (IVSSDatabase), its items
// (IVSSItem) and collections of items (IVSSItems), with the slot order of
// SourceSafe's type library. Every failure sets error info whose source is
// "SourceSafe" and whose description says what is wrong and what to do.
#pragma once

#include <string>

#include "identity.h"
#include "winapi/winapi.h"

extern const IID kIidUnknown;
extern const IID kIidDispatch;
extern const IID kIidSupportErrorInfo;
extern const IID kIidErrorInfo;
extern const IID kIidClassFactory;

// Creates a database object, not yet open, and queries it for `riid`.
HRESULT CreateDatabaseObject(REFIID riid, void** object);

// Objects alive plus server locks held: the server may be unloaded at 0.
long ServerUsage();
void AddServerUsage(long change);

// Sets the thread's error info for a failure of interface `iid` and returns
// `code`.
HRESULT ReportFailure(REFIID iid, HRESULT code, const std::string& description);
