// Tests of the Automation objects through their interface tables: the
// published slots, the interfaces each object answers, and the error info
// that every failure leaves.
#include "automation.h"

#include <gtest/gtest.h>

#include <functional>

#include "database.h"
#include "scc/sourcesafe_interfaces.h"
#include "test_support.h"
#include "text.h"

namespace {

// Calls slot `slot` of an interface's table as the client does, so that a
// member declared out of place is caught.
template <typename... Args>
HRESULT CallSlot(void* object, int slot, Args... args) {
  using Method = HRESULT (*)(void*, Args...);
  return reinterpret_cast<Method>((*static_cast<void***>(object))[slot])(object, args...);
}

// Slots of the published type library.
enum : int {
  kOpen = 7,
  kGetCurrentProject = 11,
  kGetVssItem = 13,
  kGetType = 12,
  kGetLocalSpec = 13,
  kGetItems = 19,
  kCheckout = 21,
  kGetCount = 7,
  kGetItem = 8,
};

// One reference, released at the end of the scope.
template <typename T>
struct Ref {
  T* p = nullptr;
  Ref() = default;
  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;
  ~Ref() {
    if (p) p->Release();
  }
  T** operator&() { return &p; }
  T* operator->() const { return p; }
};

struct Bstr {
  BSTR b;
  explicit Bstr(const char* text) {
    WideText wide = WideFromUtf8(text);
    b = *text ? SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size())) : nullptr;
  }
  Bstr() : b(nullptr) {}
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  ~Bstr() { SysFreeString(b); }
  std::string Text() const { return b ? Utf8FromWide(b, SysStringLen(b)) : ""; }
};

VARIANT Index(LONG value) {
  VARIANT index;
  VariantInit(&index);
  index.vt = VT_I4;
  index.lVal = value;
  return index;
}

class AutomationTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    Failure failure;
    ASSERT_TRUE(Database::Create(root / "db", &failure)) << failure.text;
    Database database(root / "db");
    ASSERT_TRUE(database.Lock(true, &failure) && database.Load(false, &failure));
    Catalog& items = database.Items();
    uint32_t app = items.Add(0, ItemType::kProject, "app", root / "app");
    uint32_t sub = items.Add(app, ItemType::kProject, "sub", root / "app/sub");
    items.Add(sub, ItemType::kFile, "s.h", File("app/sub/s.h"));
    items.Add(app, ItemType::kFile, "a.h", File("app/a.h"));
    uint32_t lib = items.Add(0, ItemType::kProject, "lib", "");
    items.Add(lib, ItemType::kFile, "b.h", File("lib/b.h"));
    items.Add(lib, ItemType::kFile, "missing.h", root / "lib/missing.h");
    database.Checkouts()["$/lib/b.h"] = "bob";
    database.Users()["alice"] = "$/app";
    ASSERT_TRUE(database.SaveItems(&failure) && database.SaveCheckouts(&failure) &&
                database.SaveUsers(&failure));
    ClearErrorInfo();
  }
  void TearDown() override {
    ClearErrorInfo();
    CoUninitialize();
    EXPECT_EQ(0, ServerUsage()) << "an object outlived its last reference";
  }

  std::string File(const char* name) {
    std::string path = root.WriteFile(name, "// 1\n");
    MakeReadOnly(path);
    return path;
  }

  static void ClearErrorInfo() {
    IErrorInfo* info = nullptr;
    if (GetErrorInfo(0, &info) == S_OK && info) info->Release();
  }

  // The thread's error info, which must be there and name `iid`.
  static std::string ErrorDescription(REFIID iid) {
    Ref<IErrorInfo> info;
    if (GetErrorInfo(0, &info) != S_OK || !info.p) return "(no error info)";
    GUID guid;
    Bstr source, description;
    EXPECT_EQ(S_OK, info->GetGUID(&guid));
    EXPECT_TRUE(IsEqualGUID(iid, guid));
    EXPECT_EQ(S_OK, info->GetSource(&source.b));
    EXPECT_EQ("SourceSafe", source.Text());
    EXPECT_EQ(S_OK, info->GetDescription(&description.b));
    return description.Text();
  }

  static void OpenDatabase(Ref<IVSSDatabase>& database) {
    ASSERT_EQ(S_OK, CreateDatabaseObject(IID_IVSSDatabase, reinterpret_cast<void**>(&database)));
    ASSERT_EQ(S_OK, CallSlot(database.p, kOpen, BSTR(), BSTR(), BSTR()))
        << ErrorDescription(IID_IVSSDatabase);
  }

  TemporaryFolder root;
  ScopedEnvironment ssdir{"SSDIR", (root / "db").c_str()};
  ScopedEnvironment ssuser{"SSUSER", "alice"};
};

