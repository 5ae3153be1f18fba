// The SourceSafe Automation interfaces that the tool calls through their
// vtables, with the slot order of the published type library: slots 0-2
// IUnknown, 3-6 IDispatch, the interface's own members from slot 7. Every
// slot is declared, used or not, so that the ones we call sit where the
// server has them.
#pragma once

#include "winapi/winapi.h"

class IVSSItem;
class IVSSItems;
class IVSSUser;
class IVSSUsers;
class IVSSCheckouts;
class IVSSVersions;

extern const IID IID_IVSSDatabase;     // the 6.0 interface; slots 7-20
extern const IID IID_IVSSDatabaseOld;  // the same first slots 7-13
extern const IID IID_IVSSItem;         // the 6.0 interface; slots 7-36
extern const IID IID_IVSSItemOld;      // the same first slots 7-34
extern const IID IID_IVSSItems;

// Item types of get_Type.
constexpr int VSSITEM_PROJECT = 0;
constexpr int VSSITEM_FILE = 1;

class IVSSDatabase : public IDispatch {
 public:
  virtual HRESULT STDMETHODCALLTYPE Open(BSTR srcSafeIni, BSTR userName, BSTR password) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_SrcSafeIni(BSTR* srcSafeIni) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_DatabaseName(BSTR* name) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Username(BSTR* userName) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_CurrentProject(BSTR* project) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_CurrentProject(BSTR project) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_VSSItem(BSTR spec, VARIANT_BOOL deleted,
                                                IVSSItem** item) = 0;
  virtual HRESULT STDMETHODCALLTYPE AddUser(BSTR user, BSTR password, VARIANT_BOOL readOnly,
                                            IVSSUser** added) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_User(BSTR name, IVSSUser** user) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Users(IVSSUsers** users) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_ProjectRightsEnabled(VARIANT_BOOL* enabled) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_ProjectRightsEnabled(VARIANT_BOOL enabled) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_DefaultProjectRights(LONG* rights) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_DefaultProjectRights(LONG rights) = 0;

 protected:
  ~IVSSDatabase() = default;  // released through Release, never deleted
};

class IVSSItem : public IDispatch {
 public:
  virtual HRESULT STDMETHODCALLTYPE get_Spec(BSTR* spec) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Binary(VARIANT_BOOL* binary) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_Binary(VARIANT_BOOL binary) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Deleted(VARIANT_BOOL* deleted) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_Deleted(VARIANT_BOOL deleted) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Type(int* type) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_LocalSpec(BSTR* local) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_LocalSpec(BSTR local) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Name(BSTR* name) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_Name(BSTR name) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Parent(IVSSItem** parent) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_VersionNumber(LONG* version) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Items(VARIANT_BOOL includeDeleted, IVSSItems** items) = 0;
  virtual HRESULT STDMETHODCALLTYPE Get(BSTR* local, LONG flags) = 0;
  virtual HRESULT STDMETHODCALLTYPE Checkout(BSTR comment, BSTR local, LONG flags) = 0;
  virtual HRESULT STDMETHODCALLTYPE Checkin(BSTR comment, BSTR local, LONG flags) = 0;
  virtual HRESULT STDMETHODCALLTYPE UndoCheckout(BSTR local, LONG flags) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_IsCheckedOut(LONG* status) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Checkouts(IVSSCheckouts** checkouts) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_IsDifferent(BSTR local, VARIANT_BOOL* different) = 0;
  virtual HRESULT STDMETHODCALLTYPE Add(BSTR local, BSTR comment, LONG flags, IVSSItem** added) = 0;
  virtual HRESULT STDMETHODCALLTYPE NewSubproject(BSTR name, BSTR comment, IVSSItem** project) = 0;
  virtual HRESULT STDMETHODCALLTYPE Share(IVSSItem* item, BSTR comment, LONG flags) = 0;
  virtual HRESULT STDMETHODCALLTYPE Destroy() = 0;
  virtual HRESULT STDMETHODCALLTYPE Move(IVSSItem* newParent) = 0;
  virtual HRESULT STDMETHODCALLTYPE Label(BSTR label, BSTR comment) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Versions(LONG flags, IVSSVersions** versions) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Version(VARIANT version, IVSSItem** item) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Links(IVSSItems** links) = 0;
  virtual HRESULT STDMETHODCALLTYPE Branch(BSTR comment, LONG flags, IVSSItem** branched) = 0;

 protected:
  ~IVSSItem() = default;  // released through Release, never deleted
};

class IVSSItems : public IDispatch {
 public:
  virtual HRESULT STDMETHODCALLTYPE get_Count(LONG* count) = 0;
  // The VARIANT is passed by value, as the type library has it.
  virtual HRESULT STDMETHODCALLTYPE get_Item(VARIANT index, IVSSItem** item) = 0;
  virtual HRESULT STDMETHODCALLTYPE _NewEnum(IUnknown** enumerator) = 0;

 protected:
  ~IVSSItems() = default;  // released through Release, never deleted
};
