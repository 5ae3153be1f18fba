// ClComException: its constructors, the fetching of the server's error
// description, and its report heading.
#include "scc/com_exception.h"

#include "errors/resource_strings.h"
#include "scc/com_holders.h"

namespace {

ClString LoadedText(UINT id) {
  ClString text;
  LoadResString(text, id);
  return text;
}

}  // namespace

ClComException::ClComException(HRESULT result) : ClWin32Exception(static_cast<DWORD>(result)) {}

ClComException::ClComException(const ClMessage& message, HRESULT result)
    : ClWin32Exception(static_cast<DWORD>(result), message) {}

ClComException::ClComException(HRESULT result, IUnknown* object, REFIID iid)
    : ClWin32Exception(static_cast<DWORD>(result), LoadedText(IDS_COMPONENT_ERROR)) {
  AddErrorInfo(object, iid);
}

ClComException::ClComException(const ClMessage& message, HRESULT result, IUnknown* object,
                               REFIID iid)
    : ClWin32Exception(static_cast<DWORD>(result), message) {
  AddErrorInfo(object, iid);
}

ClComException::~ClComException() = default;

void ClComException::Describe(ClString& text) {
  if (text.IsEmpty()) LoadResString(text, IDS_COMPONENT_ERROR);
  ClWin32Exception::Describe(text);
}

void ClComException::AddErrorInfo(IUnknown* object, REFIID iid) {
  if (!object) return;
  ClComPtr<ISupportErrorInfo, IID_ISupportErrorInfo> support;
  const HRESULT query = object->QueryInterface(IID_ISupportErrorInfo, support.ReceiveVoid());
  if (query == E_NOINTERFACE) return;
  // A query that succeeds without an object is reported as E_POINTER: its
  // own code (success) would read as no failure at all.
  if (FAILED(query)) throw new ClComException(query);
  if (!support) throw new ClComException(E_POINTER);
  if (support->InterfaceSupportsErrorInfo(iid) != S_OK) return;
  ClComPtr<IErrorInfo, IID_IErrorInfo> info;
  if (GetErrorInfo(0, info.Receive()) != S_OK || !info) return;
  ClBStr description;
  if (FAILED(info->GetDescription(description.Receive()))) return;
  // The description never replaces the failure being reported: a text that
  // cannot be converted or stored is left out.
  try {
    ClString text = LoadedText(IDS_ADDITIONAL_ERROR_INFO);
    ClString narrow;
    description.ToString(narrow);
    text.Append(VisibleText(narrow.GetText()));
    AddMessage(text);
  } catch (ClException* failure) {
    delete failure;
  }
}