TEST_F(AutomationTest, TheToolsWalkThroughThePublishedSlotsFindsAndChecksOut) {
  Ref<IVSSDatabase> database;
  OpenDatabase(database);
  Bstr current;
  ASSERT_EQ(S_OK, CallSlot(database.p, kGetCurrentProject, &current.b));
  EXPECT_EQ("$/app", current.Text());

  // Breadth-first from the root, as the tool searches.
  Bstr rootSpec("$/");
  std::vector<IVSSItem*> queue;
  ASSERT_EQ(S_OK, CallSlot(database.p, kGetVssItem, rootSpec.b, VARIANT_BOOL(0),
                           reinterpret_cast<IVSSItem**>(&queue.emplace_back())));
  std::vector<std::string> files;
  IVSSItem* wanted = nullptr;
  for (size_t next = 0; next < queue.size(); ++next) {
    IVSSItem* item = queue[next];
    int type = -1;
    ASSERT_EQ(S_OK, CallSlot(item, kGetType, &type));
    if (type == VSSITEM_FILE) {
      Bstr local;
      ASSERT_EQ(S_OK, CallSlot(item, kGetLocalSpec, &local.b));
      files.push_back(local.Text());
      if (local.Text() == root / "app/a.h") wanted = item;
      continue;
    }
    ASSERT_EQ(VSSITEM_PROJECT, type);
    Ref<IVSSItems> children;
    ASSERT_EQ(S_OK, CallSlot(item, kGetItems, VARIANT_BOOL(0), &children.p));
    LONG count = -1;
    ASSERT_EQ(S_OK, CallSlot(children.p, kGetCount, &count));
    for (LONG i = 1; i <= count; ++i) {
      ASSERT_EQ(S_OK, CallSlot(children.p, kGetItem, Index(i), &queue.emplace_back()));
    }
  }
  EXPECT_EQ((std::vector<std::string>{root / "app/a.h", root / "lib/b.h", root / "lib/missing.h",
                                      root / "app/sub/s.h"}),
            files);
  ASSERT_NE(nullptr, wanted);
  EXPECT_EQ(S_OK, CallSlot(wanted, kCheckout, BSTR(), BSTR(), LONG(0)))
      << ErrorDescription(IID_IVSSItem);
  EXPECT_TRUE(IsWritable(root / "app/a.h"));
  for (IVSSItem* item : queue) item->Release();

  Database after(root / "db");
  Failure failure;
  ASSERT_TRUE(after.Load(true, &failure));
  EXPECT_EQ("alice", after.CheckedOutBy(after.Items().Find("$/app/a.h")));
}

