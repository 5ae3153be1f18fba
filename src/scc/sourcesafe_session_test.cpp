// Tests of SourceSafeSession against a scripted server registered in-process
// under "SourceSafe": connecting, the breadth-first walk, the check-out, and
// every failure the session reports.
#include "scc/sourcesafe_session.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/file.h"
#include "scc/com_exception.h"
#include "scc/com_library.h"
#include "winapi/com_test_hooks.h"

namespace {

const CLSID kScriptedClass = {
    0x4C0A7F3E, 0x51B2, 0x4E6D, {0xA3, 0x0F, 0x9B, 0x12, 0x6E, 0x44, 0xD8, 0x27}};
constexpr HRESULT kFailure = static_cast<HRESULT>(0x8004D75B);  // no system text anywhere
const char kTail[] = "\r\n\r\nWindows error code: 0x8004D75B\r\nError description unavailable.";

using WString = std::basic_string<WCHAR>;

std::vector<std::string> walk;  // items in the order their type was asked

#define NOT_USED(signature) \
  HRESULT STDMETHODCALLTYPE signature override { return E_NOTIMPL; }

// One scripted node: the database, a project (its own child collection too)
// or a file. A call named in `failures` fails with error info
// "<call> failed".
class Fake final : public IVSSDatabase,
                   public IVSSItem,
                   public IVSSItems,
                   public ISupportErrorInfo {
 public:
  Fake(std::string itemName, int itemType, WString localSpec = WString())
      : name(std::move(itemName)), type(itemType), local(std::move(localSpec)) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    *object = nullptr;
    if (riid == IID_IUnknown || riid == IID_IVSSDatabase)
      *object = static_cast<IVSSDatabase*>(this);
    else if (riid == IID_IVSSItem)
      *object = static_cast<IVSSItem*>(this);
    else if (riid == IID_IVSSItems)
      *object = static_cast<IVSSItems*>(this);
    else if (riid == IID_ISupportErrorInfo && supportsErrorInfo != E_NOINTERFACE)
      *object = static_cast<ISupportErrorInfo*>(this);
    else
      return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
  ULONG STDMETHODCALLTYPE Release() override { return --references; }
  HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID) override {
    return supportsErrorInfo;
  }

