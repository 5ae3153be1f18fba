// Tests of the Linux layer's COM runtime: apartments, BSTRs, VARIANTs, error
// info, and classes found through the registry of in-process servers.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>

#include "winapi/linux/api.h"
#include "winapi/linux/com_registry.h"

namespace {

namespace fs = std::filesystem;

const CLSID kClass = {0x6B1E3C52, 0x0D4F, 0x4A7B, {0x9E, 0x21, 0x5C, 0x70, 0x3A, 0x88, 0x14, 0xD6}};
const char kClassFile[] = "{6B1E3C52-0D4F-4A7B-9E21-5C703A8814D6}";

void OnNewThread(const std::function<void()>& body) { std::thread(body).join(); }

HRESULT Create(REFIID riid, void** object, DWORD context = CLSCTX_INPROC_SERVER) {
  return CoCreateInstance(kClass, nullptr, context, riid, object);
}

// A class factory that makes itself, counting its references.
class CountingFactory final : public IClassFactory {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    *object = riid == IID_IUnknown || riid == IID_IClassFactory ? this : nullptr;
    if (!*object) return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
  ULONG STDMETHODCALLTYPE Release() override { return --references; }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown*, REFIID riid, void** object) override {
    return QueryInterface(riid, object);
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

  ULONG references = 0;
};

// Each test gets its own user and system registry folders and COM started.
class ComTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "com_test.XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    root = pattern;
    userFolder = root + "/user/";
    systemFolder = root + "/system/";
    SetComRegistryFolder(true, userFolder.c_str());
    SetComRegistryFolder(false, systemFolder.c_str());
    ASSERT_EQ(CoInitialize(nullptr), S_OK);
  }
  void TearDown() override {
    CoUninitialize();
    SetComRegistryFolder(true, nullptr);
    SetComRegistryFolder(false, nullptr);
    fs::remove_all(root);
  }

  static ULONG ServerReferences() {
    void* module = dlopen(TW_COM_TEST_SERVER, RTLD_NOW | RTLD_NOLOAD);
    if (!module) return ~0u;
    auto count = reinterpret_cast<ULONG (*)()>(dlsym(module, "TestServerObjectReferences"));
    dlclose(module);
    return count ? count() : ~0u;
  }

  std::string root, userFolder, systemFolder;
};

TEST(ComApartmentTest, CountsInitsAndRefusesToChangeMode) {
  OnNewThread([] {
    void* object = nullptr;
    EXPECT_EQ(Create(IID_IUnknown, &object), CO_E_NOTINITIALIZED);
    EXPECT_EQ(CoInitialize(nullptr), S_OK);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_FALSE);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), RPC_E_CHANGED_MODE);
    CoUninitialize();  // the refused call did not count: one init is left
    EXPECT_NE(Create(IID_IUnknown, &object), CO_E_NOTINITIALIZED);
    CoUninitialize();
    EXPECT_EQ(Create(IID_IUnknown, &object), CO_E_NOTINITIALIZED);
    CoUninitialize();  // one too many does nothing

    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    EXPECT_EQ(CoInitialize(nullptr), RPC_E_CHANGED_MODE);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_FALSE);
    CoUninitialize();
    CoUninitialize();
    EXPECT_EQ(Create(IID_IUnknown, &object), CO_E_NOTINITIALIZED);
  });
}

TEST(ComBstrTest, KeepsByteCountBeforeAndNulAfterTheCharacters) {
  const struct {
    const char16_t* text;
    UINT length;
  } cases[] = {{u"", 0}, {u"abc", 3}, {u"a\0b", 3}};
  for (const auto& c : cases) {
    BSTR text = SysAllocStringLen(c.text, c.length);
    ASSERT_NE(text, nullptr);
    uint32_t bytes;
    memcpy(&bytes, reinterpret_cast<char*>(text) - 4, 4);
    EXPECT_EQ(bytes, 2 * c.length);
    EXPECT_EQ(SysStringLen(text), c.length);
    EXPECT_EQ(std::u16string(text, c.length), std::u16string(c.text, c.length));
    EXPECT_EQ(text[c.length], u'\0');
    SysFreeString(text);
  }
  BSTR upToNul = SysAllocString(u"a\0b");
  EXPECT_EQ(SysStringLen(upToNul), 1u);
  SysFreeString(upToNul);
  BSTR zeroed = SysAllocStringLen(nullptr, 2);
  EXPECT_EQ(std::u16string(zeroed, 3), std::u16string(3, u'\0'));
  SysFreeString(zeroed);
  EXPECT_EQ(SysAllocString(nullptr), nullptr);
  EXPECT_EQ(SysStringLen(nullptr), 0u);
  SysFreeString(nullptr);
}

