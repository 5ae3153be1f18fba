// SourceSafeSession: connecting to the database, and the breadth-first search
// for the file item whose working copy is a given local file.
#include "scc/sourcesafe_session.h"

#include "base/file.h"
#include "console/console_print.h"
#include "errors/resource_strings.h"
#include "scc/com_library.h"

namespace {

// The class contexts the server may be found in: in-process server or
// handler, or local server.
constexpr DWORD kServerContexts =
    CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER;

void PrintLine(const ClString& text) { ConsolePrint(text, false); }

}  // namespace

SourceSafeSession::SourceSafeSession() {
  ClComLibrary::Ensure();
  try {
    CLSID clsid;
    HRESULT result = CLSIDFromProgID(WIDE("SourceSafe"), &clsid);
    if (FAILED(result)) throw new ClComException(result);
    database.CreateInstance(clsid, nullptr, kServerContexts);
    // A server that reports success without an object is no server.
    if (!database) throw new ClComException(E_POINTER);
    result = database->Open(nullptr, nullptr, nullptr);
    if (FAILED(result)) throw new ClComException(result, database.Get(), IID_IVSSDatabase);
  } catch (ClException* failure) {
    ClString text;
    LoadResString(text, IDS_CANNOT_CONNECT_VSS);
    failure->AddMessage(text);
    throw;
  }
}

SourceSafeSession::~SourceSafeSession() {
  searchQueue.Empty();
  wantedPath.Empty();
  database.Reset();
}

bool SourceSafeSession::CheckOut(const ClString& fileName, UINT notInProject) {
  struct SearchEnd {
    SourceSafeSession* session;
    ~SearchEnd() { session->EndSearch(); }
  } searchEnd{this};

  ClString fullPath;
  GetFullPath(fullPath, fileName.GetText());
  wantedPath.AssignFromNarrow(fullPath.GetText(), static_cast<int>(fullPath.GetLength()),
                              conversionCodePage);

  {
    ClBStr project;
    const HRESULT result = database->get_CurrentProject(project.Receive());
    if (FAILED(result)) throw new ClComException(result, database.Get(), IID_IVSSDatabase);
    ClString narrow;
    project.ToString(narrow);
    ClString line;
    FormatResString(line, IDS_CURRENT_VSS_PROJECT, VisibleText(narrow.GetText()).GetText());
    PrintLine(line);
    if (Search(project.Get())) return true;
  }

  ClString warning;
  LoadResString(warning, notInProject);
  PrintLine(warning);
  // The whole database, the current project's items included once more.
  ClBStr root(WIDE("$/"));
  return Search(root.Get());
}

bool SourceSafeSession::Search(BSTR path) {
  ClVssItemPtr item;
  const HRESULT result = database->get_VSSItem(path, VARIANT_FALSE, item.Receive());
  if (FAILED(result)) throw new ClComException(result, database.Get(), IID_IVSSDatabase);
  // Success without an item is treated like a null child: nothing to walk.
  if (item) searchQueue.Append(item);
  while (!searchQueue.IsEmpty()) {
    if (SearchStep()) return true;
  }
  return false;
}

bool SourceSafeSession::SearchStep() {
  ClVssItemPtr item;
  searchQueue.TakeHead(item);

  int type = -1;
  HRESULT result = item->get_Type(&type);
  if (FAILED(result)) throw new ClComException(result, item.Get(), IID_IVSSItem);

  if (type == VSSITEM_PROJECT) {
    ClComPtr<IVSSItems, IID_IVSSItems> children;
    result = item->get_Items(VARIANT_FALSE, children.Receive());
    if (FAILED(result)) throw new ClComException(result, item.Get(), IID_IVSSItem);
    if (!children) return false;
    LONG count = 0;
    result = children->get_Count(&count);
    if (FAILED(result)) throw new ClComException(result, children.Get(), IID_IVSSItems);
    // Unsigned, as the count is taken; counted so that a count of 0xFFFFFFFF
    // cannot wrap the index round for ever.
    const ULONG total = static_cast<ULONG>(count);
    ClVariant index;
    for (ULONG done = 0; done < total; ++done) {
      index.SetInt32(static_cast<LONG>(done + 1));
      ClVssItemPtr child;
      result = children->get_Item(index.Get(), child.Receive());
      if (FAILED(result)) throw new ClComException(result, children.Get(), IID_IVSSItems);
      if (child) searchQueue.Append(child);
    }
    return false;
  }

  if (type != VSSITEM_FILE) return false;
  ClBStr localPath;
  result = item->get_LocalSpec(localPath.Receive());
  if (FAILED(result)) throw new ClComException(result, item.Get(), IID_IVSSItem);
  const WCHAR* local = localPath.Get() ? localPath.Get() : WIDE("");
  if (CompareStringW(LOCALE_USER_DEFAULT, kPathCompareFlags, local,
                     static_cast<int>(localPath.GetLength()), wantedPath.GetText(),
                     static_cast<int>(wantedPath.GetLength())) != CSTR_EQUAL) {
    return false;
  }
  result = item->Checkout(nullptr, nullptr, 0);
  if (FAILED(result)) {
    throw new ClComException(ClMessage::Reference(IDS_CANNOT_CHECKOUT), result, item.Get(),
                             IID_IVSSItem);
  }
  return true;
}

void SourceSafeSession::EndSearch() {
  searchQueue.Empty();
  wantedPath.Empty();
}