  // clang-format off
  NOT_USED(GetTypeInfoCount(UINT*)); NOT_USED(GetTypeInfo(UINT, LCID, ITypeInfo**));
  NOT_USED(GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*));
  NOT_USED(Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*));
  // clang-format on

  HRESULT STDMETHODCALLTYPE Open(BSTR ini, BSTR user, BSTR password) override {
    ++opens;
    EXPECT_TRUE(!ini && !user && !password);
    return Result("Open");
  }
  HRESULT STDMETHODCALLTYPE get_CurrentProject(BSTR* project) override {
    *project = SysAllocString(currentProject.c_str());
    return Result("get_CurrentProject");
  }
  HRESULT STDMETHODCALLTYPE get_VSSItem(BSTR spec, VARIANT_BOOL deleted, IVSSItem** item) override {
    EXPECT_EQ(deleted, VARIANT_FALSE);
    *item = nullptr;
    auto found = items.find(spec ? spec : WIDE(""));
    if (found == items.end()) return E_INVALIDARG;
    if (HRESULT failure = Result("get_VSSItem")) return failure;
    if (!found->second) return S_OK;  // a broken server: success without an item
    return found->second->QueryInterface(IID_IVSSItem, reinterpret_cast<void**>(item));
  }
  // clang-format off
  NOT_USED(get_SrcSafeIni(BSTR*)); NOT_USED(get_DatabaseName(BSTR*)); NOT_USED(get_Username(BSTR*));
  NOT_USED(put_CurrentProject(BSTR)); NOT_USED(AddUser(BSTR, BSTR, VARIANT_BOOL, IVSSUser**));
  NOT_USED(get_User(BSTR, IVSSUser**)); NOT_USED(get_Users(IVSSUsers**));
  NOT_USED(get_ProjectRightsEnabled(VARIANT_BOOL*));
  NOT_USED(put_ProjectRightsEnabled(VARIANT_BOOL)); NOT_USED(get_DefaultProjectRights(LONG*));
  NOT_USED(put_DefaultProjectRights(LONG));
  // clang-format on

  HRESULT STDMETHODCALLTYPE get_Type(int* itemType) override {
    EXPECT_EQ(*itemType, -1);
    walk.push_back(name);
    *itemType = type;
    return Result("get_Type");
  }
  HRESULT STDMETHODCALLTYPE get_LocalSpec(BSTR* spec) override {
    *spec = SysAllocString(local.c_str());
    return Result("get_LocalSpec");
  }
  HRESULT STDMETHODCALLTYPE get_Items(VARIANT_BOOL includeDeleted,
                                      IVSSItems** collection) override {
    EXPECT_EQ(includeDeleted, VARIANT_FALSE);
    *collection = nullptr;
    if (HRESULT failure = Result("get_Items")) return failure;
    return QueryInterface(IID_IVSSItems, reinterpret_cast<void**>(collection));
  }
  HRESULT STDMETHODCALLTYPE Checkout(BSTR comment, BSTR localPath, LONG flags) override {
    EXPECT_TRUE(!comment && !localPath && flags == 0);
    if (HRESULT failure = Result("Checkout")) return failure;
    ++checkouts;
    return S_OK;
  }
  // clang-format off
  NOT_USED(get_Spec(BSTR*)); NOT_USED(get_Binary(VARIANT_BOOL*));
  NOT_USED(put_Binary(VARIANT_BOOL));
  NOT_USED(get_Deleted(VARIANT_BOOL*)); NOT_USED(put_Deleted(VARIANT_BOOL));
  NOT_USED(put_LocalSpec(BSTR)); NOT_USED(get_Name(BSTR*)); NOT_USED(put_Name(BSTR));
  NOT_USED(get_Parent(IVSSItem**)); NOT_USED(get_VersionNumber(LONG*)); NOT_USED(Get(BSTR*, LONG));
  NOT_USED(Checkin(BSTR, BSTR, LONG)); NOT_USED(UndoCheckout(BSTR, LONG));
  NOT_USED(get_IsCheckedOut(LONG*)); NOT_USED(get_Checkouts(IVSSCheckouts**));
  NOT_USED(get_IsDifferent(BSTR, VARIANT_BOOL*)); NOT_USED(Add(BSTR, BSTR, LONG, IVSSItem**));
  NOT_USED(NewSubproject(BSTR, BSTR, IVSSItem**)); NOT_USED(Share(IVSSItem*, BSTR, LONG));
  NOT_USED(Destroy()); NOT_USED(Move(IVSSItem*)); NOT_USED(Label(BSTR, BSTR));
  NOT_USED(get_Versions(LONG, IVSSVersions**)); NOT_USED(get_Version(VARIANT, IVSSItem**));
  NOT_USED(get_Links(IVSSItems**)); NOT_USED(Branch(BSTR, LONG, IVSSItem**));
  // clang-format on

  HRESULT STDMETHODCALLTYPE get_Count(LONG* count) override {
    *count = static_cast<LONG>(children.size());
    return Result("get_Count");
  }
  HRESULT STDMETHODCALLTYPE get_Item(VARIANT index, IVSSItem** child) override {
    *child = nullptr;
    EXPECT_EQ(V_VT(&index), VT_I4);
    if (HRESULT failure = Result("get_Item")) return failure;
    Fake* wanted = children.at(static_cast<size_t>(V_I4(&index) - 1));  // 1-based
    return wanted ? wanted->QueryInterface(IID_IVSSItem, reinterpret_cast<void**>(child)) : S_OK;
  }
  // clang-format off
  NOT_USED(_NewEnum(IUnknown**));
  // clang-format on
