// A tiny in-process server for the object-creation tests: exports DllGetClassObject and
// DllCanUnloadNow, carries component/Quorvex.idl as its type library resource and loads it from
// its own file, the way the component does.
#include "tests/platform/fake_resize.h"

namespace {

using quorvex_test::FakeResize;

volatile LONG liveObjects = 0;
volatile LONG serverLocks = 0;

ITypeInfo* ResizeTypeInfo() {
  static ITypeInfo* info = [] {
    HMODULE self = nullptr;
    GetModuleHandleExW(
        GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
        reinterpret_cast<LPCWSTR>(&ResizeTypeInfo), &self);
    OLECHAR path[MAX_PATH];
    GetModuleFileNameW(self, path, MAX_PATH);
    ITypeLib* lib = nullptr;
    ITypeInfo* found = nullptr;
    if (SUCCEEDED(LoadTypeLib(path, &lib))) {
      lib->GetTypeInfoOfGuid(IID_IResize, &found);
      lib->Release();
    }
    return found;
  }();
  return info;
}

class ServerResize final : public FakeResize {
 public:
  explicit ServerResize(ITypeInfo* info) : FakeResize(info) {
    deleteOnRelease = true;
    InterlockedIncrement(&liveObjects);
  }
  ~ServerResize() override { InterlockedDecrement(&liveObjects); }
};

class Factory final : public IClassFactory {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (riid == IID_IUnknown || riid == IID_IClassFactory) {
      *ppv = this;
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    ITypeInfo* info = ResizeTypeInfo();
    if (info == nullptr) return E_UNEXPECTED;
    auto* object = new ServerResize(info);
    const HRESULT hr = object->QueryInterface(riid, ppv);
    object->Release();
    return hr;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    const HRESULT hr = CoLockObjectExternal(this, lock, TRUE);
    if (lock) {
      InterlockedIncrement(&serverLocks);
    } else {
      InterlockedDecrement(&serverLocks);
    }
    return hr;
  }
};

Factory factory;

}  // namespace

extern "C" __attribute__((visibility("default"))) HRESULT DllGetClassObject(REFCLSID clsid,
                                                                            REFIID riid,
                                                                            void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  if (!IsEqualCLSID(clsid, CLSID_Resize)) return CLASS_E_CLASSNOTAVAILABLE;
  return factory.QueryInterface(riid, ppv);
}

extern "C" __attribute__((visibility("default"))) HRESULT DllCanUnloadNow() {
  return liveObjects == 0 && serverLocks == 0 ? S_OK : S_FALSE;
}