TEST(ComVariantTest, ClearReleasesWhatItOwnsOnly) {
  CountingFactory object;
  VARIANT v;
  VariantInit(&v);
  EXPECT_EQ(v.vt, VT_EMPTY);

  v.vt = VT_UNKNOWN;
  v.punkVal = &object;
  object.AddRef();
  EXPECT_EQ(VariantClear(&v), S_OK);
  EXPECT_EQ(v.vt, VT_EMPTY);
  EXPECT_EQ(object.references, 0u);

  v.vt = VT_UNKNOWN | 0x4000;  // by reference: not ours to release
  object.AddRef();
  EXPECT_EQ(VariantClear(&v), S_OK);
  EXPECT_EQ(object.references, 1u);

  v.vt = VT_BSTR;
  v.bstrVal = SysAllocString(u"owned");
  EXPECT_EQ(VariantClear(&v), S_OK);
  EXPECT_EQ(v.vt, VT_EMPTY);

  v.vt = VT_I4 | 0x2000;  // an array: unknown to the layer
  EXPECT_EQ(VariantClear(&v), static_cast<HRESULT>(0x80020008));
  EXPECT_EQ(v.vt, VT_I4 | 0x2000);
}

TEST(ComErrorInfoTest, IsHandedOverOncePerThreadAndDroppedWithTheApartment) {
  ICreateErrorInfo* create = nullptr;
  ASSERT_EQ(CreateErrorInfo(&create), S_OK);
  create->SetDescription(const_cast<LPOLESTR>(u"it broke"));
  IErrorInfo* info = nullptr;
  ASSERT_EQ(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info)), S_OK);
  create->Release();
  EXPECT_EQ(SetErrorInfo(0, info), S_OK);

  OnNewThread([] {
    IErrorInfo* other = nullptr;
    EXPECT_EQ(GetErrorInfo(0, &other), S_FALSE);
    EXPECT_EQ(other, nullptr);
  });

  IErrorInfo* taken = nullptr;
  ASSERT_EQ(GetErrorInfo(0, &taken), S_OK);
  EXPECT_EQ(taken, info);
  BSTR description = nullptr;
  ASSERT_EQ(taken->GetDescription(&description), S_OK);
  EXPECT_EQ(std::u16string(description), u"it broke");
  SysFreeString(description);
  EXPECT_EQ(GetErrorInfo(0, &taken), S_FALSE);
  EXPECT_EQ(taken, nullptr);
  // The thread's reference went to us with the first GetErrorInfo.
  info->Release();
  EXPECT_EQ(info->Release(), 0u);

  OnNewThread([] {
    ICreateErrorInfo* pending = nullptr;
    ASSERT_EQ(CreateErrorInfo(&pending), S_OK);
    IErrorInfo* asError = nullptr;
    pending->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&asError));
    pending->Release();
    ASSERT_EQ(CoInitialize(nullptr), S_OK);
    SetErrorInfo(0, asError);
    CoUninitialize();
    EXPECT_EQ(asError->Release(), 0u);  // the apartment let its reference go
  });
}

