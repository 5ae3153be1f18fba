// What the server library exports: the class factory of the SourceSafe
// database class, the unload test and self-registration.
#include "automation.h"
#include "platform.h"

namespace {

// SELFREG_E_CLASS, which <olectl.h> names on Windows.
constexpr HRESULT kRegistrationFailed = static_cast<HRESULT>(0x80040201u);

// One factory for the process; its references do not keep the server
// loaded, LockServer does.
class Factory final : public IClassFactory {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    if (!object) return E_POINTER;
    if (IsEqualGUID(riid, kIidUnknown) || IsEqualGUID(riid, kIidClassFactory)) {
      *object = static_cast<IClassFactory*>(this);
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** object) override {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    return CreateDatabaseObject(riid, object);
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    AddServerUsage(lock ? 1 : -1);
    return S_OK;
  }
};

Factory factory;

}  // namespace

STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, LPVOID* object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  if (!IsEqualGUID(clsid, kServerClassId)) return CLASS_E_CLASSNOTAVAILABLE;
  return factory.QueryInterface(riid, object);
}

STDAPI DllCanUnloadNow() { return ServerUsage() == 0 ? S_OK : S_FALSE; }

// Registers this very library for the whole machine, where regsvr32 has
// always put in-process servers and where every COM runtime looks (Wine's
// does not look at the user's own classes); a user who may not write there
// gets it for the user alone. The admin command's register can do either.
STDAPI DllRegisterServer() {
  std::string where, error, library = ThisModulePath();
  if (library.empty()) return kRegistrationFailed;
  for (bool perUser : {false, true}) {
    if (WriteServerRegistration(kServerClassId, kServerProgId, library, perUser, &where, &error))
      return S_OK;
  }
  return kRegistrationFailed;
}

// Removes both registrations, the machine's and the user's.
STDAPI DllUnregisterServer() {
  std::string where, error;
  bool existed = false;
  for (bool perUser : {false, true}) {
    if (!RemoveServerRegistration(kServerClassId, perUser, &where, &existed, &error))
      return kRegistrationFailed;
  }
  return S_OK;
}
