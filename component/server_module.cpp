// The module's four exported entry points and its start-up: the server object and the class
// factory of Resize, created on the first call into the module.
#include <atomic>
#include <memory>
#include <mutex>

#include "comserver/class_factory.h"
#include "comserver/com_server.h"
#include "component/quorvex_interface.h"
#include "component/resize_object.h"

#if defined(_WIN32) || defined(QUORVEX_WINDOWS_HEADERS)
#define QUORVEX_EXPORT
#else
#define QUORVEX_EXPORT __attribute__((visibility("default")))
#endif

extern "C" QUORVEX_EXPORT HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID rclsid, REFIID riid,
                                                                   LPVOID* ppv);
extern "C" QUORVEX_EXPORT HRESULT STDAPICALLTYPE DllCanUnloadNow();
extern "C" QUORVEX_EXPORT HRESULT STDAPICALLTYPE DllRegisterServer();
extern "C" QUORVEX_EXPORT HRESULT STDAPICALLTYPE DllUnregisterServer();

namespace quorvex {
namespace {

struct ServerModule {
  std::unique_ptr<TComServer> server;
  std::unique_ptr<TAutoObjectFactory> resizeFactory;
};

HMODULE ThisModule() {
  HMODULE module = nullptr;
  GetModuleHandleExW(
      GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
      reinterpret_cast<LPCWSTR>(&DllGetClassObject), &module);
  return module;
}

// Start-up runs on the first call rather than while the loader holds its lock. When it fails
// there is no class factory and the entry point reports that; the next call tries again, so that
// a start-up that met a passing shortage (memory, file handles) does not disable the module for
// the life of the process, while missing or inconsistent type information fails every time.
// Null until start-up has succeeded.
ServerModule* Module() {
  static ServerModule module;
  static std::mutex starting;
  static std::atomic<bool> started{false};
  if (started.load(std::memory_order_acquire)) return &module;
  const std::lock_guard<std::mutex> lock(starting);
  if (started.load(std::memory_order_relaxed)) return &module;
  try {
    module.server = std::make_unique<TComServer>(ThisModule());
    module.resizeFactory = std::make_unique<TAutoObjectFactory>(
        *module.server,
        [](TComObjectFactory& factory, IUnknown* outer) -> std::unique_ptr<TComObject> {
          return std::make_unique<TResize>(&factory, outer);
        },
        CLSID_Resize, "TResize", std::vector<IID>{IID_IResize, IID_IResize2, IID_IResize3},
        TClassInstancing::ciMultiInstance, TThreadingModel::tmBoth);
  } catch (...) {
    module.resizeFactory.reset();
    module.server.reset();
    return nullptr;
  }
  started.store(true, std::memory_order_release);
  return &module;
}

HRESULT UpdateRegistry(bool doRegister) {
  try {
    ServerModule* module = Module();
    if (module == nullptr) return E_FAIL;
    module->server->UpdateRegistry(doRegister);
    return S_OK;
  } catch (...) {
    return E_FAIL;
  }
}

}  // namespace
}  // namespace quorvex

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  try {
    quorvex::ServerModule* module = quorvex::Module();
    quorvex::TComObjectFactory* factory =
        module ? module->server->ClassManager().GetFactoryFromClassID(rclsid) : nullptr;
    if (factory == nullptr) return CLASS_E_CLASSNOTAVAILABLE;
    return factory->QueryInterface(riid, ppv);
  } catch (...) {
    return E_UNEXPECTED;
  }
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() {
  try {
    const quorvex::ServerModule* module = quorvex::Module();
    return module == nullptr || module->server->CanUnloadNow() ? S_OK : S_FALSE;
  } catch (...) {
    return S_FALSE;
  }
}

extern "C" HRESULT STDAPICALLTYPE DllRegisterServer() {
  return quorvex::UpdateRegistry(true);
}

extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer() {
  return quorvex::UpdateRegistry(false);
}