TEST_F(ComTest, RegisteredServerIsLoadedAndSharesTheHostRuntime) {
  ASSERT_EQ(
      ComRegisterInprocServer(TRUE, kClass, "Tickwright.TestServer", TW_COM_TEST_SERVER, nullptr),
      S_OK);
  EXPECT_EQ(fs::directory_iterator(userFolder)->path().filename(), kClassFile);  // no leftovers
  std::ifstream file(userFolder + kClassFile);
  std::stringstream content;
  content << file.rdbuf();
  EXPECT_EQ(content.str(), std::string("ProgID=Tickwright.TestServer\nInprocServer32=") +
                               TW_COM_TEST_SERVER + "\nThreadingModel=Apartment\n");

  CLSID found = GUID_NULL;
  EXPECT_EQ(CLSIDFromProgID(u"tickwright.TESTSERVER", &found), S_OK);
  EXPECT_EQ(found, kClass);
  EXPECT_EQ(CLSIDFromProgID(u"Tickwright.Other", &found), CO_E_CLASSSTRING);

  IUnknown* object = nullptr;
  ASSERT_EQ(Create(IID_IUnknown, reinterpret_cast<void**>(&object)), S_OK);
  EXPECT_EQ(ServerReferences(), 1u);
  object->Release();
  EXPECT_EQ(ServerReferences(), 0u);

  // Error info that the server sets is the one this thread reads.
  EXPECT_EQ(Create(IID_IDispatch, reinterpret_cast<void**>(&object)), E_NOINTERFACE);
  IErrorInfo* info = nullptr;
  ASSERT_EQ(GetErrorInfo(0, &info), S_OK);
  BSTR description = nullptr;
  info->GetDescription(&description);
  EXPECT_EQ(std::u16string(description), u"set by the test server");
  SysFreeString(description);
  info->Release();

  EXPECT_EQ(ComUnregisterInprocServer(TRUE, kClass), S_OK);
  EXPECT_EQ(ComUnregisterInprocServer(TRUE, kClass), S_FALSE);
  EXPECT_EQ(Create(IID_IUnknown, reinterpret_cast<void**>(&object)), REGDB_E_CLASSNOTREG);
}

TEST_F(ComTest, UserRegistrationComesBeforeTheSystemOne) {
  const std::string missing = root + "/missing.so";
  ASSERT_EQ(ComRegisterInprocServer(FALSE, kClass, "Tickwright.System", missing.c_str(), nullptr),
            S_OK);
  ASSERT_EQ(ComRegisterInprocServer(TRUE, kClass, nullptr, TW_COM_TEST_SERVER, nullptr), S_OK);
  IUnknown* object = nullptr;
  ASSERT_EQ(Create(IID_IUnknown, reinterpret_cast<void**>(&object)), S_OK);
  object->Release();
  CLSID found = GUID_NULL;
  EXPECT_EQ(CLSIDFromProgID(u"Tickwright.System", &found), S_OK);
  EXPECT_EQ(found, kClass);

  ASSERT_EQ(ComUnregisterInprocServer(TRUE, kClass), S_OK);
  EXPECT_EQ(Create(IID_IUnknown, reinterpret_cast<void**>(&object)), CO_E_DLLNOTFOUND);
}

TEST_F(ComTest, ReportsWhyAClassCannotBeCreated) {
  const std::string missing = root + "/missing.so";
  const struct {
    const char* server;
    DWORD context;
    HRESULT expected;
  } cases[] = {
      {missing.c_str(), CLSCTX_INPROC_SERVER, CO_E_DLLNOTFOUND},
      {TW_COM_NO_SERVER, CLSCTX_INPROC_SERVER, CO_E_ERRORINDLL},
      {TW_COM_TEST_SERVER, CLSCTX_LOCAL_SERVER, REGDB_E_CLASSNOTREG},
      {TW_COM_TEST_SERVER, 0, E_INVALIDARG},
  };
  for (const auto& c : cases) {
    ASSERT_EQ(ComRegisterInprocServer(TRUE, kClass, nullptr, c.server, nullptr), S_OK);
    void* object = nullptr;
    EXPECT_EQ(Create(IID_IUnknown, &object, c.context), c.expected) << c.server;
    EXPECT_EQ(object, nullptr);
  }
  EXPECT_EQ(ComRegisterInprocServer(TRUE, kClass, nullptr, "relative.so", nullptr), E_INVALIDARG);
  EXPECT_EQ(ComRegisterInprocServer(TRUE, kClass, "Two\nLines", TW_COM_TEST_SERVER, nullptr),
            E_INVALIDARG);
}

