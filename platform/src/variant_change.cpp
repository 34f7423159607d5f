// VariantChangeType and VariantCopyInd: the automation library's coercion rules between the
// simple types, strings, Booleans, objects (through their default value) and arrays.
#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>

#include "platform/src/number_text.h"
#include "platform/src/text.h"
#include "platform/src/variant_type.h"

namespace {

using platform_detail::FormatReal;
using platform_detail::MakeBstr;
using platform_detail::ParsedNumber;
using platform_detail::ParseNumber;

constexpr VARTYPE kVtClsid = 72;
// Currency is an integer count of 1/10000.
constexpr int64_t kCurrencyScale = 10000;
constexpr int64_t kCurrencyHalf = kCurrencyScale / 2;
// A DATE lies strictly between these day numbers (1 January 100 and 1 January 10000).
constexpr double kMinDate = -657435.0;
constexpr double kMaxDate = 2958466.0;
// An object's default value may itself be an object; follow a few levels, not forever.
constexpr int kMaxValueDepth = 8;

// A numeric value lifted out of a VARIANT.
struct Number {
  enum Kind { kSigned, kUnsigned, kReal, kCurrency } kind = kSigned;
  int64_t s = 0;
  uint64_t u = 0;
  double r = 0;
  bool fromBool = false;
};

bool NumberOf(const VARIANT& v, Number* n) {
  *n = Number();
  switch (V_VT(&v)) {
    case VT_I1:
      n->s = V_I1(&v);
      return true;
    case VT_I2:
      n->s = V_I2(&v);
      return true;
    case VT_I4:
      n->s = V_I4(&v);
      return true;
    case VT_INT:
      n->s = V_INT(&v);
      return true;
    case VT_I8:
      n->s = V_I8(&v);
      return true;
    case VT_BOOL:
      n->s = V_BOOL(&v);
      n->fromBool = true;
      return true;
    case VT_UI1:
      n->kind = Number::kUnsigned;
      n->u = V_UI1(&v);
      return true;
    case VT_UI2:
      n->kind = Number::kUnsigned;
      n->u = V_UI2(&v);
      return true;
    case VT_UI4:
      n->kind = Number::kUnsigned;
      n->u = V_UI4(&v);
      return true;
    case VT_UINT:
      n->kind = Number::kUnsigned;
      n->u = V_UINT(&v);
      return true;
    case VT_UI8:
      n->kind = Number::kUnsigned;
      n->u = V_UI8(&v);
      return true;
    case VT_R4:
      n->kind = Number::kReal;
      n->r = V_R4(&v);
      return true;
    case VT_R8:
      n->kind = Number::kReal;
      n->r = V_R8(&v);
      return true;
    case VT_DATE:
      n->kind = Number::kReal;
      n->r = V_DATE(&v);
      return true;
    case VT_CY:
      n->kind = Number::kCurrency;
      n->s = V_CY(&v).int64;
      return true;
    case VT_DECIMAL: {
      const DECIMAL& d = V_DECIMAL(&v);
      if (d.scale > 28 || (d.sign & 0x7F) != 0) return false;
      double value =
          static_cast<double>(d.Hi32) * 18446744073709551616.0 + static_cast<double>(d.Lo64);
      value /= std::pow(10.0, d.scale);
      n->kind = Number::kReal;
      n->r = (d.sign & 0x80) ? -value : value;
      return true;
    }
    default:
      return false;
  }
}

double AsDouble(const Number& n) {
  switch (n.kind) {
    case Number::kSigned:
      return static_cast<double>(n.s);
    case Number::kUnsigned:
      return static_cast<double>(n.u);
    case Number::kReal:
      return n.r;
    case Number::kCurrency:
      return static_cast<double>(n.s) / static_cast<double>(kCurrencyScale);
  }
  return 0;
}

bool IsZero(const Number& n) {
  switch (n.kind) {
    case Number::kSigned:
    case Number::kCurrency:
      return n.s == 0;
    case Number::kUnsigned:
      return n.u == 0;
    case Number::kReal:
      return n.r == 0;
  }
  return true;
}

struct IntegerType {
  int bits;
  bool isSigned;
};

bool IntegerTarget(VARTYPE vt, IntegerType* t) {
  switch (vt) {
    case VT_I1:
      *t = {8, true};
      return true;
    case VT_UI1:
      *t = {8, false};
      return true;
    case VT_I2:
      *t = {16, true};
      return true;
    case VT_UI2:
      *t = {16, false};
      return true;
    case VT_I4:
      *t = {32, true};
      return true;
    case VT_UI4:
      *t = {32, false};
      return true;
    case VT_I8:
      *t = {64, true};
      return true;
    case VT_UI8:
      *t = {64, false};
      return true;
    default:
      return false;
  }
}

VARTYPE NormalType(VARTYPE vt) {
  if (vt == VT_INT) return VT_I4;
  if (vt == VT_UINT) return VT_UI4;
  return vt;
}

int BitsOf(VARTYPE vt) {
  IntegerType t{};
  return IntegerTarget(NormalType(vt), &t) ? t.bits : 0;
}

void StoreInteger(VARIANT* out, VARTYPE vt, uint64_t raw) {
  switch (vt) {
    case VT_I1:
      V_I1(out) = static_cast<CHAR>(raw);
      break;
    case VT_UI1:
      V_UI1(out) = static_cast<BYTE>(raw);
      break;
    case VT_I2:
      V_I2(out) = static_cast<SHORT>(raw);
      break;
    case VT_UI2:
      V_UI2(out) = static_cast<USHORT>(raw);
      break;
    case VT_I4:
      V_I4(out) = static_cast<LONG>(raw);
      break;
    case VT_UI4:
      V_UI4(out) = static_cast<ULONG>(raw);
      break;
    case VT_I8:
      V_I8(out) = static_cast<LONGLONG>(raw);
      break;
    default:
      V_UI8(out) = raw;
      break;
  }
}

bool FitsSigned(int64_t v, const IntegerType& t) {
  if (t.isSigned) {
    if (t.bits == 64) return true;
    const int64_t limit = int64_t{1} << (t.bits - 1);
    return v >= -limit && v < limit;
  }
  if (v < 0) return false;
  return t.bits == 64 || static_cast<uint64_t>(v) < (uint64_t{1} << t.bits);
}

bool FitsUnsigned(uint64_t v, const IntegerType& t) {
  const int usable = t.isSigned ? t.bits - 1 : t.bits;
  return usable == 64 || v < (uint64_t{1} << usable);
}

// Rounds half to even and checks the range; NaN never fits.
bool RealToInteger(double r, const IntegerType& t, uint64_t* raw) {
  if (std::isnan(r)) return false;
  double whole = std::floor(r);
  const double fraction = r - whole;
  if (fraction > 0.5 || (fraction == 0.5 && std::fmod(whole, 2.0) != 0)) whole += 1;
  if (t.isSigned) {
    const double low = t.bits == 64 ? -9223372036854775808.0 : -std::ldexp(1.0, t.bits - 1);
    const double high = std::ldexp(1.0, t.bits - 1);
    if (whole < low || whole >= high) return false;
    *raw = static_cast<uint64_t>(static_cast<int64_t>(whole));
  } else {
    if (whole < 0 || whole >= std::ldexp(1.0, t.bits)) return false;
    *raw = static_cast<uint64_t>(whole);
  }
  return true;
}

// Currency is an integer count of 1/10000; rounding to a whole number is half to even.
int64_t CurrencyToWhole(int64_t cy) {
  int64_t whole = cy / kCurrencyScale;
  const int64_t rest = cy % kCurrencyScale;
  if (rest > kCurrencyHalf || (rest == kCurrencyHalf && (whole & 1))) ++whole;
  if (rest < -kCurrencyHalf || (rest == -kCurrencyHalf && (whole & 1))) --whole;
  return whole;
}

HRESULT NumberToInteger(const Number& n, VARTYPE from, VARTYPE to, VARIANT* out) {
  IntegerType t{};
  IntegerTarget(to, &t);
  uint64_t raw = 0;
  // Same width, other signedness, and Booleans: the bits are taken as they are.
  if (n.fromBool || (BitsOf(from) == t.bits && (n.kind == Number::kSigned) != t.isSigned &&
                     (n.kind == Number::kSigned || n.kind == Number::kUnsigned))) {
    raw = n.kind == Number::kSigned ? static_cast<uint64_t>(n.s) : n.u;
  } else if (n.kind == Number::kSigned) {
    if (!FitsSigned(n.s, t)) return DISP_E_OVERFLOW;
    raw = static_cast<uint64_t>(n.s);
  } else if (n.kind == Number::kUnsigned) {
    if (!FitsUnsigned(n.u, t)) return DISP_E_OVERFLOW;
    raw = n.u;
  } else if (n.kind == Number::kCurrency) {
    const int64_t whole = CurrencyToWhole(n.s);
    if (!FitsSigned(whole, t)) return DISP_E_OVERFLOW;
    raw = static_cast<uint64_t>(whole);
  } else if (!RealToInteger(n.r, t, &raw)) {
    return DISP_E_OVERFLOW;
  }
  StoreInteger(out, to, raw);
  return S_OK;
}

HRESULT RealToCurrency(double r, CY* out) {
  const double scaled = r * static_cast<double>(kCurrencyScale);
  uint64_t raw = 0;
  if (!RealToInteger(scaled, IntegerType{64, true}, &raw)) return DISP_E_OVERFLOW;
  out->int64 = static_cast<int64_t>(raw);
  return S_OK;
}

HRESULT NumberToTarget(const Number& n, VARTYPE from, VARTYPE to, VARIANT* out) {
  IntegerType t{};
  if (IntegerTarget(to, &t)) return NumberToInteger(n, from, to, out);
  switch (to) {
    case VT_R4: {
      const double r = AsDouble(n);
      if (r < -FLT_MAX || r > FLT_MAX) return DISP_E_OVERFLOW;
      V_R4(out) = static_cast<float>(r);
      return S_OK;
    }
    case VT_R8:
      V_R8(out) = AsDouble(n);
      return S_OK;
    case VT_DATE: {
      const double r = AsDouble(n);
      if (!(r > kMinDate && r < kMaxDate)) return DISP_E_OVERFLOW;
      V_DATE(out) = r;
      return S_OK;
    }
    case VT_BOOL:
      V_BOOL(out) = IsZero(n) ? VARIANT_FALSE : VARIANT_TRUE;
      return S_OK;
    case VT_CY:
      if (n.kind == Number::kCurrency) {
        V_CY(out).int64 = n.s;
        return S_OK;
      }
      if (n.kind == Number::kSigned) {
        if (n.s > INT64_MAX / kCurrencyScale || n.s < INT64_MIN / kCurrencyScale)
          return DISP_E_OVERFLOW;
        V_CY(out).int64 = n.s * kCurrencyScale;
        return S_OK;
      }
      return RealToCurrency(AsDouble(n), &V_CY(out));
    case VT_DECIMAL: {
      if (n.kind == Number::kReal || n.kind == Number::kCurrency)
        return DISP_E_TYPEMISMATCH;  // only whole numbers become decimals here
      DECIMAL& d = V_DECIMAL(out);
      d = DECIMAL{};
      if (n.kind == Number::kSigned) {
        // A Boolean becomes 1, not -1, in a decimal.
        const int64_t s = n.fromBool ? (n.s != 0 ? 1 : 0) : n.s;
        d.sign = s < 0 ? 0x80 : 0;
        d.Lo64 = s < 0 ? 0 - static_cast<uint64_t>(s) : static_cast<uint64_t>(s);
      } else {
        d.Lo64 = n.u;
      }
      return S_OK;
    }
    default:
      return DISP_E_TYPEMISMATCH;
  }
}

HRESULT ParsedToTarget(const ParsedNumber& p, VARTYPE to, VARIANT* out) {
  IntegerType t{};
  if (IntegerTarget(to, &t)) {
    if (p.hexOrOctal) {
      // A radix number keeps its bit pattern when it fits the width.
      if (t.bits < 64 && p.radixValue >> t.bits != 0) return DISP_E_OVERFLOW;
      StoreInteger(out, to, p.radixValue);
      return S_OK;
    }
    uint64_t magnitude = 0;
    if (!RoundedMagnitude(p, &magnitude)) return DISP_E_OVERFLOW;
    if (p.negative && magnitude != 0) {
      if (!t.isSigned) return DISP_E_OVERFLOW;
      if (magnitude > (uint64_t{1} << (t.bits - 1))) return DISP_E_OVERFLOW;
      StoreInteger(out, to, 0 - magnitude);
      return S_OK;
    }
    if (!FitsUnsigned(magnitude, t)) return DISP_E_OVERFLOW;
    StoreInteger(out, to, magnitude);
    return S_OK;
  }
  double value;
  if (p.hexOrOctal) {
    if (p.radixValue <= 0x7FFFFFFF) {
      value = static_cast<double>(p.radixValue);
    } else if (p.radixValue <= 0x80000000u) {
      value = -static_cast<double>(p.radixValue);
    } else {
      return DISP_E_OVERFLOW;
    }
  } else {
    value = platform_detail::ToDouble(p);
  }
  switch (to) {
    case VT_R4: {
      const double a = std::fabs(value);
      if (!(a == 0 || (a <= FLT_MAX && a >= FLT_MIN))) return DISP_E_OVERFLOW;
      V_R4(out) = static_cast<float>(value);
      return S_OK;
    }
    case VT_R8:
      if (std::isinf(value)) return DISP_E_OVERFLOW;
      V_R8(out) = value;
      return S_OK;
    case VT_CY:
      return RealToCurrency(value, &V_CY(out));
    default:
      return DISP_E_TYPEMISMATCH;  // dates and decimals are not read from text here
  }
}

HRESULT BoolFromText(std::u16string_view text, VARIANT_BOOL* out) {
  if (platform_detail::EqualsIgnoreCase(text, u"True")) {
    *out = VARIANT_TRUE;
    return S_OK;
  }
  if (platform_detail::EqualsIgnoreCase(text, u"False")) {
    *out = VARIANT_FALSE;
    return S_OK;
  }
  if (text == u"#TRUE#") {
    *out = VARIANT_TRUE;
    return S_OK;
  }
  if (text == u"#FALSE#") {
    *out = VARIANT_FALSE;
    return S_OK;
  }
  ParsedNumber p;
  const HRESULT hr = ParseNumber(text, &p);
  if (FAILED(hr)) return hr;
  const bool zero = p.hexOrOctal ? p.radixValue == 0 : p.digits == "0";
  *out = zero ? VARIANT_FALSE : VARIANT_TRUE;
  return S_OK;
}

std::u16string IntegerText(bool negative, uint64_t magnitude) {
  std::u16string digits;
  do {
    digits.insert(digits.begin(), static_cast<char16_t>(u'0' + magnitude % 10));
    magnitude /= 10;
  } while (magnitude != 0);
  if (negative) digits.insert(digits.begin(), u'-');
  return digits;
}

// Scaled whole number as text with the fraction's trailing zeros removed.
std::u16string ScaledText(bool negative, unsigned __int128 magnitude, int scale) {
  std::u16string digits;
  do {
    digits.insert(digits.begin(), static_cast<char16_t>(u'0' + static_cast<int>(magnitude % 10)));
    magnitude /= 10;
  } while (magnitude != 0);
  while (static_cast<int>(digits.size()) <= scale) digits.insert(digits.begin(), u'0');
  if (scale > 0) {
    digits.insert(digits.end() - scale, u'.');
    while (digits.back() == u'0') digits.pop_back();
    if (digits.back() == u'.') digits.pop_back();
  }
  const bool zero = digits == u"0";
  if (negative && !zero) digits.insert(digits.begin(), u'-');
  return digits;
}

HRESULT NumberToText(const VARIANT& v, USHORT flags, BSTR* out) {
  std::u16string text;
  switch (V_VT(&v)) {
    case VT_BOOL:
      if (flags & (VARIANT_ALPHABOOL | VARIANT_LOCALBOOL)) {
        text = V_BOOL(&v) ? u"True" : u"False";
      } else {
        text = V_BOOL(&v) ? u"-1" : u"0";
      }
      break;
    case VT_R4:
      text = FormatReal(V_R4(&v), 7);
      break;
    case VT_R8:
      text = FormatReal(V_R8(&v), 15);
      break;
    case VT_CY: {
      const int64_t s = V_CY(&v).int64;
      const unsigned __int128 m = s < 0 ? 0 - static_cast<uint64_t>(s) : static_cast<uint64_t>(s);
      text = ScaledText(s < 0, m, 4);
      break;
    }
    case VT_DECIMAL: {
      const DECIMAL& d = V_DECIMAL(&v);
      if (d.scale > 28 || (d.sign & 0x7F) != 0) return E_INVALIDARG;
      const unsigned __int128 m = (static_cast<unsigned __int128>(d.Hi32) << 64) | d.Lo64;
      text = ScaledText((d.sign & 0x80) != 0, m, d.scale);
      break;
    }
    case VT_DATE:
      return DISP_E_TYPEMISMATCH;  // dates are not written as text on this platform
    default: {
      Number n;
      if (!NumberOf(v, &n)) return DISP_E_TYPEMISMATCH;
      if (n.kind == Number::kSigned) {
        text = IntegerText(n.s < 0,
                           n.s < 0 ? 0 - static_cast<uint64_t>(n.s) : static_cast<uint64_t>(n.s));
      } else {
        text = IntegerText(false, n.u);
      }
    }
  }
  *out = MakeBstr(text);
  return S_OK;
}

HRESULT ChangeType(VARIANT* out, const VARIANT& in, LCID lcid, USHORT flags, VARTYPE vt, int depth);

// An object's value is its default property (dispatch identifier 0).
HRESULT FromObjectValue(VARIANT* out, IDispatch* object, LCID lcid, USHORT flags, VARTYPE vt,
                        int depth) {
  if (object == nullptr || depth >= kMaxValueDepth) return DISP_E_TYPEMISMATCH;
  DISPPARAMS none = {nullptr, nullptr, 0, 0};
  VARIANT value;
  VariantInit(&value);
  HRESULT hr = object->Invoke(DISPID_VALUE, IID_NULL, lcid, DISPATCH_PROPERTYGET, &none, &value,
                              nullptr, nullptr);
  // An object without a default value is simply not of the wanted type.
  if (hr == DISP_E_MEMBERNOTFOUND) hr = DISP_E_TYPEMISMATCH;
  if (SUCCEEDED(hr)) {
    VARIANT deref;
    VariantInit(&deref);
    hr = VariantCopyInd(&deref, &value);
    if (SUCCEEDED(hr)) hr = ChangeType(out, deref, lcid, flags, vt, depth + 1);
    VariantClear(&deref);
  }
  VariantClear(&value);
  return hr;
}

HRESULT CoerceArray(VARIANT* out, const VARIANT& in, VARTYPE vt) {
  if (vt == VT_BSTR && V_VT(&in) == (VT_ARRAY | VT_UI1))
    return BstrFromVector(V_ARRAY(&in), &V_BSTR(out));
  if (V_VT(&in) == VT_BSTR && vt == (VT_ARRAY | VT_UI1))
    return VectorFromBstr(V_BSTR(&in), &V_ARRAY(out));
  if (V_VT(&in) == vt) return SafeArrayCopy(V_ARRAY(&in), &V_ARRAY(out));
  return DISP_E_TYPEMISMATCH;
}

// Converts a by-value `in` into `out` (empty on entry); `out` gets its type only on success.
HRESULT Coerce(VARIANT* out, const VARIANT& in, LCID lcid, USHORT flags, VARTYPE vt, int depth) {
  const VARTYPE from = NormalType(V_VT(&in) & VT_TYPEMASK);
  const VARTYPE to = NormalType(vt);
  if (from == to) return VariantCopy(out, &in);
  if ((flags & VARIANT_NOVALUEPROP) && from == VT_DISPATCH && to != VT_UNKNOWN)
    return DISP_E_TYPEMISMATCH;
  switch (to) {
    case VT_EMPTY:
    case VT_NULL:
      if (to == VT_EMPTY && from == VT_NULL) return DISP_E_TYPEMISMATCH;
      if (from <= VT_UINT && from != 15 && from != VT_ERROR) return S_OK;
      return DISP_E_TYPEMISMATCH;
    case VT_UNKNOWN:
      if (from != VT_DISPATCH) return DISP_E_TYPEMISMATCH;
      if (V_DISPATCH(&in) == nullptr) {
        V_UNKNOWN(out) = nullptr;
        return S_OK;
      }
      return V_DISPATCH(&in)->QueryInterface(IID_IUnknown,
                                             reinterpret_cast<void**>(&V_UNKNOWN(out)));
    case VT_DISPATCH:
      if (from != VT_UNKNOWN) return DISP_E_TYPEMISMATCH;
      if (V_UNKNOWN(&in) == nullptr) {
        V_DISPATCH(out) = nullptr;
        return S_OK;
      }
      return V_UNKNOWN(&in)->QueryInterface(IID_IDispatch,
                                            reinterpret_cast<void**>(&V_DISPATCH(out)));
    case VT_ERROR:
      return DISP_E_TYPEMISMATCH;
    case VT_BSTR:
      if (from == VT_EMPTY) {
        V_BSTR(out) = SysAllocStringLen(nullptr, 0);
        return V_BSTR(out) != nullptr ? S_OK : E_OUTOFMEMORY;
      }
      if (from == VT_DISPATCH) return FromObjectValue(out, V_DISPATCH(&in), lcid, flags, vt, depth);
      if (from == VT_NULL || from == VT_ERROR || from == VT_UNKNOWN) return DISP_E_TYPEMISMATCH;
      return NumberToText(in, flags, &V_BSTR(out));
    default:
      break;
  }
  // Numeric and Boolean targets.
  IntegerType it{};
  const bool numericTarget = IntegerTarget(to, &it) || to == VT_R4 || to == VT_R8 ||
                             to == VT_DATE || to == VT_BOOL || to == VT_CY || to == VT_DECIMAL;
  if (!numericTarget) return DISP_E_TYPEMISMATCH;
  if (from == VT_EMPTY) {
    if (to == VT_DECIMAL) {
      V_DECIMAL(out) = DECIMAL{};
    } else {
      V_UI8(out) = 0;
    }
    return S_OK;
  }
  if (from == VT_DISPATCH) return FromObjectValue(out, V_DISPATCH(&in), lcid, flags, vt, depth);
  if (from == VT_BSTR) {
    const std::u16string_view text(V_BSTR(&in), SysStringLen(V_BSTR(&in)));
    if (V_BSTR(&in) == nullptr) return DISP_E_TYPEMISMATCH;
    if (to == VT_BOOL) return BoolFromText(text, &V_BOOL(out));
    ParsedNumber p;
    const HRESULT hr = ParseNumber(text, &p);
    if (FAILED(hr)) return hr;
    return ParsedToTarget(p, to, out);
  }
  Number n;
  if (!NumberOf(in, &n)) return DISP_E_TYPEMISMATCH;
  return NumberToTarget(n, from, to, out);
}

HRESULT ChangeType(VARIANT* out, const VARIANT& in, LCID lcid, USHORT flags, VARTYPE vt,
                   int depth) {
  VARIANT result;
  VariantInit(&result);
  V_UI8(&result) = 0;
  HRESULT hr;
  try {
    if ((V_VT(&in) & VT_ARRAY) || (vt & VT_ARRAY)) {
      hr = CoerceArray(&result, in, vt);
    } else {
      hr = Coerce(&result, in, lcid, flags, vt, depth);
    }
  } catch (const std::bad_alloc&) {
    hr = E_OUTOFMEMORY;
  }
  if (FAILED(hr)) return hr;
  // Coerce filled the value only; the type comes last so a failure leaves nothing owned.
  V_VT(&result) = vt;
  hr = VariantClear(out);
  if (FAILED(hr)) {
    VariantClear(&result);
    return hr;
  }
  *out = result;
  return S_OK;
}

}  // namespace

