// ClComException where the object that failed cannot even be asked for its
// error info (its report layouts: sourcesafe_session_test's failure table).
#include "scc/com_exception.h"

#include <gtest/gtest.h>

#include <string>

namespace {

constexpr HRESULT kCode = static_cast<HRESULT>(0x8004D68F);

// An object whose QueryInterface answers `query` and gives no object.
class Broken final : public ISupportErrorInfo {
 public:
  explicit Broken(HRESULT answer) : query(answer) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** object) override {
    *object = nullptr;
    return query;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID) override { return S_OK; }

  HRESULT query;
};

std::string ReportOf(ClException* exception) {
  ClString text;
  exception->BuildReport(text);
  delete exception;
  return text.GetText();
}

TEST(ComExceptionTest, FailingQueryIsThrownInPlace) {
  for (HRESULT query : {E_FAIL, S_OK}) {  // S_OK: a broken object that gives nothing
    Broken object(query);
    try {
      throw new ClComException(kCode, &object, IID_IDispatch);
    } catch (ClComException* thrown) {
      EXPECT_EQ(thrown->errorCode, static_cast<DWORD>(FAILED(query) ? query : E_POINTER));
      EXPECT_EQ(ReportOf(thrown).rfind("Component Error\r\n\r\n", 0), 0u);  // no message of its own
    }
  }
}

}  // namespace