TEST_F(AutomationTest, EachObjectAnswersItsOwnInterfacesAndErrorInfoForThem) {
  Ref<IVSSDatabase> database;
  OpenDatabase(database);
  Bstr spec("$/app");
  Ref<IVSSItem> item;
  ASSERT_EQ(S_OK, database->get_VSSItem(spec.b, 0, &item));
  Ref<IVSSItems> items;
  ASSERT_EQ(S_OK, item->get_Items(0, &items));

  const struct {
    IUnknown* object;
    const IID* own[2];
    const IID* foreign;
  } cases[] = {
      {database.p, {&IID_IVSSDatabase, &IID_IVSSDatabaseOld}, &IID_IVSSItem},
      {item.p, {&IID_IVSSItem, &IID_IVSSItemOld}, &IID_IVSSDatabase},
      {items.p, {&IID_IVSSItems, &IID_IVSSItems}, &IID_IVSSItemOld},
  };
  for (const auto& c : cases) {
    void* primary = nullptr;
    ASSERT_EQ(S_OK, c.object->QueryInterface(*c.own[0], &primary));
    static_cast<IUnknown*>(primary)->Release();
    for (const IID* iid : {c.own[1], &kIidUnknown, &kIidDispatch}) {
      void* same = nullptr;
      ASSERT_EQ(S_OK, c.object->QueryInterface(*iid, &same));
      EXPECT_EQ(primary, same);
      static_cast<IUnknown*>(same)->Release();
    }
    void* none = reinterpret_cast<void*>(1);
    EXPECT_EQ(E_NOINTERFACE, c.object->QueryInterface(*c.foreign, &none));
    EXPECT_EQ(nullptr, none);

    Ref<ISupportErrorInfo> support;
    ASSERT_EQ(S_OK,
              c.object->QueryInterface(kIidSupportErrorInfo, reinterpret_cast<void**>(&support)));
    EXPECT_EQ(S_OK, support->InterfaceSupportsErrorInfo(*c.own[0]));
    EXPECT_EQ(S_OK, support->InterfaceSupportsErrorInfo(*c.own[1]));
    EXPECT_EQ(S_FALSE, support->InterfaceSupportsErrorInfo(*c.foreign));
  }
}

TEST_F(AutomationTest, EveryFailureSetsErrorInfoThatSaysWhatToDo) {
  Ref<IVSSDatabase> database;
  OpenDatabase(database);
  auto item = [&](const char* path) {
    Bstr spec(path);
    IVSSItem* found = nullptr;
    EXPECT_EQ(S_OK, database->get_VSSItem(spec.b, 0, &found)) << path;
    return std::shared_ptr<IVSSItem>(found, [](IVSSItem* p) {
      if (p) p->Release();
    });
  };
  auto children = item("$/lib");
  Ref<IVSSItems> libItems;
  ASSERT_EQ(S_OK, children->get_Items(0, &libItems));

  const struct {
    const char* what;
    HRESULT code;
    const IID* iid;
    std::string description;
    std::function<HRESULT()> call;
  } cases[] = {
      {"no SSDIR", kSsFileNotFound, &IID_IVSSDatabase, ServerText(SS_NO_SSDIR),
       [&] {
         ScopedEnvironment unset("SSDIR", nullptr);
         Ref<IVSSDatabase> other;
         CreateDatabaseObject(IID_IVSSDatabase, reinterpret_cast<void**>(&other));
         return other->Open(nullptr, nullptr, nullptr);
       }},
      {"no database", kSsFileNotFound, &IID_IVSSDatabase,
       FormatText(SS_NO_DATABASE, {root.Path(), root / "srcsafe.ini"}),
       [&] {
         Ref<IVSSDatabase> other;
         CreateDatabaseObject(IID_IVSSDatabase, reinterpret_cast<void**>(&other));
         Bstr ini((root / "srcsafe.ini").c_str());
         return other->Open(ini.b, nullptr, nullptr);
       }},
      {"not open", E_UNEXPECTED, &IID_IVSSDatabase, ServerText(SS_NOT_OPEN),
       [&] {
         Ref<IVSSDatabase> other;
         CreateDatabaseObject(IID_IVSSDatabase, reinterpret_cast<void**>(&other));
         Bstr project;
         return other->get_CurrentProject(&project.b);
       }},
      {"unknown path", kSsItemNotFound, &IID_IVSSDatabase,
       FormatText(SS_NOT_FOUND, {"$/app/nope.h", root / "db"}),
       [&] {
         Bstr spec("$/app/nope.h");
         Ref<IVSSItem> found;
         return database->get_VSSItem(spec.b, 0, &found);
       }},
      {"no SourceSafe path", kSsItemNotFound, &IID_IVSSDatabase, FormatText(SS_BAD_SPEC, {"app"}),
       [&] {
         Bstr spec("app");
         Ref<IVSSItem> found;
         return database->get_VSSItem(spec.b, 0, &found);
       }},
      {"children of a file", E_INVALIDARG, &IID_IVSSItem,
       FormatText(SS_NOT_A_PROJECT, {"$/lib/b.h"}),
       [&] {
         Ref<IVSSItems> none;
         return item("$/lib/b.h")->get_Items(0, &none);
       }},
      {"index 0", DISP_E_BADINDEX, &IID_IVSSItems, FormatText(SS_BAD_INDEX, {"0", "2"}),
       [&] {
         Ref<IVSSItem> none;
         return libItems->get_Item(Index(0), &none);
       }},
      {"index past the count", DISP_E_BADINDEX, &IID_IVSSItems,
       FormatText(SS_BAD_INDEX, {"3", "2"}),
       [&] {
         Ref<IVSSItem> none;
         return libItems->get_Item(Index(3), &none);
       }},
      {"index not a number", DISP_E_TYPEMISMATCH, &IID_IVSSItems,
       FormatText(SS_BAD_INDEX_TYPE, {"8"}),
       [&] {
         VARIANT name = Index(1);
         name.vt = VT_BSTR;
         name.bstrVal = nullptr;
         Ref<IVSSItem> none;
         return libItems->get_Item(name, &none);
       }},
      {"held by another user", kSsCheckedOut, &IID_IVSSItem,
       FormatText(SS_CHECKED_OUT_BY_OTHER, {"$/lib/b.h", "bob", "bob"}),
       [&] { return item("$/lib/b.h")->Checkout(nullptr, nullptr, 0); }},
      {"working copy missing", kSsFileNotFound, &IID_IVSSItem,
       FormatText(SS_WORKING_COPY_MISSING, {root / "lib/missing.h", "$/lib/missing.h"}),
       [&] { return item("$/lib/missing.h")->Checkout(nullptr, nullptr, 0); }},
      {"project check-out", E_NOTIMPL, &IID_IVSSItem, FormatText(SS_PROJECT_CHECKOUT, {"$/lib"}),
       [&] { return item("$/lib")->Checkout(nullptr, nullptr, 0); }},
      {"member not served", E_NOTIMPL, &IID_IVSSItem,
       FormatText(SS_NOT_SUPPORTED, {"IVSSItem::get_Spec"}),
       [&] {
         Bstr spec;
         return item("$/lib")->get_Spec(&spec.b);
       }},
      {"no place for the result", E_POINTER, &IID_IVSSItem,
       FormatText(SS_NULL_POINTER, {"IVSSItem::get_Type"}),
       [&] { return item("$/lib")->get_Type(nullptr); }},
      {"late binding", E_NOTIMPL, &kIidDispatch,
       FormatText(SS_NOT_SUPPORTED, {"IDispatch::Invoke"}),
       [&] { return database->Invoke(0, kIidUnknown, 0, 0, nullptr, nullptr, nullptr, nullptr); }},
  };
  for (const auto& c : cases) {
    ClearErrorInfo();
    EXPECT_EQ(c.code, c.call()) << c.what;
    EXPECT_EQ(c.description, ErrorDescription(*c.iid)) << c.what;
  }
  EXPECT_FALSE(IsWritable(root / "lib/b.h"));
}