HRESULT WINAPI VariantCopyInd(VARIANT* pvarDest, const VARIANTARG* pvargSrc) {
  if (pvarDest == nullptr || pvargSrc == nullptr) return E_INVALIDARG;
  if (!V_ISBYREF(pvargSrc)) return VariantCopy(pvarDest, pvargSrc);
  const VARTYPE vt = V_VT(pvargSrc);
  const VARTYPE base = vt & VT_TYPEMASK;
  if (!(V_ISARRAY(pvargSrc) || vt == (VT_RECORD | VT_BYREF) ||
        (base > VT_NULL && base != 15 && base < VT_VOID && !(vt & (0x1000 | VT_RESERVED)))))
    return E_INVALIDARG;
  if (V_BYREF(pvargSrc) == nullptr) return E_INVALIDARG;
  if (vt == (VT_RECORD | VT_BYREF)) return DISP_E_BADVARTYPE;  // no record types here

  VARIANT source = *pvargSrc;  // the reference survives clearing an in-place destination
  VARIANT result;
  VariantInit(&result);
  HRESULT hr = S_OK;
  if (V_ISARRAY(&source)) {
    hr = SafeArrayCopy(*V_ARRAYREF(&source), &V_ARRAY(&result));
  } else if (vt == (VT_BSTR | VT_BYREF)) {
    BSTR text = *V_BSTRREF(&source);
    V_BSTR(&result) = nullptr;
    if (text != nullptr) {
      V_BSTR(&result) =
          SysAllocStringByteLen(reinterpret_cast<LPCSTR>(text), SysStringByteLen(text));
      if (V_BSTR(&result) == nullptr) hr = E_OUTOFMEMORY;
    }
  } else if (vt == (VT_DISPATCH | VT_BYREF) || vt == (VT_UNKNOWN | VT_BYREF)) {
    V_UNKNOWN(&result) = *V_UNKNOWNREF(&source);
    if (V_UNKNOWN(&result) != nullptr) V_UNKNOWN(&result)->AddRef();
  } else if (vt == (VT_VARIANT | VT_BYREF)) {
    const VARIANT* inner = V_VARIANTREF(&source);
    // One level only, as the automation library does.
    if (V_VT(inner) == (VT_VARIANT | VT_BYREF)) return E_INVALIDARG;
    hr = VariantCopyInd(&result, inner);
    if (FAILED(hr)) return hr;
    hr = VariantClear(pvarDest);
    if (FAILED(hr)) {
      VariantClear(&result);
      return hr;
    }
    *pvarDest = result;
    return S_OK;
  } else if (vt == (VT_DECIMAL | VT_BYREF)) {
    V_DECIMAL(&result) = *source.pdecVal;
  } else {
    const size_t size = platform_detail::ArrayElementSize(base);
    if (size == 0 || size > sizeof(ULONGLONG)) return E_INVALIDARG;
    std::memcpy(&V_UI8(&result), V_BYREF(&source), size);
  }
  if (FAILED(hr)) return hr;
  V_VT(&result) = vt & ~VT_BYREF;
  hr = VariantClear(pvarDest);
  if (FAILED(hr)) {
    VariantClear(&result);
    return hr;
  }
  *pvarDest = result;
  return S_OK;
}

