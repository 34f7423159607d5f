// Error information objects and the calling thread's current one. A member that fails publishes
// an object with SetErrorInfo; the caller's GetErrorInfo takes it (and clears the slot).
#include <atomic>
#include <new>
#include <string>

#include "platform/src/text.h"
#include "platform/src/two_interface_object.h"

namespace {

using platform_detail::MakeBstr;

class ErrorInfo final
    : public platform_detail::TwoInterfaceObject<IErrorInfo, IID_IErrorInfo, ICreateErrorInfo,
                                                 IID_ICreateErrorInfo> {
 public:
  HRESULT STDMETHODCALLTYPE GetGUID(GUID* pGUID) override {
    if (pGUID == nullptr) return E_INVALIDARG;
    *pGUID = guid_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetSource(BSTR* out) override { return Copy(source_, out); }
  HRESULT STDMETHODCALLTYPE GetDescription(BSTR* out) override { return Copy(description_, out); }
  HRESULT STDMETHODCALLTYPE GetHelpFile(BSTR* out) override { return Copy(helpFile_, out); }
  HRESULT STDMETHODCALLTYPE GetHelpContext(DWORD* out) override {
    if (out == nullptr) return E_INVALIDARG;
    *out = helpContext_;
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE SetGUID(REFGUID rguid) override {
    guid_ = rguid;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetSource(LPOLESTR text) override { return Store(source_, text); }
  HRESULT STDMETHODCALLTYPE SetDescription(LPOLESTR text) override {
    return Store(description_, text);
  }
  HRESULT STDMETHODCALLTYPE SetHelpFile(LPOLESTR text) override { return Store(helpFile_, text); }
  HRESULT STDMETHODCALLTYPE SetHelpContext(DWORD context) override {
    helpContext_ = context;
    return S_OK;
  }

 private:
  struct Text {
    std::u16string value;
    bool set = false;
  };

  static HRESULT Copy(const Text& text, BSTR* out) {
    if (out == nullptr) return E_INVALIDARG;
    *out = nullptr;
    if (!text.set) return S_OK;  // never set: a null string, as Windows gives
    try {
      *out = MakeBstr(text.value);
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
    return S_OK;
  }
  static HRESULT Store(Text& text, const OLECHAR* value) {
    try {
      text.value = platform_detail::WideView(value);
      text.set = value != nullptr;
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
    return S_OK;
  }

  GUID guid_ = GUID_NULL;
  Text source_, description_, helpFile_;
  DWORD helpContext_ = 0;
};

// Holds the thread's reference and gives it up when the thread ends.
struct ThreadSlot {
  IErrorInfo* info = nullptr;
  ~ThreadSlot() {
    if (info != nullptr) info->Release();
  }
};
thread_local ThreadSlot currentError;

}  // namespace

HRESULT WINAPI CreateErrorInfo(ICreateErrorInfo** pperrinfo) {
  if (pperrinfo == nullptr) return E_INVALIDARG;
  *pperrinfo = nullptr;
  auto* info = new (std::nothrow) ErrorInfo();
  if (info == nullptr) return E_OUTOFMEMORY;
  *pperrinfo = static_cast<ICreateErrorInfo*>(info);
  return S_OK;
}

HRESULT WINAPI SetErrorInfo(ULONG dwReserved, IErrorInfo* perrinfo) {
  if (dwReserved != 0) return E_INVALIDARG;
  if (perrinfo != nullptr) perrinfo->AddRef();
  IErrorInfo* previous = currentError.info;
  currentError.info = perrinfo;
  if (previous != nullptr) previous->Release();
  return S_OK;
}

HRESULT WINAPI GetErrorInfo(ULONG dwReserved, IErrorInfo** pperrinfo) {
  if (dwReserved != 0 || pperrinfo == nullptr) return E_INVALIDARG;
  *pperrinfo = currentError.info;
  currentError.info = nullptr;
  return *pperrinfo != nullptr ? S_OK : S_FALSE;
}
