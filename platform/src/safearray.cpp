// Safe arrays. As on Windows, the element type is kept in a hidden header just before the
// SAFEARRAY structure, and rgsabound lists the dimensions from the rightmost to the leftmost.
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "platform/src/variant_type.h"

namespace platform_detail {

ULONG ArrayElementSize(VARTYPE vt) {
  switch (vt) {
    case VT_I1:
    case VT_UI1:
      return 1;
    case VT_I2:
    case VT_UI2:
    case VT_BOOL:
      return 2;
    case VT_I4:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
    case VT_R4:
    case VT_ERROR:
      return 4;
    case VT_R8:
    case VT_CY:
    case VT_DATE:
    case VT_I8:
    case VT_UI8:
      return 8;
    case VT_BSTR:
    case VT_UNKNOWN:
    case VT_DISPATCH:
      return sizeof(void*);
    case VT_DECIMAL:
      return sizeof(DECIMAL);
    case VT_VARIANT:
      return sizeof(VARIANT);
    default:
      return 0;
  }
}

}  // namespace platform_detail

namespace {

using platform_detail::ArrayElementSize;

constexpr size_t kHiddenHeader = sizeof(GUID);
constexpr USHORT kMaxLocks = 0xFFFF;
constexpr USHORT kOwnsElements = FADF_BSTR | FADF_UNKNOWN | FADF_DISPATCH | FADF_VARIANT;

size_t DescriptorBytes(UINT dims) {
  return sizeof(SAFEARRAY) + (dims - 1) * sizeof(SAFEARRAYBOUND);
}

VARTYPE& HiddenVartype(SAFEARRAY* psa) {
  return *reinterpret_cast<VARTYPE*>(reinterpret_cast<BYTE*>(psa) - sizeof(DWORD));
}

// The part of the hidden header that the features say is there: a caller's own descriptor
// (on the stack, in a structure) may have none, and the bytes before it may not be readable.
size_t HiddenHeaderBytes(const SAFEARRAY* psa) {
  if (psa->fFeatures & FADF_HAVEIID) return sizeof(GUID);
  if (psa->fFeatures & FADF_HAVEVARTYPE) return sizeof(DWORD);
  return 0;
}

USHORT FeaturesFor(VARTYPE vt) {
  switch (vt) {
    case VT_BSTR:
      return FADF_HAVEVARTYPE | FADF_BSTR;
    case VT_UNKNOWN:
      return FADF_HAVEVARTYPE | FADF_UNKNOWN;
    case VT_DISPATCH:
      return FADF_HAVEIID | FADF_DISPATCH;
    case VT_VARIANT:
      return FADF_HAVEVARTYPE | FADF_VARIANT;
    default:
      return FADF_HAVEVARTYPE;
  }
}

// Element count of the whole array, or false when it does not fit in memory.
bool CountElements(const SAFEARRAY* psa, size_t* count) {
  size_t total = 1;
  for (USHORT i = 0; i < psa->cDims; ++i) {
    const size_t n = psa->rgsabound[i].cElements;
    if (n != 0 && total > std::numeric_limits<size_t>::max() / n) return false;
    total *= n;
  }
  *count = total;
  return true;
}

SAFEARRAY* AllocateDescriptor(UINT dims) {
  auto* block = static_cast<BYTE*>(std::calloc(1, kHiddenHeader + DescriptorBytes(dims)));
  if (block == nullptr) return nullptr;
  auto* psa = reinterpret_cast<SAFEARRAY*>(block + kHiddenHeader);
  psa->cDims = static_cast<USHORT>(dims);
  return psa;
}

void FreeDescriptor(SAFEARRAY* psa) {
  std::free(reinterpret_cast<BYTE*>(psa) - kHiddenHeader);
}

HRESULT AllocateData(SAFEARRAY* psa) {
  size_t count;
  if (!CountElements(psa, &count) || count > std::numeric_limits<size_t>::max() / psa->cbElements)
    return E_OUTOFMEMORY;
  const size_t bytes = count * psa->cbElements;
  psa->pvData = std::calloc(bytes == 0 ? 1 : bytes, 1);
  return psa->pvData == nullptr ? E_OUTOFMEMORY : S_OK;
}

// Frees what the elements own (strings, interfaces, nested values).
void ReleaseElements(SAFEARRAY* psa) {
  if (psa->pvData == nullptr || (psa->fFeatures & kOwnsElements) == 0) return;
  size_t count;
  if (!CountElements(psa, &count)) return;
  if (psa->fFeatures & FADF_BSTR) {
    auto* items = static_cast<BSTR*>(psa->pvData);
    for (size_t i = 0; i < count; ++i) SysFreeString(items[i]);
  } else if (psa->fFeatures & (FADF_UNKNOWN | FADF_DISPATCH)) {
    auto* items = static_cast<IUnknown**>(psa->pvData);
    for (size_t i = 0; i < count; ++i)
      if (items[i] != nullptr) items[i]->Release();
  } else {
    auto* items = static_cast<VARIANT*>(psa->pvData);
    for (size_t i = 0; i < count; ++i) VariantClear(&items[i]);
  }
}

HRESULT CopyElements(SAFEARRAY* source, SAFEARRAY* dest) {
  size_t count;
  if (!CountElements(source, &count)) return E_OUTOFMEMORY;
  if (source->fFeatures & FADF_BSTR) {
    auto* from = static_cast<BSTR*>(source->pvData);
    auto* to = static_cast<BSTR*>(dest->pvData);
    for (size_t i = 0; i < count; ++i) {
      if (from[i] == nullptr) continue;
      to[i] = SysAllocStringByteLen(reinterpret_cast<LPCSTR>(from[i]), SysStringByteLen(from[i]));
      if (to[i] == nullptr) return E_OUTOFMEMORY;
    }
  } else if (source->fFeatures & (FADF_UNKNOWN | FADF_DISPATCH)) {
    auto* from = static_cast<IUnknown**>(source->pvData);
    auto* to = static_cast<IUnknown**>(dest->pvData);
    for (size_t i = 0; i < count; ++i) {
      to[i] = from[i];
      if (to[i] != nullptr) to[i]->AddRef();
    }
  } else if (source->fFeatures & FADF_VARIANT) {
    auto* from = static_cast<VARIANT*>(source->pvData);
    auto* to = static_cast<VARIANT*>(dest->pvData);
    for (size_t i = 0; i < count; ++i) {
      const HRESULT hr = VariantCopy(&to[i], &from[i]);
      if (FAILED(hr)) return hr;
    }
  } else {
    std::memcpy(dest->pvData, source->pvData, count * source->cbElements);
  }
  return S_OK;
}

std::atomic_ref<ULONG> Locks(SAFEARRAY* psa) {
  return std::atomic_ref<ULONG>(psa->cLocks);
}

}  // namespace