HRESULT WINAPI VariantChangeTypeEx(VARIANTARG* pvargDest, const VARIANTARG* pvarSrc, LCID lcid,
                                   USHORT wFlags, VARTYPE vt) {
  if (pvargDest == nullptr || pvarSrc == nullptr) return E_INVALIDARG;
  if (vt == kVtClsid) return DISP_E_BADVARTYPE;
  HRESULT hr = platform_detail::ValidateVariantType(V_VT(pvarSrc));
  if (FAILED(hr)) return hr;
  hr = platform_detail::ValidateVariantType(vt);
  if (FAILED(hr)) return hr;
  if (V_ISBYREF(pvarSrc) && V_BYREF(pvarSrc) == nullptr) return DISP_E_TYPEMISMATCH;
  VARIANT deref;
  VariantInit(&deref);
  hr = VariantCopyInd(&deref, pvarSrc);
  if (FAILED(hr)) return hr;
  hr = ChangeType(pvargDest, deref, lcid, wFlags, vt, 0);
  VariantClear(&deref);
  return hr;
}

HRESULT WINAPI VariantChangeType(VARIANTARG* pvargDest, const VARIANTARG* pvarSrc, USHORT wFlags,
                                 VARTYPE vt) {
  return VariantChangeTypeEx(pvargDest, pvarSrc, LOCALE_USER_DEFAULT, wFlags, vt);
}

HRESULT WINAPI BstrFromVector(SAFEARRAY* psa, BSTR* pbstr) {
  if (pbstr == nullptr) return E_INVALIDARG;
  *pbstr = nullptr;
  if (psa == nullptr || psa->cDims != 1 || psa->cbElements != 1) return E_INVALIDARG;
  *pbstr = SysAllocStringByteLen(static_cast<LPCSTR>(psa->pvData), psa->rgsabound[0].cElements);
  return *pbstr != nullptr ? S_OK : E_OUTOFMEMORY;
}

HRESULT WINAPI VectorFromBstr(BSTR bstr, SAFEARRAY** ppsa) {
  if (ppsa == nullptr) return E_INVALIDARG;
  const UINT bytes = SysStringByteLen(bstr);
  *ppsa = SafeArrayCreateVector(VT_UI1, 0, bytes);
  if (*ppsa == nullptr) return E_OUTOFMEMORY;
  if (bytes != 0) std::memcpy((*ppsa)->pvData, bstr, bytes);
  return S_OK;
}
