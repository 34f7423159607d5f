// DispCallFunc: a call through an object's function table (or to a plain function) with the
// arguments held in VARIANTs, made with libffi for the x64 calling convention of this platform.
#include <ffi.h>

#include <new>
#include <vector>

#include "platform/winapi.h"

namespace {

// Structure types complete with size and alignment: ffi_prep_cif fills in only a zero size, so
// these shared objects are never written, whichever thread makes the first call.
static_assert(sizeof(VARIANT) == 3 * sizeof(uint64_t) && alignof(VARIANT) == alignof(uint64_t));
static_assert(sizeof(DECIMAL) == 2 * sizeof(uint64_t) && alignof(DECIMAL) == alignof(uint64_t));

ffi_type* VariantFfiType() {
  // 24 bytes, passed in memory by value.
  static ffi_type* elements[] = {&ffi_type_uint64, &ffi_type_uint64, &ffi_type_uint64, nullptr};
  static ffi_type type = {sizeof(VARIANT), alignof(VARIANT), FFI_TYPE_STRUCT, elements};
  return &type;
}

ffi_type* DecimalFfiType() {
  static ffi_type* elements[] = {&ffi_type_uint64, &ffi_type_uint64, nullptr};
  static ffi_type type = {sizeof(DECIMAL), alignof(DECIMAL), FFI_TYPE_STRUCT, elements};
  return &type;
}

// The libffi type of an argument or result of automation type `vt`; null when unsupported.
ffi_type* FfiTypeOf(VARTYPE vt) {
  if (vt & (VT_BYREF | VT_ARRAY)) return &ffi_type_pointer;
  switch (vt) {
    case VT_I1:
      return &ffi_type_sint8;
    case VT_UI1:
      return &ffi_type_uint8;
    case VT_I2:
    case VT_BOOL:
      return &ffi_type_sint16;
    case VT_UI2:
      return &ffi_type_uint16;
    case VT_I4:
    case VT_INT:
    case VT_ERROR:
    case VT_HRESULT:
      return &ffi_type_sint32;
    case VT_UI4:
    case VT_UINT:
      return &ffi_type_uint32;
    case VT_I8:
      return &ffi_type_sint64;
    case VT_UI8:
    case VT_CY:
      return &ffi_type_uint64;
    case VT_R4:
      return &ffi_type_float;
    case VT_R8:
    case VT_DATE:
      return &ffi_type_double;
    case VT_BSTR:
    case VT_DISPATCH:
    case VT_UNKNOWN:
    case VT_PTR:
    case VT_LPSTR:
    case VT_LPWSTR:
      return &ffi_type_pointer;
    case VT_VARIANT:
      return VariantFfiType();
    case VT_DECIMAL:
      return DecimalFfiType();
    default:
      return nullptr;
  }
}

}  // namespace

HRESULT WINAPI DispCallFunc(void* pvInstance, ULONG_PTR oVft, CALLCONV cc, VARTYPE vtReturn,
                            UINT cActuals, VARTYPE* prgvt, VARIANTARG** prgpvarg,
                            VARIANT* pvargResult) {
  // x64 has one calling convention for both.
  if (cc != CC_STDCALL && cc != CC_CDECL) return E_INVALIDARG;
  if (pvargResult == nullptr || (cActuals > 0 && (prgvt == nullptr || prgpvarg == nullptr)))
    return E_INVALIDARG;
  if (cActuals > 1024) return E_INVALIDARG;
  try {
    void* function = nullptr;
    if (pvInstance != nullptr) {
      if (oVft % sizeof(void*) != 0) return E_INVALIDARG;
      void* const* table = *static_cast<void* const* const*>(pvInstance);
      function = table[oVft / sizeof(void*)];
    } else {
      function = reinterpret_cast<void*>(oVft);
    }
    if (function == nullptr) return E_INVALIDARG;

    std::vector<ffi_type*> types;
    std::vector<void*> values;
    types.reserve(cActuals + 1);
    values.reserve(cActuals + 1);
    void* self = pvInstance;
    if (pvInstance != nullptr) {
      types.push_back(&ffi_type_pointer);
      values.push_back(&self);
    }
    for (UINT i = 0; i < cActuals; ++i) {
      ffi_type* type = FfiTypeOf(prgvt[i]);
      VARIANT* arg = prgpvarg[i];
      if (type == nullptr || arg == nullptr) return DISP_E_BADVARTYPE;
      types.push_back(type);
      if (prgvt[i] == VT_VARIANT) {
        values.push_back(arg);
      } else if (prgvt[i] == VT_DECIMAL) {
        values.push_back(&arg->decVal);
      } else {
        values.push_back(&arg->llVal);  // every other value starts at the union
      }
    }
    const VARTYPE result = vtReturn == VT_VOID ? static_cast<VARTYPE>(VT_EMPTY) : vtReturn;
    ffi_type* returnType = result == VT_EMPTY ? &ffi_type_void : FfiTypeOf(result);
    if (returnType == nullptr) return DISP_E_BADVARTYPE;
    ffi_cif cif;
    if (ffi_prep_cif(&cif, FFI_DEFAULT_ABI, static_cast<unsigned>(types.size()), returnType,
                     types.data()) != FFI_OK)
      return E_INVALIDARG;

    if (result == VT_VARIANT) {
      VARIANT value;
      VariantInit(&value);
      ffi_call(&cif, FFI_FN(function), &value, values.data());
      *pvargResult = value;
      return S_OK;
    }
    union {
      ffi_arg integer;
      uint64_t wide;
      float single;
      double real;
      void* pointer;
      DECIMAL decimal;
    } out{};
    ffi_call(&cif, FFI_FN(function), &out, values.data());
    VariantInit(pvargResult);
    switch (result) {
      case VT_EMPTY:
        break;
      case VT_R4:
        V_R4(pvargResult) = out.single;
        break;
      case VT_R8:
      case VT_DATE:
        V_R8(pvargResult) = out.real;
        break;
      case VT_DECIMAL:
        V_DECIMAL(pvargResult) = out.decimal;
        break;
      case VT_I1:
        V_I1(pvargResult) = static_cast<CHAR>(out.integer);
        break;
      case VT_UI1:
        V_UI1(pvargResult) = static_cast<BYTE>(out.integer);
        break;
      case VT_I2:
      case VT_BOOL:
        V_I2(pvargResult) = static_cast<SHORT>(out.integer);
        break;
      case VT_UI2:
        V_UI2(pvargResult) = static_cast<USHORT>(out.integer);
        break;
      case VT_I4:
      case VT_INT:
      case VT_ERROR:
      case VT_HRESULT:
        V_I4(pvargResult) = static_cast<LONG>(out.integer);
        break;
      case VT_UI4:
      case VT_UINT:
        V_UI4(pvargResult) = static_cast<ULONG>(out.integer);
        break;
      default:
        V_UI8(pvargResult) = out.wide;
        break;
    }
    V_VT(pvargResult) = result == VT_HRESULT ? static_cast<VARTYPE>(VT_ERROR) : result;
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    // A member that throws breaks the calling convention; nothing escapes across it.
    return E_UNEXPECTED;
  }
}