#undef NOT_USED

  std::string name;
  int type;
  WString local;
  std::vector<Fake*> children;     // null children allowed
  WString currentProject;          // database only
  std::map<WString, Fake*> items;  // database only: by path
  std::map<std::string, HRESULT> failures;
  HRESULT supportsErrorInfo = S_OK;  // E_NOINTERFACE: not offered
  int opens = 0;
  int checkouts = 0;
  ULONG references = 0;

 private:
  HRESULT Result(const char* call) {
    auto found = failures.find(call);
    if (found == failures.end()) return S_OK;
    ICreateErrorInfo* create = nullptr;
    CreateErrorInfo(&create);
    WString text(call, call + strlen(call));
    text += WIDE(" failed");
    create->SetDescription(const_cast<LPOLESTR>(text.c_str()));
    IErrorInfo* info = nullptr;
    create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info));
    SetErrorInfo(0, info);
    info->Release();
    create->Release();
    return found->second;
  }
};

class Factory final : public IClassFactory {
 public:
  explicit Factory(Fake* made) : database(made) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    *object = riid == IID_IUnknown || riid == IID_IClassFactory ? this : nullptr;
    return *object ? S_OK : E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown*, REFIID riid, void** object) override {
    ++created;
    *object = nullptr;
    return giveNothing ? S_OK : database->QueryInterface(riid, object);
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

  Fake* database;
  int created = 0;
  bool giveNothing = false;  // a broken server: success without an object
};

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

// The database "$/" holds the current project "$/app" (with "app.h" and the
// project "sub") and "$/lib" (with "lib.h"); no file is "counter.h" until a
// test says so.
class SessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!IsolateComClassesForTest()) {
      GTEST_SKIP() << "Windows keeps ProgIDs in its registry only; the scripted server needs the "
                      "Linux layer's in-process ProgID mapping";
    }
    walk.clear();
    root.children = {&app, &lib};
    app.children = {&appFile, &sub};
    lib.children = {&libFile};
    database.currentProject = WIDE("$/app");
    database.items = {{WIDE("$/"), &root}, {WIDE("$/app"), &app}};
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    ASSERT_EQ(CoRegisterClassObject(kScriptedClass, &factory, CLSCTX_INPROC_SERVER,
                                    REGCLS_MULTIPLEUSE, &cookie),
              S_OK);
    MapProgIdForTest("SourceSafe", &kScriptedClass);
    testing::internal::CaptureStdout();
    capturing = started = true;
  }
  void TearDown() override {
    if (!started) return;
    Output();
    MapProgIdForTest("SourceSafe", nullptr);
    CoRevokeClassObject(cookie);
    CoUninitialize();
  }

  // What the session printed so far, once.
  std::string Output() {
    if (capturing) output = testing::internal::GetCapturedStdout();
    capturing = false;
    return output;
  }

  // Every object of the server was released.
  bool AllReleased() const {
    for (const Fake* fake : {&database, &root, &app, &lib, &appFile, &sub, &libFile}) {
      if (fake->references != 0) return false;
    }
    return true;
  }

  Fake database{"database", -1};
  Fake root{"$/", 0}, app{"app", 0}, lib{"lib", 0}, sub{"sub", 0};
  Fake appFile{"app.h", 1, WIDE("/elsewhere/app.h")}, libFile{"lib.h", 1, WIDE("/elsewhere/lib.h")};
  Factory factory{&database};
  DWORD cookie = 0;
  bool started = false;
  bool capturing = false;
  std::string output;
};

const char kCurrentLine[] = "Current VSS project: $/app\r\n";
const char kWarningLine[] =
    "Warning! Cannot find build count file in current VSS project.\n"
    "Continue with full VSS database search...\r\n";

