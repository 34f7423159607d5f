#include "comserver/com_object.h"

#include "comserver/class_factory.h"
#include "comserver/com_server.h"
#include "comserver/ole_errors.h"

namespace quorvex {

TComObject::TComObject(TComObjectFactory* factory, IUnknown* outer)
    : factory_(factory), outer_(outer) {
  if (factory_ != nullptr) factory_->Server().CountObject(true);
}

TComObject::~TComObject() {
  // Still referenced: cut the remaining clients off rather than leave them dangling.
  if (refCount_.load() != 0) CoDisconnectObject(&inner_, 0);
  if (factory_ != nullptr) factory_->Server().CountObject(false);
}

void* TComObject::GetInterface(REFIID iid) noexcept {
  if (IsEqualIID(iid, IID_ISupportErrorInfo))
    return static_cast<ISupportErrorInfo*>(&supportErrorInfo_);
  return nullptr;
}

HRESULT TComObject::ObjQueryInterface(REFIID iid, void** object) noexcept {
  if (object == nullptr) return E_POINTER;
  if (IsEqualIID(iid, IID_IUnknown)) {
    *object = static_cast<IUnknown*>(&inner_);
  } else {
    *object = GetInterface(iid);
    if (*object == nullptr) return E_NOINTERFACE;
  }
  static_cast<IUnknown*>(*object)->AddRef();
  return S_OK;
}

ULONG TComObject::ObjAddRef() noexcept {
  return static_cast<ULONG>(++refCount_);
}

ULONG TComObject::ObjRelease() noexcept {
  const LONG count = --refCount_;
  if (count == 0) delete this;
  return static_cast<ULONG>(count);
}

HRESULT TComObject::SafeCallException() noexcept {
  if (factory_ == nullptr) return HandleSafeCallException(GUID_NULL, std::string());
  try {
    return HandleSafeCallException(factory_->ErrorIID(), factory_->ProgID());
  } catch (...) {
    return E_UNEXPECTED;
  }
}

HRESULT STDMETHODCALLTYPE
TComObject::SupportErrorInfoEntry::InterfaceSupportsErrorInfo(REFIID iid) {
  // IUnknown is answered by QueryInterface itself, not by GetInterface.
  return IsEqualIID(iid, IID_IUnknown) || owner_.GetInterface(iid) != nullptr ? S_OK : S_FALSE;
}

void* TTypedComObject::GetInterface(REFIID iid) noexcept {
  if (IsEqualIID(iid, IID_IProvideClassInfo))
    return static_cast<IProvideClassInfo*>(&provideClassInfo_);
  return TComObject::GetInterface(iid);
}

HRESULT STDMETHODCALLTYPE
TTypedComObject::ProvideClassInfoEntry::GetClassInfo(ITypeInfo** typeInfo) {
  if (typeInfo == nullptr) return E_POINTER;
  *typeInfo = nullptr;
  ITypeInfo* info = owner_.Factory() != nullptr ? owner_.Factory()->ClassInfo() : nullptr;
  if (info == nullptr) return E_NOTIMPL;
  info->AddRef();
  *typeInfo = info;
  return S_OK;
}

void* TAutoObject::GetInterface(REFIID iid) noexcept {
  if (IsEqualIID(iid, IID_IDispatch)) return static_cast<IDispatch*>(&dispatch_);
  return TTypedComObject::GetInterface(iid);
}

ITypeInfo* TAutoObject::DispatchTypeInfo() const noexcept {
  return Factory() != nullptr ? Factory()->DispTypeInfo() : nullptr;
}

HRESULT TAutoObject::DispGetTypeInfoCount(UINT* count) noexcept {
  if (count == nullptr) return E_POINTER;
  *count = 1;
  return S_OK;
}

HRESULT TAutoObject::DispGetTypeInfo(UINT index, LCID, ITypeInfo** typeInfo) noexcept {
  if (typeInfo == nullptr) return E_POINTER;
  *typeInfo = nullptr;
  if (index != 0) return DISP_E_BADINDEX;
  ITypeInfo* info = DispatchTypeInfo();
  if (info == nullptr) return E_NOTIMPL;
  info->AddRef();
  *typeInfo = info;
  return S_OK;
}

HRESULT TAutoObject::DispGetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID,
                                       DISPID* ids) noexcept {
  ITypeInfo* info = DispatchTypeInfo();
  if (info == nullptr) return E_NOTIMPL;
  return ::DispGetIDsOfNames(info, names, count, ids);
}

HRESULT TAutoObject::DispInvoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params,
                                VARIANT* result, EXCEPINFO* exception,
                                UINT* argumentError) noexcept {
  ITypeInfo* info = DispatchTypeInfo();
  if (info == nullptr) return E_NOTIMPL;
  // Plain and object assignment of a property both reach the property put.
  if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF))
    flags |= DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF;
  return info->Invoke(DispatchInterfaceEntry(), id, flags, params, result, exception,
                      argumentError);
}

}  // namespace quorvex
