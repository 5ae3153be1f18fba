// The Automation objects: the tool's calls through the published slots, and their error info.
#include "automation.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "database.h"
#include "scc/sourcesafe_interfaces.h"
#include "test_support.h"
#include "text.h"

namespace {

// Calls slot `slot` of an interface's table as the client does (a member out of place shows).
template <typename... Args>
HRESULT CallSlot(void* object, int slot, Args... args) {
  using Method = HRESULT (*)(void*, Args...);
  return reinterpret_cast<Method>((*static_cast<void***>(object))[slot])(object, args...);
}

// Slots of the published type library, by interface.
enum : int { kOpen = 7, kGetCurrentProject = 11, kGetVssItem = 13 };
enum : int { kGetType = 12, kGetLocalSpec = 13, kGetItems = 19, kCheckout = 21 };
enum : int { kGetCount = 7, kGetItem = 8 };

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
  BSTR b = nullptr;
  Bstr() = default;
  explicit Bstr(const char* text) {
    WideText wide = WideFromUtf8(text);
    if (*text) b = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
  }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  ~Bstr() { SysFreeString(b); }
  std::string Text() const { return b ? Utf8FromWide(b, SysStringLen(b)) : ""; }
};

VARIANT Index(LONG value) {
  VARIANT index{};
  V_VT(&index) = VT_I4;
  V_I4(&index) = value;
  return index;
}

// Alice's current $/app (folder app/) holds project sub and aä.h; $/lib b.h and missing.h.
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
    items.Add(app, ItemType::kProject, "sub", "");
    items.Add(app, ItemType::kFile, "a\xC3\xA4.h", root.WriteReadOnly("app/a\xC3\xA4.h"));
    uint32_t lib = items.Add(0, ItemType::kProject, "lib", "");
    items.Add(lib, ItemType::kFile, "b.h", root.WriteReadOnly("lib/b.h"));
    items.Add(lib, ItemType::kFile, "missing.h", root / "lib/missing.h");
    database.Users()["alice"] = "$/app";
    ASSERT_TRUE(database.SaveItems(&failure) && database.SaveUsers(&failure));
  }
  void TearDown() override {
    CoUninitialize();
    EXPECT_EQ(0, ServerUsage()) << "an object outlived its last reference";
  }

  // The description of the thread's error info, which the tool reports.
  static std::string ErrorDescription() {
    Ref<IErrorInfo> info;
    Bstr description;
    if (GetErrorInfo(0, &info) != S_OK || !info.p) return "(no error info)";
    EXPECT_EQ(S_OK, info->GetDescription(&description.b));
    return description.Text();
  }

  // A database object, opened by alice unless told not to.
  std::shared_ptr<IVSSDatabase> NewDatabase(bool open = true) const {
    IVSSDatabase* database = nullptr;
    EXPECT_EQ(S_OK, CreateDatabaseObject(IID_IVSSDatabase, reinterpret_cast<void**>(&database)));
    if (open) {
      Bstr ini((root / "db/srcsafe.ini").c_str()), user("alice");
      EXPECT_EQ(S_OK, CallSlot(database, kOpen, ini.b, user.b, BSTR())) << ErrorDescription();
    }
    return {database, [](IVSSDatabase* p) { p->Release(); }};
  }

  static std::shared_ptr<IVSSItem> ItemAt(IVSSDatabase* database, const char* path) {
    Bstr spec(path);
    IVSSItem* found = nullptr;
    EXPECT_EQ(S_OK, CallSlot(database, kGetVssItem, spec.b, VARIANT_BOOL(0), &found)) << path;
    return {found, [](IVSSItem* p) {
              if (p) p->Release();
            }};
  }

  std::string CheckedOutBy(const char* spec) const {
    Database database(root / "db");
    Failure failure;
    EXPECT_TRUE(database.Load(true, &failure)) << failure.text;
    return database.CheckedOutBy(database.Items().Find(spec));
  }

  TemporaryFolder root;
};