TEST_F(SessionTest, FindsTheFileInTheCurrentProjectFirst) {
  Fake counter{"counter.h", 1, FullPathOf("counter.h")};
  sub.children = {&counter};
  {
    SourceSafeSession session;
    EXPECT_TRUE(session.CheckOut("counter.h"));
  }
  EXPECT_EQ(counter.checkouts, 1);
  EXPECT_EQ(Output(), kCurrentLine);
  EXPECT_EQ(walk, (std::vector<std::string>{"app", "app.h", "sub", "counter.h"}));
  EXPECT_TRUE(AllReleased() && counter.references == 0);
}

TEST_F(SessionTest, SearchesTheWholeDatabaseAfterTheCurrentProject) {
  Fake counter{"counter.h", 1, FullPathOf("counter.h")};
  lib.children = {&libFile, &counter};
  SourceSafeSession session;
  EXPECT_TRUE(session.CheckOut("counter.h"));
  EXPECT_EQ(counter.checkouts, 1);
  EXPECT_EQ(Output(), std::string(kCurrentLine) + kWarningLine);
  EXPECT_EQ(walk, (std::vector<std::string>{"app", "app.h", "sub", "$/", "app", "lib", "app.h",
                                            "sub", "lib.h", "counter.h"}));
}

TEST_F(SessionTest, ReportsAFileFoundNowhereAndConnectsOnce) {
  SourceSafeSession session;
  EXPECT_FALSE(session.CheckOut("counter.h"));
  for (const Fake* item : {&root, &app, &lib, &appFile, &sub, &libFile}) {
    EXPECT_EQ(item->references, 0u) << item->name;  // nothing left queued
  }
  EXPECT_FALSE(session.CheckOut("other.h"));
  const std::string lines = std::string(kCurrentLine) + kWarningLine;
  EXPECT_EQ(Output(), lines + lines);
  EXPECT_EQ(database.opens, 1);
  EXPECT_EQ(factory.created, 1);
}

TEST_F(SessionTest, TakesTheFirstMatchLevelByLevelSkippingNullAndOtherItems) {
  const WString wanted = FullPathOf("counter.h");
  Fake deep{"deep", 1, wanted}, top{"top", 1, wanted}, odd{"odd", 7, wanted};
  sub.children = {&deep};
  app.children = {&sub, nullptr, &odd, &top};
  SourceSafeSession session;
  EXPECT_TRUE(session.CheckOut("counter.h"));
  EXPECT_EQ(top.checkouts, 1);
  EXPECT_EQ(deep.checkouts + odd.checkouts, 0);
  EXPECT_EQ(walk, (std::vector<std::string>{"app", "sub", "odd", "top"}));
}

TEST_F(SessionTest, SurvivesAServerThatSucceedsWithoutAnObject) {
  Fake counter{"counter.h", 1, FullPathOf("counter.h")};
  lib.children = {&counter};
  database.items[WIDE("$/app")] = nullptr;  // walked as an empty project
  {
    SourceSafeSession session;
    EXPECT_TRUE(session.CheckOut("counter.h"));
  }
  EXPECT_EQ(Output(), std::string("Current VSS project: $/app\r\n") + kWarningLine);

  factory.giveNothing = true;
  try {
    SourceSafeSession session;
    ADD_FAILURE() << "connected without a database object";
  } catch (ClComException* thrown) {
    EXPECT_EQ(thrown->errorCode, static_cast<DWORD>(E_POINTER));
    EXPECT_EQ(ReportOf(thrown).rfind("Error! Cannot connect to Visual Source Safe.\r\n", 0), 0u);
  }
}

TEST_F(SessionTest, MatchesFullPathsIgnoringCaseOnly) {
  const WString full = FullPathOf("counter.h");
  WString otherSeparator = full;
  otherSeparator[full.rfind(WIDE('/'))] = WIDE('\\');
  const struct {
    const char* fileName;
    WString local;
    bool matches;
  } cases[] = {
      {"counter.h", full, true},
      {"./COUNTER.H", full, true},
      {"counter.h", otherSeparator, false},
      {"counter.h", full + WIDE(" "), false},
      {"counter", full, false},
  };
  for (const auto& c : cases) {
    Fake counter{"counter.h", 1, c.local};
    app.children = {&counter};
    database.items[WIDE("$/")] = &app;  // keep the second search short
    SourceSafeSession session;
    EXPECT_EQ(session.CheckOut(c.fileName), c.matches) << c.fileName;
    EXPECT_EQ(counter.checkouts, c.matches ? 1 : 0) << c.fileName;
  }
}