TEST_F(ComTest, ClassObjectsAndProgIdsOfTheProcessComeFirst) {
  ASSERT_EQ(ComRegisterInprocServer(TRUE, kClass, "Tickwright.File", (root + "/missing.so").c_str(),
                                    nullptr),
            S_OK);
  CountingFactory factory;
  DWORD cookie = 0;
  ASSERT_EQ(
      CoRegisterClassObject(kClass, &factory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie),
      S_OK);
  DWORD second = 0;
  EXPECT_EQ(
      CoRegisterClassObject(kClass, &factory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &second),
      static_cast<HRESULT>(0x800401FB));
  IUnknown* object = nullptr;
  ASSERT_EQ(Create(IID_IUnknown, reinterpret_cast<void**>(&object)), S_OK);
  EXPECT_EQ(object, &factory);
  object->Release();

  const CLSID other = {0x1, 0x2, 0x3, {4, 5, 6, 7, 8, 9, 10, 11}};
  RegisterProgIdInProcess("Tickwright.File", other);
  CLSID found = GUID_NULL;
  EXPECT_EQ(CLSIDFromProgID(u"TICKWRIGHT.FILE", &found), S_OK);
  EXPECT_EQ(found, other);
  RevokeProgIdInProcess("tickwright.file");
  EXPECT_EQ(CLSIDFromProgID(u"Tickwright.File", &found), S_OK);
  EXPECT_EQ(found, kClass);

  EXPECT_EQ(CoRevokeClassObject(cookie), S_OK);
  EXPECT_EQ(factory.references, 0u);
  EXPECT_EQ(CoRevokeClassObject(cookie), E_INVALIDARG);
  EXPECT_EQ(Create(IID_IUnknown, reinterpret_cast<void**>(&object)), CO_E_DLLNOTFOUND);

  // The apartment's end revokes what it registered.
  OnNewThread([&factory] {
    CoInitialize(nullptr);
    DWORD threadCookie = 0;
    CoRegisterClassObject(kClass, &factory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE,
                          &threadCookie);
    EXPECT_EQ(factory.references, 1u);
    CoUninitialize();
  });
  EXPECT_EQ(factory.references, 0u);
}

TEST(ComRegistryFolderTest, FollowsXdgConfigHomeElseHome) {
  const std::string savedXdg = getenv("XDG_CONFIG_HOME") ? getenv("XDG_CONFIG_HOME") : "";
  const std::string savedHome = getenv("HOME") ? getenv("HOME") : "";
  const struct {
    const char* xdg;  // null: unset
    const char* home;
    const char* expected;
  } cases[] = {
      {"/x/config", "/h", "/x/config/tickwright/com/"},
      {nullptr, "/h", "/h/.config/tickwright/com/"},
      {"relative", "/h", "/h/.config/tickwright/com/"},  // not absolute: ignored
      {nullptr, "", ""},
  };
  for (const auto& c : cases) {
    if (c.xdg)
      setenv("XDG_CONFIG_HOME", c.xdg, 1);
    else
      unsetenv("XDG_CONFIG_HOME");
    setenv("HOME", c.home, 1);
    char folder[256] = "unchanged";
    DWORD length = ComRegistryFolder(TRUE, folder, sizeof folder);
    EXPECT_EQ(std::string(length ? folder : ""), c.expected);
    EXPECT_EQ(length, strlen(c.expected));
  }
  char folder[64];
  EXPECT_EQ(ComRegistryFolder(FALSE, folder, sizeof folder), strlen("/etc/tickwright/com/"));
  EXPECT_STREQ(folder, "/etc/tickwright/com/");
  EXPECT_EQ(ComRegistryFolder(FALSE, folder, 5), 0u);
  if (savedXdg.empty())
    unsetenv("XDG_CONFIG_HOME");
  else
    setenv("XDG_CONFIG_HOME", savedXdg.c_str(), 1);
  setenv("HOME", savedHome.c_str(), 1);
}

}  // namespace
