// Object creation for clients: ProgID and class looked up in the registry, the registered
// in-process server loaded once and asked for its class object.
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "platform/src/boundary_guard.h"
#include "platform/src/module_table.h"
#include "platform/src/text.h"

namespace {

using platform_detail::WideView;

struct ApartmentState {
  int count = 0;
  DWORD model = 0;
};
thread_local ApartmentState apartment;

// In-process servers loaded for clients; they stay loaded until CoFreeUnusedLibraries finds
// them unused.
struct ServerCache {
  std::mutex mutex;
  std::vector<std::pair<std::string, HMODULE>> servers;
};
ServerCache& Servers() {
  static ServerCache* cache = new ServerCache();  // used until exit
  return *cache;
}

HRESULT RegistryFailure(LSTATUS status, HRESULT missing) {
  if (status == ERROR_FILE_NOT_FOUND || status == ERROR_KEY_DELETED) return missing;
  if (status == ERROR_NOT_ENOUGH_MEMORY) return E_OUTOFMEMORY;
  return REGDB_E_READREGDB;
}

// The default string value of HKEY_CLASSES_ROOT\<path>.
HRESULT ReadDefaultString(const std::u16string& path, HRESULT missing, std::u16string* value) {
  HKEY key = nullptr;
  LSTATUS status = RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key);
  if (status != ERROR_SUCCESS) return RegistryFailure(status, missing);
  DWORD type = 0, size = 0;
  status = RegQueryValueExW(key, nullptr, nullptr, &type, nullptr, &size);
  std::u16string text;
  if (status == ERROR_SUCCESS && (type == REG_SZ || type == REG_EXPAND_SZ)) {
    text.resize(size / sizeof(char16_t) + 1);
    status =
        RegQueryValueExW(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(text.data()), &size);
    text.resize(WideView(text.c_str()).size());
  } else if (status == ERROR_SUCCESS) {
    status = ERROR_FILE_NOT_FOUND;
  }
  RegCloseKey(key);
  if (status != ERROR_SUCCESS) return RegistryFailure(status, missing);
  *value = std::move(text);
  return S_OK;
}

std::u16string ClassKey(REFCLSID clsid, const char16_t* sub) {
  OLECHAR text[39];
  StringFromGUID2(clsid, text, 39);
  std::u16string key = u"CLSID\\";
  key += text;
  if (sub != nullptr) (key += u"\\") += sub;
  return key;
}

HMODULE ServerModule(const std::string& path, HRESULT* hr) {
  ServerCache& cache = Servers();
  std::lock_guard<std::mutex> guard(cache.mutex);
  for (const auto& [loaded, module] : cache.servers)
    if (loaded == path) return module;
  DWORD error = 0;
  const HMODULE module = platform_detail::LoadModule(path, &error);
  if (module == nullptr) {
    *hr = CO_E_DLLNOTFOUND;
    return nullptr;
  }
  cache.servers.emplace_back(path, module);
  return module;
}

constexpr platform_detail::BoundaryGuard<HRESULT, E_OUTOFMEMORY> Guarded;

}  // namespace

HRESULT WINAPI CoInitializeEx(LPVOID, DWORD dwCoInit) {
  const DWORD model = dwCoInit & COINIT_APARTMENTTHREADED;
  if (apartment.count > 0 && apartment.model != model) return RPC_E_CHANGED_MODE;
  apartment.model = model;
  return apartment.count++ == 0 ? S_OK : S_FALSE;
}

HRESULT WINAPI CoInitialize(LPVOID pvReserved) {
  return CoInitializeEx(pvReserved, COINIT_APARTMENTTHREADED);
}

void WINAPI CoUninitialize(void) {
  if (apartment.count > 0) --apartment.count;
}

HRESULT WINAPI CLSIDFromProgID(LPCOLESTR lpszProgID, LPCLSID lpclsid) {
  if (lpszProgID == nullptr || lpclsid == nullptr) return E_INVALIDARG;
  *lpclsid = CLSID_NULL;
  return Guarded([&] {
    std::u16string text;
    const HRESULT hr = ReadDefaultString(std::u16string(WideView(lpszProgID)) + u"\\CLSID",
                                         CO_E_CLASSSTRING, &text);
    if (FAILED(hr)) return hr;
    // The registered text must be a class identifier itself, not another ProgID.
    if (text.empty() || text[0] != u'{' || FAILED(IIDFromString(text.c_str(), lpclsid))) {
      *lpclsid = CLSID_NULL;
      return CO_E_CLASSSTRING;
    }
    return S_OK;
  });
}

