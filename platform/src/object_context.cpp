// Object contexts installed by hosts, per thread, and CoGetObjectContext over them.
#include "platform/object_context.h"

#include <atomic>
#include <new>
#include <string>
#include <vector>

#include "platform/com_ptr.h"
#include "platform/src/boundary_guard.h"
#include "platform/src/text.h"
#include "platform/src/two_interface_object.h"

namespace {

class ObjectContext final
    : public platform_detail::TwoInterfaceObject<IObjectContext, IID_IObjectContext,
                                                 IGetContextProperties, IID_IGetContextProperties> {
 public:
  ~ObjectContext() {
    for (auto& property : properties_) VariantClear(&property.second);
  }
  HRESULT Add(std::u16string name, const VARIANT& value) {
    VARIANT copy;
    VariantInit(&copy);
    const HRESULT hr = VariantCopy(&copy, &value);
    if (FAILED(hr)) return hr;
    properties_.emplace_back(std::move(name), copy);
    return S_OK;
  }

  // IObjectContext: there are no transactions or roles here.
  HRESULT STDMETHODCALLTYPE CreateInstance(REFCLSID rclsid, REFIID riid, LPVOID* ppv) override {
    return CoCreateInstance(rclsid, nullptr, CLSCTX_INPROC_SERVER, riid, ppv);
  }
  HRESULT STDMETHODCALLTYPE SetComplete() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE SetAbort() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE EnableCommit() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE DisableCommit() override { return S_OK; }
  BOOL STDMETHODCALLTYPE IsInTransaction() override { return FALSE; }
  BOOL STDMETHODCALLTYPE IsSecurityEnabled() override { return FALSE; }
  HRESULT STDMETHODCALLTYPE IsCallerInRole(BSTR, BOOL* pfIsInRole) override {
    if (pfIsInRole == nullptr) return E_POINTER;
    *pfIsInRole = TRUE;  // without security every caller is in every role
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE Count(long* plCount) override {
    if (plCount == nullptr) return E_POINTER;
    *plCount = static_cast<long>(properties_.size());
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetProperty(BSTR objName, VARIANT* pVar) override {
    if (pVar == nullptr) return E_POINTER;
    VariantInit(pVar);
    const std::u16string_view wanted(objName, SysStringLen(objName));
    for (const auto& [name, value] : properties_)
      if (platform_detail::EqualsIgnoreCase(name, wanted)) return VariantCopy(pVar, &value);
    return E_INVALIDARG;  // no property of that name
  }
  HRESULT STDMETHODCALLTYPE EnumNames(IEnumNames** ppenum) override {
    if (ppenum != nullptr) *ppenum = nullptr;
    return E_NOTIMPL;
  }

 private:
  std::vector<std::pair<std::u16string, VARIANT>> properties_;
};

thread_local std::vector<quorvex::TComPtr<ObjectContext>> contexts;

constexpr platform_detail::BoundaryGuard<HRESULT, E_OUTOFMEMORY> Guarded;

}  // namespace

HRESULT WINAPI QvEnterObjectContextWith(UINT count, const LPCOLESTR* names, const VARIANT* values) {
  if (count > 0 && (names == nullptr || values == nullptr)) return E_INVALIDARG;
  return Guarded([&]() -> HRESULT {
    quorvex::TComPtr<ObjectContext> context(new ObjectContext());
    for (UINT i = 0; i < count; ++i) {
      if (names[i] == nullptr) return E_INVALIDARG;
      const HRESULT hr =
          context->Add(std::u16string(platform_detail::WideView(names[i])), values[i]);
      if (FAILED(hr)) return hr;
    }
    contexts.push_back(std::move(context));
    return S_OK;
  });
}

HRESULT WINAPI QvEnterObjectContext(IDispatch* response) {
  if (response == nullptr) return QvEnterObjectContextWith(0, nullptr, nullptr);
  VARIANT value;
  VariantInit(&value);
  V_VT(&value) = VT_DISPATCH;
  V_DISPATCH(&value) = response;
  const LPCOLESTR name = u"Response";
  return QvEnterObjectContextWith(1, &name, &value);
}

HRESULT WINAPI QvLeaveObjectContext(void) {
  if (contexts.empty()) return E_UNEXPECTED;
  contexts.pop_back();
  return S_OK;
}

HRESULT WINAPI CoGetObjectContext(REFIID riid, LPVOID* ppv) {
  if (ppv == nullptr) return E_INVALIDARG;
  *ppv = nullptr;
  if (contexts.empty()) return E_NOINTERFACE;  // not running inside a call's context
  return contexts.back()->QueryInterface(riid, ppv);
}