TEST_F(SessionTest, ThrowsEveryServerFailureWithItsDescription) {
  const std::string described = "\r\n\r\nAdditional error info:\n";
  const std::string connect = "Error! Cannot connect to Visual Source Safe.\r\n";
  const struct {
    const char* call;
    Fake* where;
    HRESULT supports;
    std::string expected;
  } cases[] = {
      {"Open", &database, S_OK, connect + described + "Open failed\r\nComponent Error"},
      {"Open", &database, E_NOINTERFACE, connect + "Component Error"},
      {"get_CurrentProject", &database, S_OK,
       described + "get_CurrentProject failed\r\nComponent Error"},
      {"get_VSSItem", &database, S_OK, described + "get_VSSItem failed\r\nComponent Error"},
      {"get_Type", &appFile, S_OK, described + "get_Type failed\r\nComponent Error"},
      {"get_Type", &appFile, S_FALSE, "Component Error"},
      {"get_Items", &sub, S_OK, described + "get_Items failed\r\nComponent Error"},
      {"get_LocalSpec", &appFile, S_OK, described + "get_LocalSpec failed\r\nComponent Error"},
      {"get_Count", &app, S_OK, described + "get_Count failed\r\nComponent Error"},
      {"get_Item", &app, S_OK, described + "get_Item failed\r\nComponent Error"},
      {"Checkout", &appFile, S_OK, described + "Checkout failed\r\nError! Cannot checkout file."},
  };
  app.children = {&sub, &appFile};
  appFile.local = FullPathOf("counter.h");
  for (const auto& c : cases) {
    Fake& failing = *c.where;
    failing.failures = {{c.call, kFailure}};
    failing.supportsErrorInfo = c.supports;
    try {
      SourceSafeSession session;
      session.CheckOut("counter.h");
      ADD_FAILURE() << c.call << " did not throw";
    } catch (ClComException* thrown) {
      EXPECT_EQ(thrown->errorCode, static_cast<DWORD>(kFailure)) << c.call;
      EXPECT_EQ(ReportOf(thrown), c.expected + kTail) << c.call;
    }
    failing.failures.clear();
    failing.supportsErrorInfo = S_OK;
    EXPECT_TRUE(AllReleased()) << c.call;
  }
  // Every failure stopped the walk in the current project.
  EXPECT_EQ(Output().find("Warning!"), std::string::npos);
}

TEST_F(SessionTest, WithoutARegisteredClassReportsTheLookupFailure) {
  MapProgIdForTest("SourceSafe", nullptr);
  try {
    SourceSafeSession session;
    ADD_FAILURE() << "connected without a class";
  } catch (ClComException* thrown) {
    ClString systemText;
    AppendSystemErrorText(systemText, thrown->errorCode);
    EXPECT_EQ(thrown->errorCode, static_cast<DWORD>(CO_E_CLASSSTRING));
    EXPECT_EQ(ReportOf(thrown), std::string("Error! Cannot connect to Visual Source Safe.\r\n\r\n"
                                            "System reports:\r\n") +
                                    systemText.GetText());
  }
}

// Makes a session as the check-out flow does, then exits: the session's end
// is registered after the COM library's, which its construction registered,
// so at exit it releases the database while COM still runs.
void ExitAfterASession() {
  static Fake database{"database", -1};
  static Factory factory{&database};
  static SourceSafeSession* session;
  ClComLibrary::Ensure();
  DWORD cookie;
  CoRegisterClassObject(kScriptedClass, &factory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE,
                        &cookie);
  MapProgIdForTest("SourceSafe", &kScriptedClass);
  session = new SourceSafeSession();
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
