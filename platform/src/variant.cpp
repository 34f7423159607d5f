// VARIANT life cycle: initialisation, clearing (which frees what the value owns) and deep copy.
#include "platform/src/variant_type.h"

namespace platform_detail {

HRESULT ValidateVariantType(VARTYPE vt) {
  const VARTYPE extra = vt & ~VT_TYPEMASK;
  const VARTYPE base = vt & VT_TYPEMASK;
  constexpr VARTYPE kVector = 0x1000;
  if ((extra & (kVector | VT_RESERVED)) != 0) return DISP_E_BADVARTYPE;
  if (base < VT_VOID || base == VT_RECORD) {
    if ((extra & (VT_BYREF | VT_ARRAY)) != 0 && base <= VT_NULL) return DISP_E_BADVARTYPE;
    if (base != 15) return S_OK;
  }
  return DISP_E_BADVARTYPE;
}

}  // namespace platform_detail

void WINAPI VariantInit(VARIANTARG* pvarg) {
  if (pvarg != nullptr) V_VT(pvarg) = VT_EMPTY;
}

HRESULT WINAPI VariantClear(VARIANTARG* pvarg) {
  if (pvarg == nullptr) return E_INVALIDARG;
  HRESULT hr = platform_detail::ValidateVariantType(V_VT(pvarg));
  if (FAILED(hr)) return hr;
  if (!V_ISBYREF(pvarg)) {
    if (V_ISARRAY(pvarg)) {
      hr = SafeArrayDestroy(V_ARRAY(pvarg));
      if (FAILED(hr)) return hr;
    } else if (V_VT(pvarg) == VT_BSTR) {
      SysFreeString(V_BSTR(pvarg));
    } else if (V_VT(pvarg) == VT_UNKNOWN || V_VT(pvarg) == VT_DISPATCH) {
      IUnknown* unknown = V_UNKNOWN(pvarg);
      if (unknown != nullptr) unknown->Release();
    } else if (V_VT(pvarg) == VT_RECORD) {
      // No record types exist on this platform; a record value owns nothing we could free.
      return DISP_E_BADVARTYPE;
    }
  }
  V_VT(pvarg) = VT_EMPTY;
  return S_OK;
}

HRESULT WINAPI VariantCopy(VARIANTARG* pvargDest, const VARIANTARG* pvargSrc) {
  if (pvargDest == nullptr || pvargSrc == nullptr) return E_INVALIDARG;
  HRESULT hr = platform_detail::ValidateVariantType(V_VT(pvargSrc));
  if (FAILED(hr)) return hr;
  if (pvargDest == pvargSrc) return S_OK;
  hr = VariantClear(pvargDest);
  if (FAILED(hr)) return hr;
  *pvargDest = *pvargSrc;
  if (V_ISBYREF(pvargSrc)) return S_OK;
  if (V_ISARRAY(pvargSrc)) {
    V_ARRAY(pvargDest) = nullptr;
    hr = SafeArrayCopy(V_ARRAY(pvargSrc), &V_ARRAY(pvargDest));
  } else if (V_VT(pvargSrc) == VT_BSTR && V_BSTR(pvargSrc) != nullptr) {
    BSTR source = V_BSTR(pvargSrc);
    V_BSTR(pvargDest) =
        SysAllocStringByteLen(reinterpret_cast<LPCSTR>(source), SysStringByteLen(source));
    if (V_BSTR(pvargDest) == nullptr) hr = E_OUTOFMEMORY;
  } else if (V_VT(pvargSrc) == VT_UNKNOWN || V_VT(pvargSrc) == VT_DISPATCH) {
    if (V_UNKNOWN(pvargSrc) != nullptr) V_UNKNOWN(pvargSrc)->AddRef();
  }
  if (FAILED(hr)) V_VT(pvargDest) = VT_EMPTY;
  return hr;
}
