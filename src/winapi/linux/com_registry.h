// The Linux layer's registry of in-process COM servers, the counterpart of
// HKEY_CLASSES_ROOT: writing and removing a class's registration file (for a
// server's DllRegisterServer, DllUnregisterServer and admin command), and the
// test-only ways to steer class lookup without touching the real registry.
//
// One text file per class, named after its class id in the braced upper-case
// form ("{0A1B2C3D-...}"), with lines "ProgID=<progid>", "InprocServer32=<the
// server's absolute .so path>" and "ThreadingModel=<model>". The user's folder
// ${XDG_CONFIG_HOME:-$HOME/.config}/tickwright/com/ is searched before the
// system's /etc/tickwright/com/, as HKCU\Software\Classes before HKLM.
#pragma once

#include "winapi/linux/com_types.h"

// Plain C names, exported by every executable that links the layer, so that a
// server's shared object can bind to them like to the COM functions.
extern "C" {

// Writes the registration of `clsid` into the user's folder (`perUser`) or the
// system's, creating the folder as needed, through SafeWrite: a lookup meets
// the old registration or the new one. A new file is 0644; one that is there
// keeps its owner and mode, and one that is a link, no regular file or not
// writable by the user (by its mode, even for root) is refused. `progId` may
// be null or empty (no ProgID line); `threadingModel` null means
// "Apartment". S_OK; E_INVALIDARG for a server path that is not absolute or
// a value with a line break; otherwise the HRESULT of the failing file
// operation (E_ACCESSDENIED, ...).
HRESULT ComRegisterInprocServer(BOOL perUser, REFCLSID clsid, const char* progId,
                                const char* serverPath, const char* threadingModel);

// Removes the registration of `clsid` from that folder: S_OK, S_FALSE when
// there was none, or the HRESULT of the failing file operation.
HRESULT ComUnregisterInprocServer(BOOL perUser, REFCLSID clsid);

// Copies that folder's path, ending in '/', into `buffer` and returns its
// length; 0 when there is none (no home folder) or `size` is too small.
DWORD ComRegistryFolder(BOOL perUser, char* buffer, DWORD size);

}  // extern "C"

// Test-only: makes CLSIDFromProgID give `clsid` for `progId` (matched as the
// registry does, ignoring case) in this process, ahead of every file.
void RegisterProgIdInProcess(const char* progId, REFCLSID clsid);
// Test-only: drops such a mapping.
void RevokeProgIdInProcess(const char* progId);
// Test-only: uses `folder` (ending in '/') in place of the user's or the
// system's folder; "" means no such folder at all, null restores the real one.
void SetComRegistryFolder(bool perUser, const char* folder);