TEST_F(AutomationTest, TheToolsCallsThroughThePublishedSlotsFindAndCheckOut) {
  auto database = NewDatabase();
  Bstr current;
  ASSERT_EQ(S_OK, CallSlot(database.get(), kGetCurrentProject, &current.b));
  EXPECT_EQ("$/app", current.Text());
  auto app = ItemAt(database.get(), "$/app");
  int type = -1;
  ASSERT_EQ(S_OK, CallSlot(app.get(), kGetType, &type));
  EXPECT_EQ(VSSITEM_PROJECT, type);
  Ref<IVSSItems> children;
  ASSERT_EQ(S_OK, CallSlot(app.get(), kGetItems, VARIANT_BOOL(0), &children.p));
  LONG count = -1;
  ASSERT_EQ(S_OK, CallSlot(children.p, kGetCount, &count));
  EXPECT_EQ(2, count);
  Ref<IVSSItem> file;  // the second in the order of adding
  ASSERT_EQ(S_OK, CallSlot(children.p, kGetItem, Index(2), &file.p));
  ASSERT_EQ(S_OK, CallSlot(file.p, kGetType, &type));
  EXPECT_EQ(VSSITEM_FILE, type);
  Bstr local;
  ASSERT_EQ(S_OK, CallSlot(file.p, kGetLocalSpec, &local.b));
  const std::string copy = root / "app/a\xC3\xA4.h";
  EXPECT_EQ(copy, local.Text());
  EXPECT_EQ(u'\u00E4', local.b[SysStringLen(local.b) - 3]);  // UTF-8 became UTF-16
  // The same user again (a run after a failure) gets a writable copy again.
  for (int run = 0; run < 2; ++run) {
    MakeReadOnly(copy);
    EXPECT_EQ(S_OK, CallSlot(file.p, kCheckout, BSTR(), BSTR(), LONG(0))) << ErrorDescription();
    EXPECT_TRUE(IsWritable(copy));
  }
  EXPECT_EQ("alice", CheckedOutBy("$/app/a\xC3\xA4.h"));
}

TEST_F(AutomationTest, EveryFailureSetsErrorInfoThatSaysWhatToDo) {
  auto database = NewDatabase();
  {  // bob's check-out comes after alice's view was loaded
    Database other(root / "db");
    Failure failure;
    ASSERT_TRUE(other.Lock(true, &failure) && other.Load(false, &failure));
    other.Checkouts()["$/lib/b.h"] = "bob";
    ASSERT_TRUE(other.SaveCheckouts(&failure));
  }
  auto lib = ItemAt(database.get(), "$/lib");
  Ref<IVSSItems> libItems;
  ASSERT_EQ(S_OK, lib->get_Items(0, &libItems));
  Ref<IVSSItem> none;
  auto checkOut = [&](const char* path) {
    return ItemAt(database.get(), path)->Checkout(nullptr, nullptr, 0);
  };
  const struct {
    HRESULT code;
    std::string description;
    std::function<HRESULT()> call;
  } kCases[] = {
      {kSsFileNotFound, FormatText(SS_NO_DATABASE, {root.Path(), root / "srcsafe.ini"}),
       [&] {
         Bstr ini((root / "srcsafe.ini").c_str());
         return NewDatabase(false)->Open(ini.b, nullptr, nullptr);
       }},
      {kSsItemNotFound, FormatText(SS_NOT_FOUND, {"$/app/nope.h", root / "db"}),
       [&] {
         Bstr spec("$/app/nope.h");
         return database->get_VSSItem(spec.b, 0, &none);
       }},
      {DISP_E_BADINDEX, FormatText(SS_BAD_INDEX, {"3", "2"}),
       [&] { return libItems->get_Item(Index(3), &none); }},
      {kSsCheckedOut, FormatText(SS_CHECKED_OUT_BY_OTHER, {"$/lib/b.h", "bob", "bob"}),
       [&] { return checkOut("$/lib/b.h"); }},
      {kSsFileNotFound,
       FormatText(SS_WORKING_COPY_MISSING, {root / "lib/missing.h", "$/lib/missing.h"}),
       [&] { return checkOut("$/lib/missing.h"); }},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(c.code, c.call()) << c.description;
    EXPECT_EQ(c.description, ErrorDescription());
  }
  // A refused check-out changes nothing.
  EXPECT_FALSE(IsWritable(root / "lib/b.h"));
  EXPECT_EQ("bob", CheckedOutBy("$/lib/b.h"));
  EXPECT_EQ("", CheckedOutBy("$/lib/missing.h"));
}

}  // namespace
