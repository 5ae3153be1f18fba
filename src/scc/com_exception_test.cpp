// Tests of ClComException's reports and error-info steps, and of the COM
// holders.
#include "scc/com_exception.h"

#include <gtest/gtest.h>

#include <string>

#include "errors/resource_strings.h"
#include "scc/com_holders.h"

namespace {

// A SourceSafe code that no system describes, so the tail is fixed.
constexpr HRESULT kCode = static_cast<HRESULT>(0x8004D68F);
const char kTail[] = "\r\n\r\nWindows error code: 0x8004D68F\r\nError description unavailable.";

// An object whose answers to the error-info steps are scripted.
class Scripted final : public ISupportErrorInfo {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    *object = nullptr;
    if (riid != IID_ISupportErrorInfo && riid != IID_IUnknown) return E_NOINTERFACE;
    if (SUCCEEDED(query) && giveObject) {
      *object = this;
      AddRef();
    }
    return query;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
  ULONG STDMETHODCALLTYPE Release() override { return --references; }
  HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID) override { return supports; }

  HRESULT query = S_OK;
  bool giveObject = true;
  HRESULT supports = S_OK;
  ULONG references = 0;
};

void SetPendingErrorInfo(const WCHAR* description) {
  ICreateErrorInfo* create = nullptr;
  ASSERT_EQ(CreateErrorInfo(&create), S_OK);
  create->SetDescription(const_cast<LPOLESTR>(description));
  IErrorInfo* info = nullptr;
  create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info));
  SetErrorInfo(0, info);
  info->Release();
  create->Release();
}

bool ErrorInfoPending() {
  IErrorInfo* info = nullptr;
  if (GetErrorInfo(0, &info) != S_OK) return false;
  info->Release();
  return true;
}

std::string ReportOf(ClException* exception) {
  ClString text;
  exception->BuildReport(text);
  delete exception;
  return text.GetText();
}

TEST(ComExceptionTest, ReportsTheServerDescriptionWhereTheObjectVouchesForIt) {
  const std::string described = "\r\n\r\nAdditional error info:\nDisk on fire\r\n";
  const struct {
    const char* name;
    HRESULT query;
    HRESULT supports;
    bool checkoutMessage;
    bool connectAddedLater;
    std::string expected;
    bool infoLeftPending;
  } cases[] = {
      {"no ISupportErrorInfo", E_NOINTERFACE, S_OK, false, false, "Component Error", true},
      {"S_FALSE for the interface", S_OK, S_FALSE, false, false, "Component Error", true},
      {"described", S_OK, S_OK, false, false, described + "Component Error", false},
      {"own first message", S_OK, S_OK, true, false, described + "Error! Cannot checkout file.",
       false},
      {"caller's message on top", S_OK, S_OK, false, true,
       "Error! Cannot connect to Visual Source Safe.\r\n" + described + "Component Error", false},
  };
  for (const auto& c : cases) {
    Scripted object;
    object.query = c.query;
    object.supports = c.supports;
    SetPendingErrorInfo(WIDE("Disk on fire"));
    auto* exception = c.checkoutMessage
                          ? new ClComException(ClMessage::Reference(IDS_CANNOT_CHECKOUT), kCode,
                                               &object, IID_IDispatch)
                          : new ClComException(kCode, &object, IID_IDispatch);
    if (c.connectAddedLater) {
      ClString connect;
      LoadResString(connect, IDS_CANNOT_CONNECT_VSS);
      exception->AddMessage(connect);
    }
    EXPECT_EQ(exception->errorCode, static_cast<DWORD>(kCode)) << c.name;
    EXPECT_EQ(ReportOf(exception), c.expected + kTail) << c.name;
    EXPECT_EQ(object.references, 0u) << c.name;
    EXPECT_EQ(ErrorInfoPending(), c.infoLeftPending) << c.name;
  }
}

TEST(ComExceptionTest, FailingQueryIsThrownInPlace) {
  const struct {
    HRESULT query;
    bool giveObject;
  } cases[] = {{E_FAIL, false}, {S_OK, false}};
  for (const auto& c : cases) {
    Scripted object;
    object.query = c.query;
    object.giveObject = c.giveObject;
    try {
      throw new ClComException(kCode, &object, IID_IDispatch);
    } catch (ClComException* thrown) {
      EXPECT_EQ(thrown->errorCode, static_cast<DWORD>(c.query));
      EXPECT_EQ(thrown->messages.GetCount(), 0u);
      delete thrown;
    }
  }
}

TEST(ComExceptionTest, FormsWithoutAnObjectTakeNoDescription) {
  SetPendingErrorInfo(WIDE("not for us"));
  EXPECT_EQ(ReportOf(new ClComException(kCode)), std::string("Component Error") + kTail);
  EXPECT_EQ(
      ReportOf(new ClComException(ClMessage::Reference(IDS_COM_CHANGED_MODE), kCode)),
      std::string("Error initializing component library. (Cannot change threading mode)") + kTail);
  EXPECT_TRUE(ErrorInfoPending());
}

TEST(ComHoldersTest, OwnAndReleaseWhatTheyHold) {
  EXPECT_EQ(ClBStr(WIDE("")).Get(), nullptr);
  EXPECT_EQ(ClBStr(nullptr).Get(), nullptr);
  ClBStr text(WIDE("ab"));
  EXPECT_EQ(text.GetLength(), 2u);
  ClString narrow;
  text.ToString(narrow);
  EXPECT_STREQ(narrow.GetText(), "ab");

  Scripted object;
  {
    ClComPtr<ISupportErrorInfo, IID_ISupportErrorInfo> a, b;
    a.Attach(&object);
    EXPECT_EQ(object.references, 1u);
    a.Swap(b);
    EXPECT_EQ(a.Get(), nullptr);
    EXPECT_EQ(b.Get(), &object);
    EXPECT_EQ(object.references, 1u);
  }
  EXPECT_EQ(object.references, 0u);

  {
    ClVariant variant;
    auto& raw = const_cast<VARIANT&>(variant.Get());
    V_VT(&raw) = VT_UNKNOWN;
    raw.punkVal = &object;
    object.AddRef();
    variant.SetInt32(7);  // clears the interface first
    EXPECT_EQ(object.references, 0u);
    EXPECT_EQ(V_VT(&variant.Get()), VT_I4);
    EXPECT_EQ(V_I4(&variant.Get()), 7);
    V_VT(&raw) = VT_UNKNOWN;
    raw.punkVal = &object;
    object.AddRef();
  }
  EXPECT_EQ(object.references, 0u);  // the destructor cleared it

  ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
  const CLSID unregistered = {0x0BADC0DE, 0x1, 0x2, {3, 4, 5, 6, 7, 8, 9, 10}};
  ClComPtr<IUnknown, IID_IUnknown> created;
  try {
    created.CreateInstance(unregistered, nullptr, CLSCTX_INPROC_SERVER);
    ADD_FAILURE() << "created an unregistered class";
  } catch (ClComException* thrown) {
    EXPECT_EQ(thrown->errorCode, static_cast<DWORD>(REGDB_E_CLASSNOTREG));
    EXPECT_EQ(thrown->messages.GetCount(), 0u);
    delete thrown;
  }
  CoUninitialize();
}

}  // namespace
