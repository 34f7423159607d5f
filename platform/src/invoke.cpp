// ITypeInfo::Invoke and the dispatch helpers built on it: the standard late-bound call of a
// member through an interface's function table, with the argument rules of the automation
// library (positional arguments last to first, the named DISPID_PROPERTYPUT argument,
// conversion with VariantChangeType, by-reference arguments, optional parameters, the result,
// and error information turned into EXCEPINFO).
#include <new>
#include <vector>

#include "platform/com_ptr.h"
#include "platform/src/text.h"
#include "platform/src/type_library.h"

namespace platform_detail {

namespace {

// Storage for one call: converted arguments and the pointers and types passed on.
struct CallFrame {
  explicit CallFrame(size_t n) : values(n), targets(n), pointers(n), types(n) {
    for (size_t i = 0; i < n; ++i) {
      VariantInit(&values[i]);
      VariantInit(&targets[i]);
    }
  }
  CallFrame(const CallFrame&) = delete;
  CallFrame& operator=(const CallFrame&) = delete;
  ~CallFrame() {
    for (size_t i = 0; i < values.size(); ++i) {
      VariantClear(&values[i]);
      VariantClear(&targets[i]);
    }
  }
  std::vector<VARIANT> values;   // what is passed (or what a by-reference argument points into)
  std::vector<VARIANT> targets;  // values that by-reference arguments point at
  std::vector<VARIANT*> pointers;
  std::vector<VARTYPE> types;
};

void SetArgError(UINT* puArgErr, UINT index) {
  if (puArgErr != nullptr) *puArgErr = index;
}

// A failed member is DISP_E_EXCEPTION, its code in EXCEPINFO; the description, source and help
// come from the error information the object published, when it supports it for the interface.
HRESULT MemberFailed(HRESULT failure, void* instance, REFIID iid, EXCEPINFO* excep) {
  if (excep == nullptr) return DISP_E_EXCEPTION;
  *excep = EXCEPINFO{};
  excep->scode = failure;
  auto* object = static_cast<IUnknown*>(instance);
  quorvex::TComPtr<ISupportErrorInfo> support;
  quorvex::TComPtr<IErrorInfo> info;
  if (SUCCEEDED(object->QueryInterface(IID_ISupportErrorInfo, support.PutVoid())) &&
      support->InterfaceSupportsErrorInfo(iid) == S_OK && GetErrorInfo(0, info.Put()) == S_OK) {
    info->GetSource(&excep->bstrSource);
    info->GetDescription(&excep->bstrDescription);
    info->GetHelpFile(&excep->bstrHelpFile);
    info->GetHelpContext(&excep->dwHelpContext);
  }
  return DISP_E_EXCEPTION;
}

bool IsMissing(const VARIANT& v) {
  return V_VT(&v) == VT_ERROR && V_ERROR(&v) == DISP_E_PARAMNOTFOUND;
}

// Makes argument `i` of the frame from the caller's `source` for a parameter of type `vt`.
HRESULT Convert(CallFrame& frame, size_t i, VARTYPE vt, const VARIANT& source, USHORT flags) {
  VARIANT& value = frame.values[i];
  VARIANT& target = frame.targets[i];
  if (vt == VT_VARIANT) {
    // A VARIANT parameter gets the argument as it is, references included.
    frame.pointers[i] = &value;
    return VariantCopy(&value, &source);
  }
  if (vt == (VT_VARIANT | VT_BYREF)) {
    if (V_VT(&source) == (VT_VARIANT | VT_BYREF)) {
      V_VT(&value) = vt;
      V_VARIANTREF(&value) = V_VARIANTREF(&source);
    } else {
      if (flags & PARAMFLAG_FIN) {
        const HRESULT hr = VariantCopy(&target, &source);
        if (FAILED(hr)) return hr;
      }
      V_VT(&value) = vt;
      V_VARIANTREF(&value) = &target;
    }
    frame.pointers[i] = &value;
    return S_OK;
  }
  if (vt & VT_BYREF) {
    const VARTYPE pointee = vt & ~VT_BYREF;
    if (V_VT(&source) == vt) {
      V_VT(&value) = vt;
      V_BYREF(&value) = V_BYREF(&source);
    } else if (V_VT(&source) == (VT_VARIANT | VT_BYREF) && V_VARIANTREF(&source) != nullptr &&
               V_VT(V_VARIANTREF(&source)) == pointee) {
      // A reference to a VARIANT of the right type: point into it.
      V_VT(&value) = vt;
      V_BYREF(&value) = &V_VARIANTREF(&source)->llVal;
      if (pointee == VT_DECIMAL) V_BYREF(&value) = &V_VARIANTREF(&source)->decVal;
    } else if (V_ISBYREF(&source)) {
      return DISP_E_TYPEMISMATCH;  // references must match exactly
    } else {
      // A value for a reference parameter: the callee works on a converted copy.
      if (flags & PARAMFLAG_FIN) {
        const HRESULT hr = VariantChangeType(&target, &source, 0, pointee);
        if (FAILED(hr)) return hr;
      } else {
        V_VT(&target) = pointee;
        V_UI8(&target) = 0;
      }
      V_VT(&value) = vt;
      V_BYREF(&value) = pointee == VT_DECIMAL ? static_cast<void*>(&target.decVal)
                                              : static_cast<void*>(&target.llVal);
    }
    frame.pointers[i] = &value;
    return S_OK;
  }
  frame.pointers[i] = &value;
  return VariantChangeType(&value, &source, 0, vt);
}

// The caller's DISPPARAMS as every call needs them: counts that agree and arrays where they are
// counted.
bool ValidDispParams(const DISPPARAMS& params) {
  if (params.cNamedArgs > params.cArgs) return false;
  return !((params.cArgs > 0 && params.rgvarg == nullptr) ||
           (params.cNamedArgs > 0 && params.rgdispidNamedArgs == nullptr));
}

// A pure dispatch interface is the object's own business: the call goes to its IDispatch.
HRESULT InvokeThroughObject(void* instance, MEMBERID memid, WORD wFlags, DISPPARAMS* pDispParams,
                            VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) {
  quorvex::TComPtr<IDispatch> dispatch;
  HRESULT hr = static_cast<IUnknown*>(instance)->QueryInterface(IID_IDispatch, dispatch.PutVoid());
  if (FAILED(hr)) return hr;
  return dispatch->Invoke(memid, IID_NULL, LOCALE_USER_DEFAULT, wFlags, pDispParams, pVarResult,
                          pExcepInfo, puArgErr);
}

// Named arguments: for each parameter, the index of the named argument that gives it (or -1).
// A named argument is a parameter index, or DISPID_PROPERTYPUT for a put's value.
HRESULT MatchNamedArgs(const FUNCDESC& desc, const DISPPARAMS& params, std::vector<int>* namedFor,
                       UINT* puArgErr) {
  const size_t count = static_cast<size_t>(desc.cParams);
  const bool isPut = (desc.invkind & (INVOKE_PROPERTYPUT | INVOKE_PROPERTYPUTREF)) != 0;
  namedFor->assign(count, -1);
  bool putValueGiven = false;
  for (UINT j = 0; j < params.cNamedArgs; ++j) {
    const DISPID id = params.rgdispidNamedArgs[j];
    size_t target = count;
    if (id == DISPID_PROPERTYPUT && isPut && count > 0) {
      target = count - 1;
      putValueGiven = true;
    } else if (id >= 0 && static_cast<size_t>(id) < count &&
               !(desc.lprgelemdescParam[id].paramdesc.wParamFlags &
                 (PARAMFLAG_FRETVAL | PARAMFLAG_FLCID))) {
      target = static_cast<size_t>(id);
    }
    if (target == count || (*namedFor)[target] >= 0) {
      SetArgError(puArgErr, j);
      return DISP_E_PARAMNOTFOUND;
    }
    (*namedFor)[target] = static_cast<int>(j);
  }
  if (isPut && !putValueGiven) return DISP_E_PARAMNOTFOUND;
  return S_OK;
}

// The locale parameter gets the type library's locale.
void SetLcidArg(CallFrame& frame, size_t i, LCID lcid) {
  V_VT(&frame.values[i]) = VT_I4;
  V_I4(&frame.values[i]) = static_cast<LONG>(lcid);
  frame.types[i] = VT_I4;
  frame.pointers[i] = &frame.values[i];
}

// The retval parameter points at an empty value of its type, which becomes the call's result.
HRESULT SetRetvalArg(CallFrame& frame, size_t i, VARTYPE vt) {
  if (!(vt & VT_BYREF)) return DISP_E_BADVARTYPE;
  VARIANT& target = frame.targets[i];
  VARIANT& value = frame.values[i];
  if (vt != (VT_VARIANT | VT_BYREF)) {
    V_VT(&target) = vt & ~VT_BYREF;
    V_UI8(&target) = 0;
  }
  V_VT(&value) = vt;
  V_BYREF(&value) = vt == (VT_VARIANT | VT_BYREF) ? static_cast<void*>(&target)
                                                  : static_cast<void*>(&target.llVal);
  frame.pointers[i] = &value;
  return S_OK;
}

// A missing optional argument: its default value, or the "missing" marker.
HRESULT SetMissingArg(CallFrame& frame, size_t i, VARTYPE vt, const PARAMDESC& paramdesc) {
  VARIANT missing;
  VariantInit(&missing);
  HRESULT hr = S_OK;
  if ((paramdesc.wParamFlags & PARAMFLAG_FHASDEFAULT) && paramdesc.pparamdescex != nullptr) {
    hr = VariantCopy(&missing, &paramdesc.pparamdescex->varDefaultValue);
  } else {
    V_VT(&missing) = VT_ERROR;
    V_ERROR(&missing) = DISP_E_PARAMNOTFOUND;
  }
  if (SUCCEEDED(hr)) hr = Convert(frame, i, vt, missing, PARAMFLAG_FIN);
  VariantClear(&missing);
  return hr;
}

// An interface parameter gets the interface it names rather than what the caller passed.
HRESULT NarrowInterfaceArg(TypeInfoImpl* owner, CallFrame& frame, size_t i, const TYPEDESC& tdesc,
                           VARTYPE vt) {
  const TYPEDESC* named = tdesc.vt == VT_PTR ? tdesc.lptdesc : nullptr;
  VARIANT& value = frame.values[i];
  if (named == nullptr || named->vt != VT_USERDEFINED || (vt != VT_DISPATCH && vt != VT_UNKNOWN) ||
      V_UNKNOWN(&value) == nullptr)
    return S_OK;
  GUID iid;
  HRESULT hr = owner->InterfaceOf(named->hreftype, &iid);
  IUnknown* specific = nullptr;
  if (SUCCEEDED(hr))
    hr = V_UNKNOWN(&value)->QueryInterface(iid, reinterpret_cast<void**>(&specific));
  if (FAILED(hr)) return DISP_E_TYPEMISMATCH;
  V_UNKNOWN(&value)->Release();
  V_UNKNOWN(&value) = specific;
  return S_OK;
}

// The caller's argument for a parameter: the named one that gives it, else the next positional
// one (they go last to first); none when the positional ones are used up.
const VARIANT* ArgumentFor(const DISPPARAMS& params, int named, UINT* used, UINT* sourceIndex) {
  if (named >= 0) {
    *sourceIndex = static_cast<UINT>(named);
    return &params.rgvarg[*sourceIndex];
  }
  if (*used < params.cArgs - params.cNamedArgs) {
    *sourceIndex = params.cArgs - 1 - *used;
    ++*used;
    return &params.rgvarg[*sourceIndex];
  }
  return nullptr;
}

// Fills the frame parameter by parameter: positional arguments are taken last to first, in
// parameter order, after the named ones. `retval` becomes the retval parameter's index (or
// the parameter count).
HRESULT BuildFrame(TypeInfoImpl* owner, const FUNCDESC& desc, const DISPPARAMS& params,
                   const std::vector<int>& namedFor, CallFrame& frame, size_t* retval,
                   UINT* puArgErr) {
  const size_t count = static_cast<size_t>(desc.cParams);
  const UINT positional = params.cArgs - params.cNamedArgs;
  UINT used = 0;  // positional arguments taken, in parameter order
  *retval = count;
  for (size_t i = 0; i < count; ++i) {
    const ELEMDESC& param = desc.lprgelemdescParam[i];
    const USHORT flags = param.paramdesc.wParamFlags;
    HRESULT hr = owner->VariantTypeOf(param.tdesc, &frame.types[i]);
    if (FAILED(hr)) return hr;
    const VARTYPE vt = frame.types[i];
    if (flags & PARAMFLAG_FLCID) {
      SetLcidArg(frame, i, owner->attr.lcid);
      continue;
    }
    if (flags & PARAMFLAG_FRETVAL) {
      hr = SetRetvalArg(frame, i, vt);
      if (FAILED(hr)) return hr;
      *retval = i;
      continue;
    }
    UINT sourceIndex = 0;
    const VARIANT* source = ArgumentFor(params, namedFor[i], &used, &sourceIndex);
    const bool optional = (flags & PARAMFLAG_FOPT) != 0;
    if (source != nullptr && IsMissing(*source) && !optional && vt != VT_VARIANT &&
        vt != (VT_VARIANT | VT_BYREF)) {
      SetArgError(puArgErr, sourceIndex);
      return DISP_E_PARAMNOTOPTIONAL;
    }
    if (source == nullptr || (optional && IsMissing(*source))) {
      if (!optional) return DISP_E_BADPARAMCOUNT;
      hr = SetMissingArg(frame, i, vt, param.paramdesc);
      if (FAILED(hr)) return hr;
      continue;
    }
    hr = Convert(frame, i, vt, *source, flags ? flags : PARAMFLAG_FIN);
    if (SUCCEEDED(hr)) hr = NarrowInterfaceArg(owner, frame, i, param.tdesc, vt);
    if (FAILED(hr)) {
      SetArgError(puArgErr, sourceIndex);
      return hr;
    }
  }
  if (used < positional) return DISP_E_BADPARAMCOUNT;  // arguments left over
  return S_OK;
}

// Calls the member through the function table and hands its result (the retval parameter's
// value when it has one) to the caller, or its failure as EXCEPINFO.
HRESULT CallMember(void* instance, TypeInfoImpl* owner, const FUNCDESC& desc, CallFrame& frame,
                   size_t retval, VARIANT* pVarResult, EXCEPINFO* pExcepInfo) {
  const size_t count = static_cast<size_t>(desc.cParams);
  VARTYPE resultType = VT_EMPTY;
  if (desc.elemdescFunc.tdesc.vt != VT_VOID) {
    const HRESULT hr = owner->VariantTypeOf(desc.elemdescFunc.tdesc, &resultType);
    if (FAILED(hr)) return hr;
  }
  VARIANT result;
  VariantInit(&result);
  const HRESULT hr =
      DispCallFunc(instance, static_cast<ULONG_PTR>(desc.oVft), desc.callconv, resultType,
                   static_cast<UINT>(count), frame.types.data(), frame.pointers.data(), &result);
  if (FAILED(hr)) return hr;
  if (V_VT(&result) == VT_ERROR && FAILED(V_ERROR(&result))) {
    // What the member may have stored in its result before failing is freed with the frame.
    return MemberFailed(V_ERROR(&result), instance, owner->attr.guid, pExcepInfo);
  }
  if (retval < count) {
    VARIANT& produced = frame.targets[retval];
    if (pVarResult != nullptr) {
      VariantInit(pVarResult);
      *pVarResult = produced;  // the caller takes over what the member allocated
      VariantInit(&produced);
    }
  } else if (pVarResult != nullptr && V_VT(&result) != VT_ERROR && V_VT(&result) != VT_EMPTY) {
    VariantInit(pVarResult);
    *pVarResult = result;
  }
  return S_OK;
}

}  // namespace

HRESULT TypeInfoImpl::Invoke(PVOID pvInstance, MEMBERID memid, WORD wFlags, DISPPARAMS* pDispParams,
                             VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) {
  if (dispatchOfDual)
    return partner->Invoke(pvInstance, memid, wFlags, pDispParams, pVarResult, pExcepInfo,
                           puArgErr);
  if (pvInstance == nullptr || pDispParams == nullptr) return E_INVALIDARG;
  const DISPPARAMS& params = *pDispParams;
  if (!ValidDispParams(params)) return E_INVALIDARG;
  if (attr.typekind != TKIND_INTERFACE)
    return InvokeThroughObject(pvInstance, memid, wFlags, pDispParams, pVarResult, pExcepInfo,
                               puArgErr);

  TypeInfoImpl* owner = nullptr;
  const FuncData* func = FindFunc(memid, wFlags, &owner);
  if (func == nullptr) return DISP_E_MEMBERNOTFOUND;
  const FUNCDESC& desc = func->desc;
  if (desc.funckind != FUNC_PUREVIRTUAL && desc.funckind != FUNC_VIRTUAL)
    return DISP_E_MEMBERNOTFOUND;

  try {
    std::vector<int> namedFor;
    HRESULT hr = MatchNamedArgs(desc, params, &namedFor, puArgErr);
    if (FAILED(hr)) return hr;
    CallFrame frame(static_cast<size_t>(desc.cParams));
    size_t retval = 0;
    hr = BuildFrame(owner, desc, params, namedFor, frame, &retval, puArgErr);
    if (FAILED(hr)) return hr;
    return CallMember(pvInstance, owner, desc, frame, retval, pVarResult, pExcepInfo);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

}  // namespace platform_detail

namespace {

// IDispatch over an object and the type information of its dual or plain interface.
class StdDispatch final : public IDispatch {
 public:
  StdDispatch(IUnknown* outer, void* instance, ITypeInfo* info)
      : outer_(outer), instance_(instance), info_(quorvex::TComPtr<ITypeInfo>::Share(info)) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IDispatch) {
      *ppv = static_cast<IDispatch*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return outer_ != nullptr ? outer_->QueryInterface(riid, ppv) : E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* pctinfo) override {
    if (pctinfo == nullptr) return E_INVALIDARG;
    *pctinfo = 1;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT iTInfo, LCID, ITypeInfo** ppTInfo) override {
    if (ppTInfo == nullptr) return E_INVALIDARG;
    *ppTInfo = nullptr;
    if (iTInfo != 0) return DISP_E_BADINDEX;
    info_->AddRef();
    *ppTInfo = info_.get();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* rgszNames, UINT cNames, LCID,
                                          DISPID* rgDispId) override {
    return DispGetIDsOfNames(info_.get(), rgszNames, cNames, rgDispId);
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID dispIdMember, REFIID, LCID, WORD wFlags,
                                   DISPPARAMS* pDispParams, VARIANT* pVarResult,
                                   EXCEPINFO* pExcepInfo, UINT* puArgErr) override {
    return DispInvoke(instance_, info_.get(), dispIdMember, wFlags, pDispParams, pVarResult,
                      pExcepInfo, puArgErr);
  }

 private:
  std::atomic<ULONG> refs_{1};
  IUnknown* outer_;
  void* instance_;
  quorvex::TComPtr<ITypeInfo> info_;
};

}  // namespace

HRESULT WINAPI DispGetIDsOfNames(ITypeInfo* ptinfo, LPOLESTR* rgszNames, UINT cNames,
                                 DISPID* rgdispid) {
  if (ptinfo == nullptr) return E_INVALIDARG;
  return ptinfo->GetIDsOfNames(rgszNames, cNames, rgdispid);
}

HRESULT WINAPI DispInvoke(void* _this, ITypeInfo* ptinfo, DISPID dispidMember, WORD wFlags,
                          DISPPARAMS* pparams, VARIANT* pvarResult, EXCEPINFO* pexcepinfo,
                          UINT* puArgErr) {
  if (ptinfo == nullptr) return E_INVALIDARG;
  return ptinfo->Invoke(_this, dispidMember, wFlags, pparams, pvarResult, pexcepinfo, puArgErr);
}

HRESULT WINAPI CreateStdDispatch(IUnknown* punkOuter, void* pvThis, ITypeInfo* ptinfo,
                                 IUnknown** ppunkStdDisp) {
  if (pvThis == nullptr || ptinfo == nullptr || ppunkStdDisp == nullptr) return E_INVALIDARG;
  *ppunkStdDisp = nullptr;
  auto* dispatch = new (std::nothrow) StdDispatch(punkOuter, pvThis, ptinfo);
  if (dispatch == nullptr) return E_OUTOFMEMORY;
  *ppunkStdDisp = dispatch;
  return S_OK;
}