SAFEARRAY* WINAPI SafeArrayCreate(VARTYPE vt, UINT cDims, SAFEARRAYBOUND* rgsabound) {
  const ULONG elementSize = ArrayElementSize(vt);
  if (cDims == 0 || cDims > 0xFFFF || rgsabound == nullptr || elementSize == 0) return nullptr;
  SAFEARRAY* psa = AllocateDescriptor(cDims);
  if (psa == nullptr) return nullptr;
  psa->fFeatures = FeaturesFor(vt);
  psa->cbElements = elementSize;
  HiddenVartype(psa) = vt;
  for (UINT i = 0; i < cDims; ++i) psa->rgsabound[cDims - 1 - i] = rgsabound[i];
  if (FAILED(AllocateData(psa))) {
    FreeDescriptor(psa);
    return nullptr;
  }
  return psa;
}

SAFEARRAY* WINAPI SafeArrayCreateVector(VARTYPE vt, LONG lLbound, ULONG cElements) {
  SAFEARRAYBOUND bound = {cElements, lLbound};
  return SafeArrayCreate(vt, 1, &bound);
}

HRESULT WINAPI SafeArrayDestroy(SAFEARRAY* psa) {
  if (psa == nullptr) return S_OK;
  if (Locks(psa).load() != 0) return DISP_E_ARRAYISLOCKED;
  ReleaseElements(psa);
  std::free(psa->pvData);
  FreeDescriptor(psa);
  return S_OK;
}

