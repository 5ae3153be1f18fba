// SourceSafeSession against a scripted server registered in-process as "SourceSafe".
#include "scc/sourcesafe_session.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "base/file.h"
#include "scc/com_exception.h"
#include "winapi/com_test_hooks.h"

namespace {

const CLSID kScriptedClass = {
    0x4C0A7F3E, 0x51B2, 0x4E6D, {0xA3, 0x0F, 0x9B, 0x12, 0x6E, 0x44, 0xD8, 0x27}};
constexpr HRESULT kFailure = static_cast<HRESULT>(0x8004D75B);  // no system text anywhere
const char kTail[] = "\r\n\r\nWindows error code: 0x8004D75B\r\nError description unavailable.";
const char kConnect[] = "Error! Cannot connect to Visual Source Safe.\r\n";

using WString = std::basic_string<WCHAR>;
using Names = std::vector<std::string>;

Names walk;  // items in the order their type was asked

// A slot of the interfaces that the session never calls.
#define STUB(signature) \
  HRESULT STDMETHODCALLTYPE signature override { return E_NOTIMPL; }

// A factory, database, project (and its children) or file; call `failing` fails with info.
class Fake final : public IVSSDatabase,
                   public IVSSItem,
                   public IVSSItems,
                   public ISupportErrorInfo,
                   public IClassFactory {
 public:
  Fake(std::string itemName, int itemType, WString localSpec = WString())
      : name(std::move(itemName)), type(itemType), local(std::move(localSpec)) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    *object = nullptr;
    if (riid == IID_IUnknown || riid == IID_IVSSDatabase)
      *object = static_cast<IVSSDatabase*>(this);
    if (riid == IID_IVSSItem) *object = static_cast<IVSSItem*>(this);
    if (riid == IID_IVSSItems) *object = static_cast<IVSSItems*>(this);
    if (riid == IID_IClassFactory) *object = static_cast<IClassFactory*>(this);
    if (riid == IID_ISupportErrorInfo && supportsErrorInfo != E_NOINTERFACE)
      *object = static_cast<ISupportErrorInfo*>(this);
    if (*object) AddRef();
    return *object ? S_OK : E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
  ULONG STDMETHODCALLTYPE Release() override { return --references; }
  HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID) override {
    return supportsErrorInfo;
  }

  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown*, REFIID riid, void** object) override {
    return made->QueryInterface(riid, object);
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE Open(BSTR, BSTR, BSTR) override { return Result("Open"); }
  HRESULT STDMETHODCALLTYPE get_CurrentProject(BSTR* project) override {
    *project = SysAllocString(WIDE("$/app"));
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_VSSItem(BSTR spec, VARIANT_BOOL, IVSSItem** item) override {
    return items.at(spec)->QueryInterface(IID_IVSSItem, reinterpret_cast<void**>(item));
  }
  HRESULT STDMETHODCALLTYPE get_Type(int* itemType) override {
    walk.push_back(name);
    *itemType = type;
    return Result("get_Type");
  }
  HRESULT STDMETHODCALLTYPE get_LocalSpec(BSTR* spec) override {
    *spec = SysAllocString(local.c_str());
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_Items(VARIANT_BOOL, IVSSItems** collection) override {
    return QueryInterface(IID_IVSSItems, reinterpret_cast<void**>(collection));
  }
  HRESULT STDMETHODCALLTYPE Checkout(BSTR, BSTR, LONG) override {
    if (HRESULT failure = Result("Checkout")) return failure;
    ++checkouts;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_Count(LONG* count) override {
    *count = static_cast<LONG>(children.size());
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_Item(VARIANT index, IVSSItem** child) override {
    *child = nullptr;
    Fake* wanted = children.at(static_cast<size_t>(V_I4(&index) - 1));  // 1-based
    return wanted ? wanted->QueryInterface(IID_IVSSItem, reinterpret_cast<void**>(child)) : S_OK;
  }

  // clang-format off
  STUB(GetTypeInfoCount(UINT*)) STUB(GetTypeInfo(UINT, LCID, ITypeInfo**))
  STUB(GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*))
  STUB(Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*))
  STUB(get_SrcSafeIni(BSTR*)) STUB(get_DatabaseName(BSTR*)) STUB(get_Username(BSTR*))
  STUB(put_CurrentProject(BSTR)) STUB(AddUser(BSTR, BSTR, VARIANT_BOOL, IVSSUser**))
  STUB(get_User(BSTR, IVSSUser**)) STUB(get_Users(IVSSUsers**))
  STUB(get_ProjectRightsEnabled(VARIANT_BOOL*)) STUB(put_ProjectRightsEnabled(VARIANT_BOOL))
  STUB(get_DefaultProjectRights(LONG*)) STUB(put_DefaultProjectRights(LONG)) STUB(get_Spec(BSTR*))
  STUB(get_Binary(VARIANT_BOOL*)) STUB(put_Binary(VARIANT_BOOL)) STUB(get_Deleted(VARIANT_BOOL*))
  STUB(put_Deleted(VARIANT_BOOL)) STUB(put_LocalSpec(BSTR)) STUB(get_Name(BSTR*))
  STUB(put_Name(BSTR)) STUB(get_Parent(IVSSItem**)) STUB(get_VersionNumber(LONG*))
  STUB(Get(BSTR*, LONG)) STUB(Checkin(BSTR, BSTR, LONG)) STUB(UndoCheckout(BSTR, LONG))
  STUB(get_IsCheckedOut(LONG*)) STUB(get_Checkouts(IVSSCheckouts**))
  STUB(get_IsDifferent(BSTR, VARIANT_BOOL*)) STUB(Add(BSTR, BSTR, LONG, IVSSItem**))
  STUB(NewSubproject(BSTR, BSTR, IVSSItem**)) STUB(Share(IVSSItem*, BSTR, LONG)) STUB(Destroy())
  STUB(Move(IVSSItem*)) STUB(Label(BSTR, BSTR)) STUB(get_Versions(LONG, IVSSVersions**))
  STUB(get_Version(VARIANT, IVSSItem**)) STUB(get_Links(IVSSItems**))
  STUB(Branch(BSTR, LONG, IVSSItem**)) STUB(_NewEnum(IUnknown**));
  // clang-format on

  std::string name;
  int type;
  WString local;
  std::vector<Fake*> children;     // null children allowed
  std::map<WString, Fake*> items;  // database only: by path
  Fake* made = nullptr;            // factory only: the database it gives
  std::string failing;
  HRESULT supportsErrorInfo = S_OK;  // E_NOINTERFACE: not offered
  int checkouts = 0;
  ULONG references = 0;

 private:
  HRESULT Result(const char* call) {
    if (failing != call) return S_OK;
    ICreateErrorInfo* create = nullptr;
    IErrorInfo* info = nullptr;
    CreateErrorInfo(&create);
    const WString text = WString(call, call + strlen(call)) + WIDE(" failed");
    create->SetDescription(const_cast<LPOLESTR>(text.c_str()));
    create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info));
    SetErrorInfo(0, info);
    info->Release();
    create->Release();
    return kFailure;
  }
};
#undef STUB