HRESULT WINAPI ProgIDFromCLSID(REFCLSID clsid, LPOLESTR* lplpszProgID) {
  if (lplpszProgID == nullptr) return E_INVALIDARG;
  *lplpszProgID = nullptr;
  return Guarded([&] {
    std::u16string text;
    const HRESULT hr = ReadDefaultString(ClassKey(clsid, u"ProgID"), REGDB_E_CLASSNOTREG, &text);
    if (FAILED(hr)) return hr;
    auto* copy = static_cast<LPOLESTR>(CoTaskMemAlloc((text.size() + 1) * sizeof(OLECHAR)));
    if (copy == nullptr) return E_OUTOFMEMORY;
    std::copy(text.begin(), text.end(), copy);
    copy[text.size()] = 0;
    *lplpszProgID = copy;
    return S_OK;
  });
}

HRESULT WINAPI CoGetClassObject(REFCLSID rclsid, DWORD dwClsContext, COSERVERINFO*, REFIID riid,
                                LPVOID* ppv) {
  if (ppv == nullptr) return E_INVALIDARG;
  *ppv = nullptr;
  // Only in-process servers exist on this platform.
  if (!(dwClsContext & CLSCTX_INPROC_SERVER)) return REGDB_E_CLASSNOTREG;
  return Guarded([&] {
    std::u16string path;
    HRESULT hr = ReadDefaultString(ClassKey(rclsid, u"InprocServer32"), REGDB_E_CLASSNOTREG, &path);
    if (FAILED(hr)) return hr;
    if (path.empty()) return REGDB_E_CLASSNOTREG;
    const HMODULE module = ServerModule(platform_detail::ToUtf8(path), &hr);
    if (module == nullptr) return hr;
    using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, LPVOID*);
    const auto entry = reinterpret_cast<GetClassObject>(
        platform_detail::ModuleSymbol(module, "DllGetClassObject"));
    if (entry == nullptr) return CO_E_ERRORINDLL;
    return entry(rclsid, riid, ppv);
  });
}

HRESULT WINAPI CoCreateInstance(REFCLSID rclsid, LPUNKNOWN pUnkOuter, DWORD dwClsContext,
                                REFIID riid, LPVOID* ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  IClassFactory* factory = nullptr;
  HRESULT hr = CoGetClassObject(rclsid, dwClsContext, nullptr, IID_IClassFactory,
                                reinterpret_cast<void**>(&factory));
  if (FAILED(hr)) return hr;
  hr = factory->CreateInstance(pUnkOuter, riid, ppv);
  factory->Release();
  return hr;
}

void WINAPI CoFreeUnusedLibraries(void) {
  try {
    ServerCache& cache = Servers();
    std::lock_guard<std::mutex> guard(cache.mutex);
    using CanUnloadNow = HRESULT(STDAPICALLTYPE*)();
    for (auto it = cache.servers.begin(); it != cache.servers.end();) {
      const auto canUnload = reinterpret_cast<CanUnloadNow>(
          platform_detail::ModuleSymbol(it->second, "DllCanUnloadNow"));
      if (canUnload != nullptr && canUnload() == S_OK) {
        platform_detail::FreeModule(it->second);
        it = cache.servers.erase(it);
      } else {
        ++it;
      }
    }
  } catch (const std::bad_alloc&) {
    // Nothing is freed this time.
  }
}

HRESULT WINAPI CoLockObjectExternal(LPUNKNOWN pUnk, BOOL, BOOL) {
  // There are no remote clients here whose stubs the lock would keep alive.
  return pUnk == nullptr ? E_INVALIDARG : S_OK;
}

HRESULT WINAPI CoDisconnectObject(LPUNKNOWN pUnk, DWORD) {
  return pUnk == nullptr ? E_INVALIDARG : S_OK;
}
