// A tiny in-process server for the COM layer's tests. It binds to the host's
// COM runtime (the functions stay undefined here), so error info that it sets
// is the host's. Built a second time without DllGetClassObject, as a shared
// object that is no server.
#include "winapi/linux/api.h"

#ifndef TW_TEST_SERVER_WITHOUT_ENTRY

namespace {

// Lives as long as the process; counts its references for the tests.
class Object final : public IUnknown {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    if (riid != IID_IUnknown) {
      *object = nullptr;
      return E_NOINTERFACE;
    }
    *object = this;
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
  ULONG STDMETHODCALLTYPE Release() override { return --references; }

  ULONG references = 0;
};

Object object;

// Answers IUnknown; asked for IDispatch it fails with error info.
class Factory final : public IClassFactory {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** result) override {
    if (riid != IID_IUnknown && riid != IID_IClassFactory) {
      *result = nullptr;
      return E_NOINTERFACE;
    }
    *result = this;
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** result) override {
    *result = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    if (riid == IID_IDispatch) {
      ICreateErrorInfo* info = nullptr;
      if (SUCCEEDED(CreateErrorInfo(&info))) {
        info->SetDescription(const_cast<LPOLESTR>(u"set by the test server"));
        IErrorInfo* error = nullptr;
        info->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&error));
        SetErrorInfo(0, error);
        error->Release();
        info->Release();
      }
    }
    return object.QueryInterface(riid, result);
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

Factory factory;

}  // namespace

// Serves any class id it is registered under.
extern "C" HRESULT DllGetClassObject(REFCLSID, REFIID riid, void** result) {
  return factory.QueryInterface(riid, result);
}

// The references that the host holds on the object, for the tests to check.
extern "C" ULONG TestServerObjectReferences() { return object.references; }

#endif
