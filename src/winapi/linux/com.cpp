// COM and OLE Automation basics of the Linux layer with Windows semantics:
// apartments per thread, classes found by ProgID and class id through the
// layer's registry of in-process servers (com_registry.h), BSTRs, VARIANTs
// and error info per thread.
//
// How a server finds this runtime: every executable that links the layer
// exports the COM functions and IIDs (com_exports.list). A server's shared
// object leaves them undefined; when CoCreateInstance dlopens it, the dynamic
// linker binds them to the host's, so server and host share one runtime: one
// error info per thread, one table of class objects, one BSTR allocator.
//
// Where Linux differs from Windows:
// - Nothing is marshalled: an object is used directly by whichever thread got
//   it, whatever its ThreadingModel says.
// - There is no implicit multithreaded apartment: a thread that did not call
//   CoInitialize(Ex) itself gets CO_E_NOTINITIALIZED.
// - A server stays loaded until the process ends (DllCanUnloadNow is never
//   asked). A registered .so that exists but cannot be loaded gives
//   CO_E_ERRORINDLL, like one without DllGetClassObject.
// - A registration or server that another user may change (owned by
//   neither the user nor root, or writable by everyone) gives
//   E_ACCESSDENIED: loading it would run that user's code as ours.
// - A thread's error info is released by its last CoUninitialize; a thread
//   that ends with COM started and error info pending leaks that object.
#include <dirent.h>
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "winapi/guid_text.h"
#include "winapi/linux/api.h"
#include "winapi/linux/com_registry.h"
#include "winapi/linux/last_error.h"
#include "winapi/linux/syscalls.h"
#include "winapi/safe_write.h"
#include "winapi/scoped_handle.h"

const IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_IClassFactory = {0x00000001, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_IDispatch = {0x00020400, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_ISupportErrorInfo = {
    0xDF0B3D60, 0x548F, 0x101B, {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};
const IID IID_IErrorInfo = {
    0x1CF2B120, 0x547D, 0x101B, {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};
const IID IID_ICreateErrorInfo = {
    0x22F03340, 0x547D, 0x101B, {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};
const GUID GUID_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};

namespace {

constexpr HRESULT kBadVarType = static_cast<HRESULT>(0x80020008);          // DISP_E_BADVARTYPE
constexpr HRESULT kObjectIsRegistered = static_cast<HRESULT>(0x800401FB);  // CO_E_OBJISREG
constexpr VARTYPE kVtByRef = 0x4000;
constexpr DWORD kKnownContexts =
    CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER;
constexpr DWORD kInitFlags = COINIT_APARTMENTTHREADED | 0x4u | 0x8u;  // + DISABLE_OLE1DDE, SPEED
constexpr size_t kMaxRegistrationSize = 64 * 1024;
const char kSystemFolder[] = "/etc/tickwright/com/";

// Trivially destructible on purpose: thread_local destructors run before the
// exit list, where the COM library session still calls CoUninitialize.
struct ThreadComState {
  DWORD initCount;
  bool multithreaded;
  IErrorInfo* errorInfo;
};
thread_local ThreadComState apartment;

struct ClassObject {
  DWORD cookie;
  CLSID clsid;
  IUnknown* factory;
  DWORD context;
  DWORD thread;
};

struct ProgIdMapping {
  std::string progId;
  CLSID clsid;
};

struct ProcessComState {
  std::mutex mutex;
  std::vector<ClassObject> classObjects;
  DWORD nextCookie = 1;
  std::vector<ProgIdMapping> progIds;
  // Test overrides of the two registry folders; the flags say which is set.
  bool folderOverridden[2] = {false, false};
  std::string folderOverride[2];
};

// Never destroyed: exit-time code may still create or release objects.
ProcessComState& Process() {
  static ProcessComState* const state = new ProcessComState;
  return *state;
}

HRESULT HresultFromErrno(int error) { return HRESULT_FROM_WIN32(Win32ErrorFromErrno(error)); }

// --- Class ids as text ---

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// The braced form, in either letter case, and nothing else.
bool ParseGuid(const char* text, GUID& guid) {
  static const char kShape[] = "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}";
  uint8_t bytes[16];
  int count = 0;
  for (int i = 0; kShape[i]; ++i) {
    if (kShape[i] != 'x') {
      if (text[i] != kShape[i]) return false;
      continue;
    }
    int digit = HexDigit(text[i]);
    if (digit < 0) return false;
    if (count % 2 == 0)
      bytes[count / 2] = static_cast<uint8_t>(digit << 4);
    else
      bytes[count / 2] |= static_cast<uint8_t>(digit);
    ++count;
  }
  if (text[sizeof kShape - 1] != '\0') return false;
  guid.Data1 = static_cast<uint32_t>(bytes[0]) << 24 | static_cast<uint32_t>(bytes[1]) << 16 |
               static_cast<uint32_t>(bytes[2]) << 8 | bytes[3];
  guid.Data2 = static_cast<uint16_t>(bytes[4] << 8 | bytes[5]);
  guid.Data3 = static_cast<uint16_t>(bytes[6] << 8 | bytes[7]);
  memcpy(guid.Data4, bytes + 8, 8);
  return true;
}

// --- The registry files ---

struct Registration {
  CLSID clsid;
  std::string progId;
  std::string server;
  std::string threadingModel;
  bool trusted = false;
};

// Whether a registration or a server library may be trusted with this
// process: a file that another user may change would run that user's code
// as ours (owned by us or by root, and not writable by everyone).
bool Trusted(const struct stat& st) {
  return (st.st_uid == geteuid() || st.st_uid == 0) && !(st.st_mode & S_IWOTH);
}

// The folder with its trailing '/', or "" when there is none.
std::string RegistryFolder(bool perUser) {
  {
    ProcessComState& state = Process();
    std::lock_guard<std::mutex> lock(state.mutex);
    if (state.folderOverridden[perUser]) return state.folderOverride[perUser];
  }
  if (!perUser) return kSystemFolder;
  // A relative XDG_CONFIG_HOME is invalid and ignored, as the XDG rules say.
  std::string base;
  const char* config = getenv("XDG_CONFIG_HOME");
  if (config && config[0] == '/') {
    base = config;
  } else {
    const char* home = getenv("HOME");
    if (!home || home[0] != '/') return "";
    base = home;
    base += "/.config";
  }
  return base + "/tickwright/com/";
}

std::string Trimmed(const std::string& text) {
  size_t begin = text.find_first_not_of(" \t\r");
  if (begin == std::string::npos) return "";
  size_t end = text.find_last_not_of(" \t\r");
  return text.substr(begin, end - begin + 1);
}

// A folder open for listing.
struct FolderTraits {
  using Handle = DIR*;
  static constexpr Handle kInvalid = nullptr;
  static void Close(Handle folder) {
    const int saved = errno;
    sys.closedir(folder);
    errno = saved;
  }
};
using ScopedFolder = ScopedHandle<FolderTraits>;

// False when the file cannot be read as a registration.
bool ReadRegistration(const std::string& path, Registration& out) {
  // A FIFO opens at once without waiting for a writer, and is refused below.
  ScopedFile file(sys.open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0));
  if (!file) return false;
  std::string content;
  struct stat st;
  // An empty file registers nothing: it is a registration being made.
  bool ok = sys.fstat(file.Get(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0 &&
            static_cast<size_t>(st.st_size) <= kMaxRegistrationSize;
  out.trusted = ok && Trusted(st);
  char buffer[4096];
  while (ok) {
    const ssize_t got =
        RetryOnInterrupt([&] { return sys.read(file.Get(), buffer, sizeof buffer); });
    if (got <= 0) {
      ok = got == 0;
      break;
    }
    content.append(buffer, static_cast<size_t>(got));
    ok = content.size() <= kMaxRegistrationSize;
  }
  file.Reset();
  if (!ok) return false;
  size_t start = 0;
  while (start < content.size()) {
    size_t end = content.find('\n', start);
    if (end == std::string::npos) end = content.size();
    std::string line = content.substr(start, end - start);
    start = end + 1;
    size_t equals = line.find('=');
    if (equals == std::string::npos) continue;
    std::string key = Trimmed(line.substr(0, equals));
    std::string value = Trimmed(line.substr(equals + 1));
    // Registry names ignore case.
    if (strcasecmp(key.c_str(), "ProgID") == 0)
      out.progId = value;
    else if (strcasecmp(key.c_str(), "InprocServer32") == 0)
      out.server = value;
    else if (strcasecmp(key.c_str(), "ThreadingModel") == 0)
      out.threadingModel = value;
  }
  return true;
}

// Every readable registration of the folder, in the order of the file names.
std::vector<Registration> ListRegistrations(const std::string& folder) {
  std::vector<Registration> result;
  if (folder.empty()) return result;
  ScopedFolder dir(sys.opendir(folder.c_str()));
  if (!dir) return result;
  std::vector<std::pair<std::string, CLSID>> names;
  while (dirent* entry = sys.readdir(dir.Get())) {
    CLSID clsid;
    if (ParseGuid(entry->d_name, clsid)) names.emplace_back(entry->d_name, clsid);
  }
  dir.Reset();
  std::sort(names.begin(), names.end(),
            [](const auto& a, const auto& b) { return a.first < b.first; });
  for (const auto& [name, clsid] : names) {
    Registration registration{clsid, {}, {}, {}, false};
    if (ReadRegistration(folder + name, registration)) result.push_back(registration);
  }
  return result;
}

// The names of the folder's files that hold `clsid` (whatever their case).
std::vector<std::string> ClassFileNames(const std::string& folder, REFCLSID clsid) {
  std::vector<std::string> names;
  if (folder.empty()) return names;
  ScopedFolder dir(sys.opendir(folder.c_str()));
  if (!dir) return names;
  while (dirent* entry = sys.readdir(dir.Get())) {
    CLSID found;
    if (ParseGuid(entry->d_name, found) && found == clsid) names.emplace_back(entry->d_name);
  }
  dir.Reset();
  std::sort(names.begin(), names.end());
  return names;
}

bool FindRegistration(REFCLSID clsid, Registration& out) {
  for (bool perUser : {true, false}) {
    std::string folder = RegistryFolder(perUser);
    for (const std::string& name : ClassFileNames(folder, clsid)) {
      out = Registration{clsid, {}, {}, {}, false};
      if (ReadRegistration(folder + name, out)) return true;
    }
  }
  return false;
}

bool SameProgId(const std::string& a, const std::string& b) {
  return CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, a.c_str(), static_cast<int>(a.size()),
                        b.c_str(), static_cast<int>(b.size())) == CSTR_EQUAL;
}

std::string Utf8Of(LPCOLESTR text) {
  int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 1) return "";
  std::string result(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, result.data(), size, nullptr, nullptr);
  result.resize(static_cast<size_t>(size) - 1);
  return result;
}

bool MakeFolders(const std::string& folder) {
  for (size_t slash = folder.find('/', 1); slash != std::string::npos;
       slash = folder.find('/', slash + 1)) {
    std::string part = folder.substr(0, slash);
    if (sys.mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) return false;
  }
  return true;
}

bool HasLineBreak(const char* text) { return text && strpbrk(text, "\r\n"); }

// --- Class objects ---

// The class factory of `clsid`: a class object registered in this process,
// else the server that the registry names.
HRESULT GetClassFactory(REFCLSID clsid, DWORD context, IClassFactory** factory) {
  IUnknown* registered = nullptr;
  {
    ProcessComState& state = Process();
    std::lock_guard<std::mutex> lock(state.mutex);
    for (const ClassObject& entry : state.classObjects) {
      if (entry.clsid == clsid && (entry.context & context)) {
        registered = entry.factory;
        registered->AddRef();
        break;
      }
    }
  }
  if (registered) {
    HRESULT result =
        registered->QueryInterface(IID_IClassFactory, reinterpret_cast<void**>(factory));
    registered->Release();
    return result;
  }
  if (!(context & CLSCTX_INPROC_SERVER)) return REGDB_E_CLASSNOTREG;
  Registration registration;
  if (!FindRegistration(clsid, registration) || registration.server.empty()) {
    return REGDB_E_CLASSNOTREG;
  }
  struct stat st;
  if (registration.server[0] != '/' || sys.stat(registration.server.c_str(), &st) != 0) {
    return CO_E_DLLNOTFOUND;
  }
  // dlopen would wait on a FIFO.
  if (!S_ISREG(st.st_mode)) return CO_E_ERRORINDLL;
  if (!registration.trusted || !Trusted(st)) return E_ACCESSDENIED;
  // Never closed: objects of the server may live as long as the process.
  void* module = dlopen(registration.server.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!module) return CO_E_ERRORINDLL;
  auto entry = reinterpret_cast<LPFNGETCLASSOBJECT>(dlsym(module, "DllGetClassObject"));
  if (!entry) return CO_E_ERRORINDLL;
  HRESULT result = entry(clsid, IID_IClassFactory, reinterpret_cast<void**>(factory));
  if (SUCCEEDED(result) && !*factory) return CO_E_ERRORINDLL;
  return result;
}

// --- Error info ---

class ErrorInfo final : public IErrorInfo, public ICreateErrorInfo {
 public:
  static ErrorInfo* Create() {
    void* memory = malloc(sizeof(ErrorInfo));
    return memory ? new (memory) ErrorInfo : nullptr;
  }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    if (!object) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IErrorInfo) {
      *object = static_cast<IErrorInfo*>(this);
    } else if (riid == IID_ICreateErrorInfo) {
      *object = static_cast<ICreateErrorInfo*>(this);
    } else {
      *object = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override {
    ULONG left = --references_;
    if (left == 0) {
      this->~ErrorInfo();
      free(this);
    }
    return left;
  }

  HRESULT STDMETHODCALLTYPE GetGUID(GUID* guid) override {
    if (!guid) return E_INVALIDARG;
    *guid = guid_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetSource(BSTR* source) override { return Copy(source_, source); }
  HRESULT STDMETHODCALLTYPE GetDescription(BSTR* description) override {
    return Copy(description_, description);
  }
  HRESULT STDMETHODCALLTYPE GetHelpFile(BSTR* helpFile) override {
    return Copy(helpFile_, helpFile);
  }
  HRESULT STDMETHODCALLTYPE GetHelpContext(DWORD* helpContext) override {
    if (!helpContext) return E_INVALIDARG;
    *helpContext = helpContext_;
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE SetGUID(REFGUID guid) override {
    guid_ = guid;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetSource(LPOLESTR source) override { return Store(source_, source); }
  HRESULT STDMETHODCALLTYPE SetDescription(LPOLESTR description) override {
    return Store(description_, description);
  }
  HRESULT STDMETHODCALLTYPE SetHelpFile(LPOLESTR helpFile) override {
    return Store(helpFile_, helpFile);
  }
  HRESULT STDMETHODCALLTYPE SetHelpContext(DWORD helpContext) override {
    helpContext_ = helpContext;
    return S_OK;
  }

 private:
  ErrorInfo() = default;
  ~ErrorInfo() {
    SysFreeString(source_);
    SysFreeString(description_);
    SysFreeString(helpFile_);
  }

  static HRESULT Copy(BSTR from, BSTR* to) {
    if (!to) return E_INVALIDARG;
    *to = nullptr;
    if (from && !(*to = SysAllocStringLen(from, SysStringLen(from)))) return E_OUTOFMEMORY;
    return S_OK;
  }
  static HRESULT Store(BSTR& field, LPCOLESTR text) {
    BSTR copy = SysAllocString(text);
    if (text && !copy) return E_OUTOFMEMORY;
    SysFreeString(field);
    field = copy;
    return S_OK;
  }

  std::atomic<ULONG> references_{1};
  GUID guid_ = GUID_NULL;
  BSTR source_ = nullptr;
  BSTR description_ = nullptr;
  BSTR helpFile_ = nullptr;
  DWORD helpContext_ = 0;
};

// VT_EMPTY to VT_UINT, except VT_VARIANT (by reference only) and the unused 15.
bool IsPlainVarType(VARTYPE type) { return type <= VT_UINT && type != VT_VARIANT && type != 15; }

}  // namespace

// --- Apartments ---

HRESULT WINAPI CoInitialize(LPVOID) { return CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }

HRESULT WINAPI CoInitializeEx(LPVOID reserved, DWORD coInit) {
  if (reserved || (coInit & ~kInitFlags)) return E_INVALIDARG;
  const bool multithreaded = !(coInit & COINIT_APARTMENTTHREADED);
  if (apartment.initCount > 0) {
    if (apartment.multithreaded != multithreaded) return RPC_E_CHANGED_MODE;
    ++apartment.initCount;
    return S_FALSE;
  }
  apartment.initCount = 1;
  apartment.multithreaded = multithreaded;
  return S_OK;
}

void WINAPI CoUninitialize() {
  if (apartment.initCount == 0 || --apartment.initCount > 0) return;
  // The apartment ends: its pending error info and the class objects it
  // registered go. Each is released outside the lock: a Release may call
  // back into COM.
  if (IErrorInfo* info = std::exchange(apartment.errorInfo, nullptr)) info->Release();
  const DWORD self = GetCurrentThreadId();
  for (;;) {
    IUnknown* factory = nullptr;
    {
      ProcessComState& state = Process();
      std::lock_guard<std::mutex> lock(state.mutex);
      auto& objects = state.classObjects;
      auto it = std::find_if(objects.begin(), objects.end(),
                             [self](const ClassObject& entry) { return entry.thread == self; });
      if (it == objects.end()) break;
      factory = it->factory;
      objects.erase(it);
    }
    factory->Release();
  }
}

// --- Classes ---

HRESULT WINAPI CLSIDFromProgID(LPCOLESTR progId, CLSID* clsid) {
  if (!progId || !clsid) return E_INVALIDARG;
  try {
    const std::string wanted = Utf8Of(progId);
    if (wanted.empty()) return CO_E_CLASSSTRING;
    {
      ProcessComState& state = Process();
      std::lock_guard<std::mutex> lock(state.mutex);
      for (const ProgIdMapping& mapping : state.progIds) {
        if (SameProgId(mapping.progId, wanted)) {
          *clsid = mapping.clsid;
          return S_OK;
        }
      }
    }
    for (bool perUser : {true, false}) {
      for (const Registration& registration : ListRegistrations(RegistryFolder(perUser))) {
        if (!registration.progId.empty() && SameProgId(registration.progId, wanted)) {
          *clsid = registration.clsid;
          return S_OK;
        }
      }
    }
  } catch (...) {
    return E_OUTOFMEMORY;
  }
  return CO_E_CLASSSTRING;
}

HRESULT WINAPI CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID riid,
                                LPVOID* object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  if (apartment.initCount == 0) return CO_E_NOTINITIALIZED;
  if (!(context & kKnownContexts)) return E_INVALIDARG;
  IClassFactory* factory = nullptr;
  HRESULT result;
  try {
    result = GetClassFactory(clsid, context, &factory);
  } catch (...) {
    result = E_OUTOFMEMORY;
  }
  if (FAILED(result)) return result;
  result = factory->CreateInstance(outer, riid, object);
  factory->Release();
  return result;
}

HRESULT WINAPI CoRegisterClassObject(REFCLSID clsid, IUnknown* factory, DWORD context, DWORD,
                                     LPDWORD cookie) {
  if (!cookie || !factory) return E_INVALIDARG;
  *cookie = 0;
  if (apartment.initCount == 0) return CO_E_NOTINITIALIZED;
  if (!(context & kKnownContexts)) return E_INVALIDARG;
  ProcessComState& state = Process();
  std::lock_guard<std::mutex> lock(state.mutex);
  for (const ClassObject& entry : state.classObjects) {
    if (entry.clsid == clsid) return kObjectIsRegistered;
  }
  try {
    state.classObjects.push_back(
        ClassObject{state.nextCookie, clsid, factory, context, GetCurrentThreadId()});
  } catch (...) {
    return E_OUTOFMEMORY;
  }
  factory->AddRef();
  *cookie = state.nextCookie++;
  return S_OK;
}

HRESULT WINAPI CoRevokeClassObject(DWORD cookie) {
  if (apartment.initCount == 0) return CO_E_NOTINITIALIZED;
  IUnknown* factory = nullptr;
  {
    ProcessComState& state = Process();
    std::lock_guard<std::mutex> lock(state.mutex);
    auto& objects = state.classObjects;
    auto it = std::find_if(objects.begin(), objects.end(),
                           [cookie](const ClassObject& entry) { return entry.cookie == cookie; });
    if (it == objects.end()) return E_INVALIDARG;
    factory = it->factory;
    objects.erase(it);
  }
  factory->Release();
  return S_OK;
}

// --- BSTR: a 32-bit byte count, then the characters, then a NUL ---

BSTR WINAPI SysAllocString(const OLECHAR* text) {
  if (!text) return nullptr;
  UINT length = 0;
  while (text[length]) ++length;
  return SysAllocStringLen(text, length);
}

BSTR WINAPI SysAllocStringLen(const OLECHAR* text, UINT length) {
  if (length > (UINT_MAX - sizeof(DWORD) - sizeof(OLECHAR)) / sizeof(OLECHAR)) return nullptr;
  const DWORD bytes = length * static_cast<DWORD>(sizeof(OLECHAR));
  auto* block = static_cast<char*>(malloc(sizeof(DWORD) + bytes + sizeof(OLECHAR)));
  if (!block) return nullptr;
  memcpy(block, &bytes, sizeof bytes);
  auto* chars = reinterpret_cast<BSTR>(block + sizeof(DWORD));
  if (text)
    memcpy(chars, text, bytes);
  else
    memset(chars, 0, bytes);
  chars[length] = 0;
  return chars;
}

UINT WINAPI SysStringLen(BSTR text) {
  if (!text) return 0;
  DWORD bytes;
  memcpy(&bytes, reinterpret_cast<char*>(text) - sizeof(DWORD), sizeof bytes);
  return bytes / sizeof(OLECHAR);
}

void WINAPI SysFreeString(BSTR text) {
  if (text) free(reinterpret_cast<char*>(text) - sizeof(DWORD));
}

// --- VARIANT ---

void WINAPI VariantInit(VARIANTARG* variant) {
  variant->vt = VT_EMPTY;
  variant->wReserved1 = variant->wReserved2 = variant->wReserved3 = 0;
}

// Only the types the layer knows; arrays and records give DISP_E_BADVARTYPE.
HRESULT WINAPI VariantClear(VARIANTARG* variant) {
  if (!variant) return E_INVALIDARG;
  const VARTYPE type = variant->vt;
  if (type & kVtByRef) {
    VARTYPE target = static_cast<VARTYPE>(type & ~kVtByRef);
    if (!IsPlainVarType(target) && target != VT_VARIANT) return kBadVarType;
  } else if (!IsPlainVarType(type)) {
    return kBadVarType;
  } else if (type == VT_BSTR) {
    SysFreeString(variant->bstrVal);
  } else if ((type == VT_UNKNOWN || type == VT_DISPATCH) && variant->punkVal) {
    variant->punkVal->Release();
  }
  variant->vt = VT_EMPTY;
  return S_OK;
}

// --- Error info ---

HRESULT WINAPI SetErrorInfo(ULONG reserved, IErrorInfo* info) {
  if (reserved != 0) return E_INVALIDARG;
  if (info) info->AddRef();
  if (IErrorInfo* old = std::exchange(apartment.errorInfo, info)) old->Release();
  return S_OK;
}

HRESULT WINAPI GetErrorInfo(ULONG reserved, IErrorInfo** info) {
  if (reserved != 0 || !info) return E_INVALIDARG;
  // The thread's reference goes to the caller.
  *info = std::exchange(apartment.errorInfo, nullptr);
  return *info ? S_OK : S_FALSE;
}

HRESULT WINAPI CreateErrorInfo(ICreateErrorInfo** info) {
  if (!info) return E_INVALIDARG;
  ErrorInfo* created = ErrorInfo::Create();
  *info = created;
  return created ? S_OK : E_OUTOFMEMORY;
}

// --- The registry files (com_registry.h) ---

HRESULT ComRegisterInprocServer(BOOL perUser, REFCLSID clsid, const char* progId,
                                const char* serverPath, const char* threadingModel) {
  if (!serverPath || serverPath[0] != '/' || HasLineBreak(serverPath) || HasLineBreak(progId) ||
      HasLineBreak(threadingModel)) {
    return E_INVALIDARG;
  }
  try {
    const std::string folder = RegistryFolder(perUser);
    if (folder.empty()) return HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
    std::string content;
    if (progId && *progId) content += std::string("ProgID=") + progId + "\n";
    content += std::string("InprocServer32=") + serverPath + "\n";
    content +=
        std::string("ThreadingModel=") + (threadingModel ? threadingModel : "Apartment") + "\n";
    if (!MakeFolders(folder)) return HresultFromErrno(errno);
    const std::string path = folder + GuidText(clsid);
    // A new registration is readable by all, as a registry key is, and never
    // writable by others: it is made empty (which registers nothing) with
    // that mode, which SafeWrite keeps as it fills it.
    ScopedFile file(
        sys.open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
    const bool made = static_cast<bool>(file);
    if (made) {
      const bool ok = sys.fchmod(file.Get(), 0644) == 0;
      const int error = errno;
      file.Reset();
      if (!ok) {
        sys.unlink(path.c_str());
        return HresultFromErrno(error);
      }
    } else if (errno != EEXIST) {
      return HresultFromErrno(errno);
    } else {
      // SafeWrite would write the file that a link leads to.
      struct stat st;
      if (sys.lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) return E_ACCESSDENIED;
    }
    SafeWrite write;
    if (!write.Claim(path.c_str()) || !write.Commit(content.data(), content.size())) {
      const HRESULT result = HRESULT_FROM_WIN32(GetLastError());
      if (made) sys.unlink(path.c_str());
      return result;
    }
    // Files of the same class under another letter case would shadow it.
    for (const std::string& name : ClassFileNames(folder, clsid)) {
      if (name != GuidText(clsid)) sys.unlink((folder + name).c_str());
    }
    return S_OK;
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

HRESULT ComUnregisterInprocServer(BOOL perUser, REFCLSID clsid) {
  try {
    const std::string folder = RegistryFolder(perUser);
    HRESULT result = S_FALSE;
    for (const std::string& name : ClassFileNames(folder, clsid)) {
      if (sys.unlink((folder + name).c_str()) != 0) return HresultFromErrno(errno);
      result = S_OK;
    }
    return result;
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

DWORD ComRegistryFolder(BOOL perUser, char* buffer, DWORD size) {
  try {
    const std::string folder = RegistryFolder(perUser);
    if (folder.empty() || !buffer || folder.size() + 1 > size) return 0;
    memcpy(buffer, folder.c_str(), folder.size() + 1);
    return static_cast<DWORD>(folder.size());
  } catch (...) {
    return 0;
  }
}

void RegisterProgIdInProcess(const char* progId, REFCLSID clsid) {
  RevokeProgIdInProcess(progId);
  ProcessComState& state = Process();
  std::lock_guard<std::mutex> lock(state.mutex);
  state.progIds.push_back(ProgIdMapping{progId, clsid});
}

void RevokeProgIdInProcess(const char* progId) {
  ProcessComState& state = Process();
  std::lock_guard<std::mutex> lock(state.mutex);
  std::erase_if(state.progIds, [progId](const ProgIdMapping& mapping) {
    return SameProgId(mapping.progId, progId);
  });
}

void SetComRegistryFolder(bool perUser, const char* folder) {
  ProcessComState& state = Process();
  std::lock_guard<std::mutex> lock(state.mutex);
  state.folderOverridden[perUser] = folder != nullptr;
  state.folderOverride[perUser] = folder ? folder : "";
}