HRESULT WINAPI SafeArrayCopy(SAFEARRAY* psa, SAFEARRAY** ppsaOut) {
  if (ppsaOut == nullptr) return E_INVALIDARG;
  *ppsaOut = nullptr;
  if (psa == nullptr) return S_OK;
  if (psa->cDims == 0 || psa->cbElements == 0) return E_INVALIDARG;
  // Records would need their IRecordInfo to copy them; no record type is supported here.
  if (psa->fFeatures & FADF_RECORD) return E_INVALIDARG;
  SAFEARRAY* copy = AllocateDescriptor(psa->cDims);
  if (copy == nullptr) return E_OUTOFMEMORY;
  const size_t header = HiddenHeaderBytes(psa);
  std::memcpy(reinterpret_cast<BYTE*>(copy) - header, reinterpret_cast<BYTE*>(psa) - header,
              header + DescriptorBytes(psa->cDims));
  copy->cLocks = 0;
  copy->pvData = nullptr;
  copy->fFeatures &= ~(FADF_AUTO | FADF_STATIC | FADF_EMBEDDED | FADF_FIXEDSIZE);
  HRESULT hr = AllocateData(copy);
  if (SUCCEEDED(hr)) hr = CopyElements(psa, copy);
  if (FAILED(hr)) {
    SafeArrayDestroy(copy);
    return hr;
  }
  *ppsaOut = copy;
  return S_OK;
}

UINT WINAPI SafeArrayGetDim(SAFEARRAY* psa) {
  return psa == nullptr ? 0 : psa->cDims;
}

UINT WINAPI SafeArrayGetElemsize(SAFEARRAY* psa) {
  return psa == nullptr ? 0 : psa->cbElements;
}

HRESULT WINAPI SafeArrayGetVartype(SAFEARRAY* psa, VARTYPE* pvt) {
  if (psa == nullptr || pvt == nullptr) return E_INVALIDARG;
  if (psa->fFeatures & FADF_HAVEVARTYPE) {
    *pvt = HiddenVartype(psa);
  } else if (psa->fFeatures & FADF_BSTR) {
    *pvt = VT_BSTR;
  } else if (psa->fFeatures & FADF_UNKNOWN) {
    *pvt = VT_UNKNOWN;
  } else if (psa->fFeatures & FADF_DISPATCH) {
    *pvt = VT_DISPATCH;
  } else if (psa->fFeatures & FADF_VARIANT) {
    *pvt = VT_VARIANT;
  } else {
    return E_INVALIDARG;
  }
  return S_OK;
}

HRESULT WINAPI SafeArrayGetLBound(SAFEARRAY* psa, UINT nDim, LONG* plLbound) {
  if (psa == nullptr || plLbound == nullptr) return E_INVALIDARG;
  if (nDim == 0 || nDim > psa->cDims) return DISP_E_BADINDEX;
  *plLbound = psa->rgsabound[psa->cDims - nDim].lLbound;
  return S_OK;
}

HRESULT WINAPI SafeArrayGetUBound(SAFEARRAY* psa, UINT nDim, LONG* plUbound) {
  if (psa == nullptr || plUbound == nullptr) return E_INVALIDARG;
  if (nDim == 0 || nDim > psa->cDims) return DISP_E_BADINDEX;
  const SAFEARRAYBOUND& bound = psa->rgsabound[psa->cDims - nDim];
  *plUbound = static_cast<LONG>(static_cast<int64_t>(bound.lLbound) + bound.cElements - 1);
  return S_OK;
}

HRESULT WINAPI SafeArrayLock(SAFEARRAY* psa) {
  if (psa == nullptr) return E_INVALIDARG;
  if (Locks(psa).fetch_add(1) >= kMaxLocks) {
    Locks(psa).fetch_sub(1);
    return E_UNEXPECTED;
  }
  return S_OK;
}

HRESULT WINAPI SafeArrayUnlock(SAFEARRAY* psa) {
  if (psa == nullptr) return E_INVALIDARG;
  ULONG current = Locks(psa).load();
  do {
    if (current == 0) return E_UNEXPECTED;
  } while (!Locks(psa).compare_exchange_weak(current, current - 1));
  return S_OK;
}

HRESULT WINAPI SafeArrayAccessData(SAFEARRAY* psa, void** ppvData) {
  if (psa == nullptr || ppvData == nullptr) return E_INVALIDARG;
  const HRESULT hr = SafeArrayLock(psa);
  *ppvData = SUCCEEDED(hr) ? psa->pvData : nullptr;
  return hr;
}

HRESULT WINAPI SafeArrayUnaccessData(SAFEARRAY* psa) {
  return SafeArrayUnlock(psa);
}