TEST_F(AutomationTest, ItemsKeepTheDatabaseAliveAndOpenTakesTheGivenUser) {
  Ref<IVSSItem> file;
  {
    Ref<IVSSDatabase> database;
    ASSERT_EQ(S_OK, CreateDatabaseObject(IID_IVSSDatabaseOld, reinterpret_cast<void**>(&database)));
    Bstr ini((root / "db/srcsafe.ini").c_str()), user("carol"), spec("$/app/a.h");
    ASSERT_EQ(S_OK, database->Open(ini.b, user.b, nullptr));
    Bstr current;
    ASSERT_EQ(S_OK, database->get_CurrentProject(&current.b));
    EXPECT_EQ("$/", current.Text());  // carol never chose one
    ASSERT_EQ(S_OK, database->get_VSSItem(spec.b, 0, &file));
  }
  Bstr local;
  ASSERT_EQ(S_OK, file->get_LocalSpec(&local.b));
  EXPECT_EQ(root / "app/a.h", local.Text());
  ASSERT_EQ(S_OK, file->Checkout(nullptr, local.b, 0));
  Database after(root / "db");
  Failure failure;
  ASSERT_TRUE(after.Load(true, &failure));
  EXPECT_EQ("carol", after.CheckedOutBy(after.Items().Find("$/app/a.h")));
}

}  // namespace
