// Tests of ClComException: its report layouts and the steps that fetch the
// server's description.
#include "scc/com_exception.h"

#include <gtest/gtest.h>

#include <string>

#include "errors/resource_strings.h"

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

std::string ReportOf(ClException* exception) {
  ClString text;
  exception->BuildReport(text);
  delete exception;
  return text.GetText();
}

TEST(ComExceptionTest, ReportsTheServerDescriptionWhereTheObjectVouchesForIt) {
  const std::string described = "\r\n\r\nAdditional error info:\nDisk on fire\r\n";
  const struct {
    HRESULT query;
    HRESULT supports;
    bool checkoutMessage;    // string 13 in place of "Component Error"
    bool connectAddedLater;  // string 10 added by the caller
    std::string expected;
  } kCases[] = {
      {E_NOINTERFACE, S_OK, false, false, "Component Error"},
      {S_OK, S_FALSE, false, false, "Component Error"},
      {S_OK, S_OK, true, false, described + "Error! Cannot checkout file."},
      {S_OK, S_OK, false, true,
       "Error! Cannot connect to Visual Source Safe.\r\n" + described + "Component Error"},
  };
  for (const auto& c : kCases) {
    Scripted object;
    object.query = c.query;
    object.supports = c.supports;
    ICreateErrorInfo* create = nullptr;
    IErrorInfo* info = nullptr;
    ASSERT_EQ(CreateErrorInfo(&create), S_OK);
    create->SetDescription(const_cast<LPOLESTR>(WIDE("Disk on fire")));
    create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info));
    SetErrorInfo(0, info);
    info->Release();
    create->Release();
    auto* exception = c.checkoutMessage
                          ? new ClComException(ClMessage::Reference(IDS_CANNOT_CHECKOUT), kCode,
                                               &object, IID_IDispatch)
                          : new ClComException(kCode, &object, IID_IDispatch);
    if (c.connectAddedLater) exception->AddMessage(ClMessage::Reference(IDS_CANNOT_CONNECT_VSS));
    EXPECT_EQ(exception->errorCode, static_cast<DWORD>(kCode)) << c.expected;
    EXPECT_EQ(ReportOf(exception), c.expected + kTail);
    EXPECT_EQ(object.references, 0u) << c.expected;
    SetErrorInfo(0, nullptr);
  }
}

TEST(ComExceptionTest, FailingQueryIsThrownInPlace) {
  for (HRESULT query : {E_FAIL, S_OK}) {  // S_OK: a broken object that gives nothing
    Scripted object;
    object.query = query;
    object.giveObject = false;
    try {
      throw new ClComException(kCode, &object, IID_IDispatch);
    } catch (ClComException* thrown) {
      EXPECT_EQ(thrown->errorCode, static_cast<DWORD>(FAILED(query) ? query : E_POINTER));
      EXPECT_EQ(ReportOf(thrown).rfind("Component Error\r\n\r\n", 0), 0u);  // no message of its own
    }
  }
}

}  // namespace