HRESULT WINAPI SafeArrayPtrOfIndex(SAFEARRAY* psa, LONG* rgIndices, void** ppvData) {
  if (psa == nullptr || rgIndices == nullptr || ppvData == nullptr) return E_INVALIDARG;
  // The data is in column-major order: rgIndices[0], the leftmost dimension (stored last),
  // varies fastest, so the offset is built from the rightmost index (stored first) inwards.
  size_t offset = 0;
  for (USHORT i = psa->cDims; i-- > 0;) {
    const SAFEARRAYBOUND& bound = psa->rgsabound[psa->cDims - 1 - i];
    const int64_t index = static_cast<int64_t>(rgIndices[i]) - bound.lLbound;
    if (index < 0 || index >= static_cast<int64_t>(bound.cElements)) return DISP_E_BADINDEX;
    offset = offset * bound.cElements + static_cast<size_t>(index);
  }
  *ppvData = static_cast<BYTE*>(psa->pvData) + offset * psa->cbElements;
  return S_OK;
}

HRESULT WINAPI SafeArrayGetElement(SAFEARRAY* psa, LONG* rgIndices, void* pv) {
  if (pv == nullptr) return E_INVALIDARG;
  void* element;
  HRESULT hr = SafeArrayPtrOfIndex(psa, rgIndices, &element);
  if (FAILED(hr)) return hr;
  if (FAILED(hr = SafeArrayLock(psa))) return hr;
  if (psa->fFeatures & FADF_VARIANT) {
    auto* out = static_cast<VARIANT*>(pv);
    VariantInit(out);
    hr = VariantCopy(out, static_cast<VARIANT*>(element));
  } else if (psa->fFeatures & FADF_BSTR) {
    BSTR source = *static_cast<BSTR*>(element);
    BSTR copy = nullptr;
    if (source != nullptr) {
      copy = SysAllocStringByteLen(reinterpret_cast<LPCSTR>(source), SysStringByteLen(source));
      if (copy == nullptr) hr = E_OUTOFMEMORY;
    }
    *static_cast<BSTR*>(pv) = copy;
  } else if (psa->fFeatures & (FADF_UNKNOWN | FADF_DISPATCH)) {
    IUnknown* unknown = *static_cast<IUnknown**>(element);
    if (unknown != nullptr) unknown->AddRef();
    *static_cast<IUnknown**>(pv) = unknown;
  } else {
    std::memcpy(pv, element, psa->cbElements);
  }
  SafeArrayUnlock(psa);
  return hr;
}

HRESULT WINAPI SafeArrayPutElement(SAFEARRAY* psa, LONG* rgIndices, void* pv) {
  void* element;
  HRESULT hr = SafeArrayPtrOfIndex(psa, rgIndices, &element);
  if (FAILED(hr)) return hr;
  if (pv == nullptr && (psa->fFeatures & (FADF_BSTR | FADF_UNKNOWN | FADF_DISPATCH)) == 0)
    return E_INVALIDARG;
  if (FAILED(hr = SafeArrayLock(psa))) return hr;
  if (psa->fFeatures & FADF_VARIANT) {
    hr = VariantCopy(static_cast<VARIANT*>(element), static_cast<VARIANT*>(pv));
  } else if (psa->fFeatures & FADF_BSTR) {
    auto source = static_cast<BSTR>(pv);
    BSTR copy = nullptr;
    if (source != nullptr) {
      copy = SysAllocStringByteLen(reinterpret_cast<LPCSTR>(source), SysStringByteLen(source));
      if (copy == nullptr) hr = E_OUTOFMEMORY;
    }
    if (SUCCEEDED(hr)) {
      SysFreeString(*static_cast<BSTR*>(element));
      *static_cast<BSTR*>(element) = copy;
    }
  } else if (psa->fFeatures & (FADF_UNKNOWN | FADF_DISPATCH)) {
    auto* unknown = static_cast<IUnknown*>(pv);
    if (unknown != nullptr) unknown->AddRef();
    IUnknown*& slot = *static_cast<IUnknown**>(element);
    if (slot != nullptr) slot->Release();
    slot = unknown;
  } else {
    std::memcpy(element, pv, psa->cbElements);
  }
  SafeArrayUnlock(psa);
  return hr;
}
