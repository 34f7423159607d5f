// Drives IDispatch::Invoke of an IResize stand-in (the interface of component/Quorvex.idl)
// with arbitrary member ids, flags, named arguments and argument values, so that the
// platform's type-information-driven dispatch meets every kind of caller mistake.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "tests/platform/fake_resize.h"

namespace {

class Input {
 public:
  Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  uint32_t Word32() {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v = (v << 8) | Byte();
    return v;
  }
  double Real() {
    uint64_t bits = (static_cast<uint64_t>(Word32()) << 32) | Word32();
    double d;
    std::memcpy(&d, &bits, sizeof d);
    return d;
  }
  std::u16string Text() {
    const size_t length = Byte() % 24;
    std::u16string text;
    for (size_t i = 0; i < length; ++i) {
      const uint8_t c = Byte();
      text += static_cast<char16_t>(c < 0xF0 ? c : 0xD800 + c);  // lone surrogates too
    }
    return text;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

ITypeInfo* ResizeInfo() {
  static ITypeInfo* info = [] {
    const std::string path = QUORVEX_SOURCE_DIR "/component/Quorvex.idl";
    const std::u16string wide(path.begin(), path.end());
    ITypeLib* lib = nullptr;
    ITypeInfo* found = nullptr;
    if (SUCCEEDED(LoadTypeLibEx(wide.c_str(), REGKIND_NONE, &lib))) {
      lib->GetTypeInfoOfGuid(IID_IResize, &found);
      lib->Release();
    }
    return found;
  }();
  return info;
}

// Storage that by-reference arguments point into; lives for one call.
struct Referents {
  LONG longs[8] = {};
  BSTR texts[8] = {};
  VARIANT variants[8];
  int used = 0;
  Referents() {
    for (VARIANT& v : variants) VariantInit(&v);
  }
  ~Referents() {
    for (BSTR t : texts) SysFreeString(t);
    for (VARIANT& v : variants) VariantClear(&v);
  }
};

VARIANT MakeArgument(Input& in, Referents& refs, IDispatch* self) {
  VARIANT v;
  VariantInit(&v);
  const int slot = refs.used < 8 ? refs.used++ : 7;
  switch (in.Byte() % 16) {
    case 0:
      break;
    case 1:
      V_VT(&v) = VT_NULL;
      break;
    case 2:
      V_VT(&v) = VT_I4, V_I4(&v) = static_cast<LONG>(in.Word32());
      break;
    case 3:
      V_VT(&v) = VT_R8, V_R8(&v) = in.Real();
      break;
    case 4:
      V_VT(&v) = VT_BSTR, V_BSTR(&v) = SysAllocString(in.Text().c_str());
      break;
    case 5:
      V_VT(&v) = VT_BOOL, V_BOOL(&v) = in.Byte() & 1 ? VARIANT_TRUE : VARIANT_FALSE;
      break;
    case 6:
      V_VT(&v) = VT_ERROR, V_ERROR(&v) = DISP_E_PARAMNOTFOUND;
      break;
    case 7:
      V_VT(&v) = VT_I4 | VT_BYREF;
      refs.longs[slot] = static_cast<LONG>(in.Word32());
      V_I4REF(&v) = &refs.longs[slot];
      break;
    case 8:
      V_VT(&v) = VT_VARIANT | VT_BYREF;
      V_VT(&refs.variants[slot]) = VT_BSTR;
      V_BSTR(&refs.variants[slot]) = SysAllocString(in.Text().c_str());
      V_VARIANTREF(&v) = &refs.variants[slot];
      break;
    case 9:
      V_VT(&v) = VT_ARRAY | VT_UI1;
      V_ARRAY(&v) = SafeArrayCreateVector(VT_UI1, static_cast<LONG>(in.Byte()) - 128, in.Byte());
      if (V_ARRAY(&v) == nullptr) V_VT(&v) = VT_EMPTY;
      break;
    case 10:
      V_VT(&v) = VT_DISPATCH;
      V_DISPATCH(&v) = in.Byte() & 1 ? self : nullptr;
      if (V_DISPATCH(&v) != nullptr) self->AddRef();
      break;
    case 11:
      V_VT(&v) = VT_R4, V_R4(&v) = static_cast<float>(in.Real());
      break;
    case 12:
      V_VT(&v) = VT_UI1, V_UI1(&v) = in.Byte();
      break;
    case 13:
      V_VT(&v) = VT_BSTR | VT_BYREF;
      refs.texts[slot] = SysAllocString(in.Text().c_str());
      V_BSTRREF(&v) = &refs.texts[slot];
      break;
    case 14:
      V_VT(&v) = VT_I2, V_I2(&v) = static_cast<SHORT>(in.Word32());
      break;
    default:
      V_VT(&v) = VT_VARIANT | VT_BYREF;
      V_VARIANTREF(&v) = &refs.variants[slot];  // an empty referent
      break;
  }
  return v;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ITypeInfo* info = ResizeInfo();
  if (info == nullptr) __builtin_trap();  // the description must always load
  quorvex_test::FakeResize object(info);
  Input in(data, size);

  static const DISPID kIds[] = {1,  2,  3,  4,  5,  6,          7,          8,         9,  10,
                                11, 12, 13, 14, 15, 16,         17,         18,        19, 20,
                                0,  -1, -3, 21, 99, 0x60000000, 0x60010003, 0x60020000};
  const uint8_t pick = in.Byte();
  const DISPID id =
      pick < 200 ? kIds[pick % (sizeof kIds / sizeof kIds[0])] : static_cast<DISPID>(in.Word32());
  const WORD flags = static_cast<WORD>(in.Byte() & 0x1F);
  const UINT count = in.Byte() % 7;
  const UINT named = count == 0 ? 0 : in.Byte() % (count + 1);

  Referents refs;
  std::vector<VARIANT> args(count);
  for (VARIANT& arg : args) arg = MakeArgument(in, refs, &object);
  std::vector<DISPID> names(named);
  for (DISPID& n : names) {
    const uint8_t kind = in.Byte();
    n = kind < 128   ? DISPID_PROPERTYPUT
        : kind < 250 ? (kind % 8)
                     : static_cast<DISPID>(in.Word32());
  }
  DISPPARAMS params = {args.empty() ? nullptr : args.data(), names.empty() ? nullptr : names.data(),
                       count, named};
  VARIANT result;
  VariantInit(&result);
  EXCEPINFO excep{};
  UINT argErr = 0;
  const bool wantResult = in.Byte() & 1;
  const bool wantExcep = in.Byte() & 1;
  object.Invoke(id, IID_NULL, 0x409, flags, &params, wantResult ? &result : nullptr,
                wantExcep ? &excep : nullptr, &argErr);
  VariantClear(&result);
  SysFreeString(excep.bstrSource);
  SysFreeString(excep.bstrDescription);
  SysFreeString(excep.bstrHelpFile);
  for (VARIANT& arg : args) VariantClear(&arg);
  SetErrorInfo(0, nullptr);
  return 0;
}
