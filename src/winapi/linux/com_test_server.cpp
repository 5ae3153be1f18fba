// A tiny in-process server for the COM tests; built again without its entry as no server.
#include "winapi/linux/api.h"

#ifndef TW_TEST_SERVER_WITHOUT_ENTRY

namespace {

// A class factory that makes itself and lives as long as the process.
class Server final : public IClassFactory {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** result) override {
    *result = riid == IID_IUnknown || riid == IID_IClassFactory ? this : nullptr;
    return *result ? S_OK : E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown*, REFIID riid, void** result) override {
    return QueryInterface(riid, result);
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

Server server;

}  // namespace

// Serves any class id it is registered under.
extern "C" HRESULT DllGetClassObject(REFCLSID, REFIID riid, void** result) {
  return server.QueryInterface(riid, result);
}

#endif
