// The Automation objects over the database. Calls come from one apartment
// thread; only the usage count is shared with the server's entry points.
#include "automation.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <new>
#include <vector>

#include "checkout.h"
#include "database.h"
#include "scc/sourcesafe_interfaces.h"
#include "text.h"

const IID kIidUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID kIidDispatch = {0x00020400, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID kIidSupportErrorInfo = {
    0xDF0B3D60, 0x548F, 0x101B, {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};
const IID kIidErrorInfo = {
    0x1CF2B120, 0x547D, 0x101B, {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};
const IID kIidClassFactory = {0x00000001, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

namespace {

std::atomic<long> usage{0};

// What the objects of one Open share: the loaded database and the user.
struct Session {
  explicit Session(const std::string& folder) : database(folder) {}
  Database database;
  std::string user;
};

std::string FromBstr(BSTR text) { return text ? Utf8FromWide(text, SysStringLen(text)) : ""; }

HRESULT ToBstr(std::string_view text, BSTR* result) {
  // Paths are mostly ASCII: those are widened in place, with no copy between.
  bool ascii = true;
  for (char c : text) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
  if (ascii) {
    *result = SysAllocStringLen(nullptr, static_cast<UINT>(text.size()));
    if (*result) std::copy(text.begin(), text.end(), *result);
  } else {
    WideText wide = WideFromUtf8(text);
    *result = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
  }
  return *result ? S_OK : E_OUTOFMEMORY;
}

// Runs a member's body: a null result pointer and a failed allocation are
// reported like any other failure.
template <typename Body>
HRESULT Guarded(REFIID iid, const char* member, const void* result, Body body) {
  if (!result) return ReportFailure(iid, E_POINTER, FormatText(SS_NULL_POINTER, {member}));
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return ReportFailure(iid, E_OUTOFMEMORY, FormatText(SS_OUT_OF_MEMORY, {member}));
  }
}

HRESULT NotSupported(REFIID iid, const char* member) {
  return ReportFailure(iid, E_NOTIMPL, FormatText(SS_NOT_SUPPORTED, {member}));
}

HRESULT Fail(REFIID iid, const Failure& failure) {
  return ReportFailure(iid, failure.code, failure.text);
}

// Reference counting and the IDispatch members, which this server does not
// serve (clients call through the interface tables).
template <typename Interface>
class Object : public Interface, public ISupportErrorInfo {
 public:
  Object() { AddServerUsage(1); }
  virtual ~Object() { AddServerUsage(-1); }
  Object(const Object&) = delete;
  Object& operator=(const Object&) = delete;

  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++references_); }
  ULONG STDMETHODCALLTYPE Release() override {
    ULONG left = static_cast<ULONG>(--references_);
    if (left == 0) delete this;
    return left;
  }
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (IsEqualGUID(riid, kIidSupportErrorInfo)) {
      *object = static_cast<ISupportErrorInfo*>(this);
    } else if (IsEqualGUID(riid, kIidUnknown) || IsEqualGUID(riid, kIidDispatch) || Answers(riid)) {
      *object = static_cast<Interface*>(this);
    } else {
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID riid) override {
    return Answers(riid) || IsEqualGUID(riid, kIidDispatch) ? S_OK : S_FALSE;
  }

  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    if (!count) return E_POINTER;
    *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override {
    return NotSupported(kIidDispatch, "IDispatch::GetTypeInfo");
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
    return NotSupported(kIidDispatch, "IDispatch::GetIDsOfNames");
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                   UINT*) override {
    return NotSupported(kIidDispatch, "IDispatch::Invoke");
  }

 protected:
  // The interface ids this object answers besides IUnknown and IDispatch.
  virtual bool Answers(REFIID riid) const = 0;

 private:
  long references_ = 1;
};

class ItemObject;

// A project's children as they were when the collection was made.
class ItemsObject final : public Object<IVSSItems> {
 public:
  ItemsObject(std::shared_ptr<Session> session, std::vector<uint32_t> children)
      : session_(std::move(session)), children_(std::move(children)) {}

  HRESULT STDMETHODCALLTYPE get_Count(LONG* count) override {
    return Guarded(IID_IVSSItems, "IVSSItems::get_Count", count, [&] {
      *count = static_cast<LONG>(children_.size());
      return S_OK;
    });
  }
  HRESULT STDMETHODCALLTYPE get_Item(VARIANT index, IVSSItem** item) override;
  HRESULT STDMETHODCALLTYPE _NewEnum(IUnknown**) override {
    return NotSupported(IID_IVSSItems, "IVSSItems::_NewEnum");
  }

 protected:
  bool Answers(REFIID riid) const override { return IsEqualGUID(riid, IID_IVSSItems); }

 private:
  std::shared_ptr<Session> session_;
  std::vector<uint32_t> children_;
};

class ItemObject final : public Object<IVSSItem> {
 public:
  ItemObject(std::shared_ptr<Session> session, uint32_t index)
      : session_(std::move(session)), index_(index) {}

  HRESULT STDMETHODCALLTYPE get_Type(int* type) override {
    return Guarded(IID_IVSSItem, "IVSSItem::get_Type", type, [&] {
      *type = static_cast<int>(Get().type);
      return S_OK;
    });
  }
  HRESULT STDMETHODCALLTYPE get_LocalSpec(BSTR* local) override {
    return Guarded(IID_IVSSItem, "IVSSItem::get_LocalSpec", local, [&] {
      HRESULT result = ToBstr(Get().local, local);
      if (FAILED(result)) throw std::bad_alloc();
      return result;
    });
  }
  HRESULT STDMETHODCALLTYPE get_Items(VARIANT_BOOL includeDeleted, IVSSItems** items) override {
    return Guarded(IID_IVSSItem, "IVSSItem::get_Items", items, [&] {
      *items = nullptr;
      if (includeDeleted) return NotSupported(IID_IVSSItem, "IVSSItem::get_Items(IncludeDeleted)");
      if (Get().type != ItemType::kProject) {
        return ReportFailure(IID_IVSSItem, E_INVALIDARG,
                             FormatText(SS_NOT_A_PROJECT, {Get().spec}));
      }
      *items = new ItemsObject(session_, session_->database.Items().Children(index_));
      return S_OK;
    });
  }
  HRESULT STDMETHODCALLTYPE Checkout(BSTR comment, BSTR local, LONG flags) override;

  // The members the tool does not call.
  HRESULT STDMETHODCALLTYPE get_Spec(BSTR*) override { return No("get_Spec"); }
  HRESULT STDMETHODCALLTYPE get_Binary(VARIANT_BOOL*) override { return No("get_Binary"); }
  HRESULT STDMETHODCALLTYPE put_Binary(VARIANT_BOOL) override { return No("put_Binary"); }
  HRESULT STDMETHODCALLTYPE get_Deleted(VARIANT_BOOL*) override { return No("get_Deleted"); }
  HRESULT STDMETHODCALLTYPE put_Deleted(VARIANT_BOOL) override { return No("put_Deleted"); }
  HRESULT STDMETHODCALLTYPE put_LocalSpec(BSTR) override { return No("put_LocalSpec"); }
  HRESULT STDMETHODCALLTYPE get_Name(BSTR*) override { return No("get_Name"); }
  HRESULT STDMETHODCALLTYPE put_Name(BSTR) override { return No("put_Name"); }
  HRESULT STDMETHODCALLTYPE get_Parent(IVSSItem**) override { return No("get_Parent"); }
  HRESULT STDMETHODCALLTYPE get_VersionNumber(LONG*) override { return No("get_VersionNumber"); }
  HRESULT STDMETHODCALLTYPE Get(BSTR*, LONG) override { return No("Get"); }
  HRESULT STDMETHODCALLTYPE Checkin(BSTR, BSTR, LONG) override { return No("Checkin"); }
  HRESULT STDMETHODCALLTYPE UndoCheckout(BSTR, LONG) override { return No("UndoCheckout"); }
  HRESULT STDMETHODCALLTYPE get_IsCheckedOut(LONG*) override { return No("get_IsCheckedOut"); }
  HRESULT STDMETHODCALLTYPE get_Checkouts(IVSSCheckouts**) override { return No("get_Checkouts"); }
  HRESULT STDMETHODCALLTYPE get_IsDifferent(BSTR, VARIANT_BOOL*) override {
    return No("get_IsDifferent");
  }
  HRESULT STDMETHODCALLTYPE Add(BSTR, BSTR, LONG, IVSSItem**) override { return No("Add"); }
  HRESULT STDMETHODCALLTYPE NewSubproject(BSTR, BSTR, IVSSItem**) override {
    return No("NewSubproject");
  }
  HRESULT STDMETHODCALLTYPE Share(IVSSItem*, BSTR, LONG) override { return No("Share"); }
  HRESULT STDMETHODCALLTYPE Destroy() override { return No("Destroy"); }
  HRESULT STDMETHODCALLTYPE Move(IVSSItem*) override { return No("Move"); }
  HRESULT STDMETHODCALLTYPE Label(BSTR, BSTR) override { return No("Label"); }
  HRESULT STDMETHODCALLTYPE get_Versions(LONG, IVSSVersions**) override {
    return No("get_Versions");
  }
  HRESULT STDMETHODCALLTYPE get_Version(VARIANT, IVSSItem**) override { return No("get_Version"); }
  HRESULT STDMETHODCALLTYPE get_Links(IVSSItems**) override { return No("get_Links"); }
  HRESULT STDMETHODCALLTYPE Branch(BSTR, LONG, IVSSItem**) override { return No("Branch"); }

 protected:
  bool Answers(REFIID riid) const override {
    return IsEqualGUID(riid, IID_IVSSItem) || IsEqualGUID(riid, IID_IVSSItemOld);
  }

 private:
  const Item& Get() const { return session_->database.Items().At(index_); }
  static HRESULT No(const char* member) {
    return NotSupported(IID_IVSSItem, (std::string("IVSSItem::") + member).c_str());
  }

  std::shared_ptr<Session> session_;
  uint32_t index_;
};

HRESULT ItemsObject::get_Item(VARIANT index, IVSSItem** item) {
  return Guarded(IID_IVSSItems, "IVSSItems::get_Item", item, [&] {
    *item = nullptr;
    long long number;
    switch (index.vt) {
      case VT_I4:
        number = index.lVal;
        break;
      case VT_I2:
        number = index.iVal;
        break;
      case VT_INT:
        number = index.intVal;
        break;
      case VT_UI4:
        number = index.ulVal;
        break;
      default:
        return ReportFailure(IID_IVSSItems, DISP_E_TYPEMISMATCH,
                             FormatText(SS_BAD_INDEX_TYPE, {std::to_string(index.vt)}));
    }
    if (number < 1 || number > static_cast<long long>(children_.size())) {
      return ReportFailure(
          IID_IVSSItems, DISP_E_BADINDEX,
          FormatText(SS_BAD_INDEX, {std::to_string(number), std::to_string(children_.size())}));
    }
    *item = new ItemObject(session_, children_[static_cast<size_t>(number - 1)]);
    return S_OK;
  });
}

HRESULT ItemObject::Checkout(BSTR comment, BSTR local, LONG flags) {
  (void)comment;  // the journal keeps no comments
  (void)flags;    // no content store: there is nothing to fetch or compare
  return Guarded(IID_IVSSItem, "IVSSItem::Checkout", this, [&] {
    const Item& item = Get();
    if (item.type != ItemType::kFile) {
      return ReportFailure(IID_IVSSItem, E_NOTIMPL, FormatText(SS_PROJECT_CHECKOUT, {item.spec}));
    }
    std::string target = FromBstr(local);
    if (!target.empty() && FullPath(target) != item.local) {
      return ReportFailure(IID_IVSSItem, E_INVALIDARG,
                           FormatText(SS_OTHER_LOCAL_PATH, {item.spec, item.local, target}));
    }
    Failure failure;
    if (!CheckOutFile(session_->database, index_, session_->user, &failure)) {
      return Fail(IID_IVSSItem, failure);
    }
    return S_OK;
  });
}

class DatabaseObject final : public Object<IVSSDatabase> {
 public:
  HRESULT STDMETHODCALLTYPE Open(BSTR srcSafeIni, BSTR userName, BSTR password) override {
    (void)password;  // the database keeps no passwords
    return Guarded(IID_IVSSDatabase, "IVSSDatabase::Open", this, [&] {
      Failure failure;
      std::string folder, user;
      if (!SelectDatabaseFolder(FromBstr(srcSafeIni), &folder, &failure) ||
          !SelectUser(FromBstr(userName), &user, &failure)) {
        return Fail(IID_IVSSDatabase, failure);
      }
      auto session = std::make_shared<Session>(folder);
      session->user = user;
      if (!session->database.Load(true, &failure)) return Fail(IID_IVSSDatabase, failure);
      session->database.Journal(user, "open", "$/");
      session_ = std::move(session);
      return S_OK;
    });
  }
  HRESULT STDMETHODCALLTYPE get_CurrentProject(BSTR* project) override {
    return Guarded(IID_IVSSDatabase, "IVSSDatabase::get_CurrentProject", project, [&] {
      *project = nullptr;
      if (!session_) return NotOpen();
      HRESULT result = ToBstr(session_->database.CurrentProject(session_->user), project);
      if (FAILED(result)) throw std::bad_alloc();
      return result;
    });
  }
  HRESULT STDMETHODCALLTYPE get_VSSItem(BSTR spec, VARIANT_BOOL deleted, IVSSItem** item) override {
    return Guarded(IID_IVSSDatabase, "IVSSDatabase::get_VSSItem", item, [&] {
      *item = nullptr;
      if (!session_) return NotOpen();
      if (deleted) return NotSupported(IID_IVSSDatabase, "IVSSDatabase::get_VSSItem(Deleted)");
      std::string path = FromBstr(spec);
      if (path.substr(0, 2) != "$/") {
        return ReportFailure(IID_IVSSDatabase, kSsItemNotFound, FormatText(SS_BAD_SPEC, {path}));
      }
      uint32_t index = session_->database.Items().Find(path);
      if (index == kNoItem) {
        return ReportFailure(IID_IVSSDatabase, kSsItemNotFound,
                             FormatText(SS_NOT_FOUND, {path, session_->database.Folder()}));
      }
      *item = new ItemObject(session_, index);
      return S_OK;
    });
  }

  HRESULT STDMETHODCALLTYPE get_SrcSafeIni(BSTR*) override { return No("get_SrcSafeIni"); }
  HRESULT STDMETHODCALLTYPE get_DatabaseName(BSTR*) override { return No("get_DatabaseName"); }
  HRESULT STDMETHODCALLTYPE get_Username(BSTR*) override { return No("get_Username"); }
  HRESULT STDMETHODCALLTYPE put_CurrentProject(BSTR) override { return No("put_CurrentProject"); }
  HRESULT STDMETHODCALLTYPE AddUser(BSTR, BSTR, VARIANT_BOOL, IVSSUser**) override {
    return No("AddUser");
  }
  HRESULT STDMETHODCALLTYPE get_User(BSTR, IVSSUser**) override { return No("get_User"); }
  HRESULT STDMETHODCALLTYPE get_Users(IVSSUsers**) override { return No("get_Users"); }
  HRESULT STDMETHODCALLTYPE get_ProjectRightsEnabled(VARIANT_BOOL*) override {
    return No("get_ProjectRightsEnabled");
  }
  HRESULT STDMETHODCALLTYPE put_ProjectRightsEnabled(VARIANT_BOOL) override {
    return No("put_ProjectRightsEnabled");
  }
  HRESULT STDMETHODCALLTYPE get_DefaultProjectRights(LONG*) override {
    return No("get_DefaultProjectRights");
  }
  HRESULT STDMETHODCALLTYPE put_DefaultProjectRights(LONG) override {
    return No("put_DefaultProjectRights");
  }

 protected:
  bool Answers(REFIID riid) const override {
    return IsEqualGUID(riid, IID_IVSSDatabase) || IsEqualGUID(riid, IID_IVSSDatabaseOld);
  }

 private:
  static HRESULT No(const char* member) {
    return NotSupported(IID_IVSSDatabase, (std::string("IVSSDatabase::") + member).c_str());
  }
  static HRESULT NotOpen() {
    return ReportFailure(IID_IVSSDatabase, E_UNEXPECTED, ServerText(SS_NOT_OPEN));
  }

  std::shared_ptr<Session> session_;
};

}  // namespace

HRESULT CreateDatabaseObject(REFIID riid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  DatabaseObject* database = new (std::nothrow) DatabaseObject();
  if (!database) return E_OUTOFMEMORY;
  HRESULT result = database->QueryInterface(riid, object);
  database->Release();
  return result;
}

long ServerUsage() { return usage.load(); }

void AddServerUsage(long change) { usage += change; }

HRESULT ReportFailure(REFIID iid, HRESULT code, const std::string& description) {
  ICreateErrorInfo* create = nullptr;
  if (FAILED(CreateErrorInfo(&create)) || !create) return code;
  WideText source = WideFromUtf8(kServerProgId);
  WideText text = WideFromUtf8(description);
  create->SetGUID(iid);
  create->SetSource(source.data());
  create->SetDescription(text.data());
  IErrorInfo* info = nullptr;
  if (SUCCEEDED(create->QueryInterface(kIidErrorInfo, reinterpret_cast<void**>(&info))) && info) {
    SetErrorInfo(0, info);
    info->Release();
  }
  create->Release();
  return code;
}