WString FullPathOf(const char* name) {
  ClString full;
  GetFullPath(full, name);
  return WString(full.GetText(), full.GetText() + full.GetLength());
}

std::string ReportOf(ClException* exception) {
  ClString text;
  exception->BuildReport(text);
  delete exception;
  return text.GetText();
}

// "$/" holds the current project "$/app" (app.h, project sub) and "$/lib" (lib.h).
class SessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!IsolateComClassesForTest()) GTEST_SKIP() << "needs the Linux layer's ProgID mapping";
    walk.clear();
    factory.made = &database;
    root.children = {&app, &lib};
    app.children = {&appFile, &sub};
    lib.children = {&libFile};
    database.items = {{WIDE("$/"), &root}, {WIDE("$/app"), &app}};
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    ASSERT_EQ(CoRegisterClassObject(kScriptedClass, static_cast<IClassFactory*>(&factory),
                                    CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie),
              S_OK);
    MapProgIdForTest("SourceSafe", &kScriptedClass);
    testing::internal::CaptureStdout();  // the lines the end-to-end tests check
    started = true;
  }
  void TearDown() override {
    if (!started) return;
    testing::internal::GetCapturedStdout();
    MapProgIdForTest("SourceSafe", nullptr);
    CoRevokeClassObject(cookie);
    CoUninitialize();
  }

  // The items that some reference still holds.
  Names Held() const {
    Names held;
    for (const Fake* fake : {&database, &root, &app, &lib, &appFile, &sub, &libFile})
      if (fake->references != 0) held.push_back(fake->name);
    return held;
  }

  Fake database{"database", -1};
  Fake root{"$/", 0}, app{"app", 0}, lib{"lib", 0}, sub{"sub", 0};
  Fake appFile{"app.h", 1, WIDE("/elsewhere/app.h")}, libFile{"lib.h", 1, WIDE("/elsewhere/lib.h")};
  Fake factory{"factory", -1};
  DWORD cookie = 0;
  bool started = false;
};

// On Linux a working copy whose name differs only in letter case is another file.
TEST_F(SessionTest, TakesTheFirstFullPathMatchLevelByLevelWhereCaseCounts) {
  const WString wanted = FullPathOf("counter.h");
  WString upper = wanted;
  for (WCHAR& c : upper) c = c >= 'a' && c <= 'z' ? WCHAR(c - 'a' + 'A') : c;
  Fake deep{"deep", 1, wanted}, longer{"longer", 1, wanted + WIDE("x")}, top{"top", 1, upper},
      odd{"odd", 7, wanted}, later{"later", 1, wanted};
  sub.children = {&deep, &later};
  app.children = {&sub, nullptr, &odd, &longer, &top};
  SourceSafeSession session;
  EXPECT_TRUE(session.CheckOut("./counter.h"));
  EXPECT_EQ(deep.checkouts, 1);
  EXPECT_EQ(top.checkouts + odd.checkouts + longer.checkouts + later.checkouts, 0);
  EXPECT_EQ(later.references, 0u);  // the search's end released what was still queued
  EXPECT_EQ(walk, (Names{"app", "sub", "odd", "longer", "top", "deep"}));
}

TEST_F(SessionTest, ThrowsEachFailureWithTheServersDescriptionUnderItsOwnMessage) {
  const std::string described = "\r\n\r\nAdditional error info:\n";
  const struct {
    const char* call;
    Fake* where;
    HRESULT supports;
    std::string expected;
  } kCases[] = {
      {"Open", &database, S_OK, kConnect + described + "Open failed\r\nComponent Error"},
      {"Open", &database, E_NOINTERFACE, kConnect + std::string("Component Error")},
      {"get_Type", &appFile, S_OK, described + "get_Type failed\r\nComponent Error"},
      {"get_Type", &appFile, S_FALSE, "Component Error"},
      {"Checkout", &appFile, S_OK, described + "Checkout failed\r\nError! Cannot checkout file."},
  };
  app.children = {&sub, &appFile};  // get_Type fails part-way through the project
  appFile.local = FullPathOf("counter.h");
  for (const auto& c : kCases) {
    c.where->failing = c.call;
    c.where->supportsErrorInfo = c.supports;
    try {
      SourceSafeSession session;
      session.CheckOut("counter.h");
      ADD_FAILURE() << c.call << " did not throw";
    } catch (ClComException* thrown) {
      EXPECT_EQ(thrown->errorCode, static_cast<DWORD>(kFailure)) << c.call;
      EXPECT_EQ(ReportOf(thrown), c.expected + kTail) << c.call;
    }
    c.where->failing.clear();
    c.where->supportsErrorInfo = S_OK;
    EXPECT_EQ(Held(), Names{}) << c.call;
  }
  // No whole-database search followed.
  EXPECT_EQ(std::count(walk.begin(), walk.end(), "$/"), 0);
}

// A session made as the check-out flow makes it; at exit it goes while COM still runs.
void ExitAfterASession() {
  static Fake database{"database", -1};
  static Fake factory{"factory", -1};
  static SourceSafeSession* session;
  factory.made = &database;
  CoInitialize(nullptr);  // only for the registration: the session keeps COM running
  DWORD cookie;
  CoRegisterClassObject(kScriptedClass, static_cast<IClassFactory*>(&factory), CLSCTX_INPROC_SERVER,
                        REGCLS_MULTIPLEUSE, &cookie);
  MapProgIdForTest("SourceSafe", &kScriptedClass);
  session = new SourceSafeSession();
  CoUninitialize();
  atexit([] {
    delete session;
    void* object = nullptr;
    const bool comUp = CoCreateInstance(GUID_NULL, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                        &object) != CO_E_NOTINITIALIZED;
    fprintf(stderr, "released=%d com=%d\n", database.references == 0, comUp);
  });
  exit(0);
}

TEST(SessionExitTest, ReleasesTheDatabaseBeforeComEnds) {
  if (!IsolateComClassesForTest()) GTEST_SKIP() << "needs the Linux layer's ProgID mapping";
  GTEST_FLAG_SET(death_test_style, "threadsafe");  // a process where COM never started
  EXPECT_EXIT(ExitAfterASession(), ::testing::ExitedWithCode(0), "released=1 com=1");
}

}  // namespace
