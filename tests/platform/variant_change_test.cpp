// VariantChangeType: the conversion table of the automation library in the en-US locale.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "tests/platform/ole_text.h"

namespace {

VARIANT Text(const OLECHAR* text) {
  VARIANT v;
  VariantInit(&v);
  V_VT(&v) = VT_BSTR;
  V_BSTR(&v) = SysAllocString(text);
  return v;
}

VARIANT Long(LONG value) {
  VARIANT v;
  VariantInit(&v);
  V_VT(&v) = VT_I4;
  V_I4(&v) = value;
  return v;
}

struct TextToNumber {
  const OLECHAR* text;
  VARTYPE to;
  HRESULT hr;
  double value;  // compared after conversion to VT_R8 of the result
};

double NumericValue(const VARIANT& v) {
  switch (V_VT(&v)) {
    case VT_I2:
      return V_I2(&v);
    case VT_I4:
      return V_I4(&v);
    case VT_UI1:
      return V_UI1(&v);
    case VT_UI4:
      return V_UI4(&v);
    case VT_R4:
      return V_R4(&v);
    case VT_R8:
      return V_R8(&v);
    case VT_BOOL:
      return V_BOOL(&v);
    default:
      return std::nan("");
  }
}

class FromText : public ::testing::TestWithParam<TextToNumber> {};
TEST_P(FromText, ParsesAsTheAutomationLibrary) {
  const TextToNumber& c = GetParam();
  VARIANT in = Text(c.text);
  VARIANT out;
  VariantInit(&out);
  const HRESULT hr = VariantChangeType(&out, &in, 0, c.to);
  EXPECT_EQ(hr, c.hr) << std::string(c.text, c.text + std::char_traits<OLECHAR>::length(c.text));
  if (SUCCEEDED(hr) && SUCCEEDED(c.hr)) {
    EXPECT_EQ(V_VT(&out), c.to);
    EXPECT_DOUBLE_EQ(NumericValue(out), c.value);
  } else {
    EXPECT_EQ(V_VT(&out), VT_EMPTY) << "a failed conversion leaves the destination alone";
  }
  VariantClear(&in);
  VariantClear(&out);
}

constexpr HRESULT OK = S_OK;
constexpr HRESULT MISMATCH = DISP_E_TYPEMISMATCH;
constexpr HRESULT OVERFLOW_ = DISP_E_OVERFLOW;

INSTANTIATE_TEST_SUITE_P(
    Integers, FromText,
    ::testing::Values(
        TextToNumber{OLESTR("123"), VT_I4, OK, 123}, TextToNumber{OLESTR("  42  "), VT_I4, OK, 42},
        TextToNumber{OLESTR("-7"), VT_I4, OK, -7}, TextToNumber{OLESTR("7-"), VT_I4, OK, -7},
        TextToNumber{OLESTR("(7)"), VT_I4, OK, -7}, TextToNumber{OLESTR("+8"), VT_I4, OK, 8},
        TextToNumber{OLESTR("$1,234"), VT_I4, OK, 1234},
        TextToNumber{OLESTR("1,234,567"), VT_I4, OK, 1234567},
        TextToNumber{OLESTR("2.5"), VT_I4, OK, 2}, TextToNumber{OLESTR("3.5"), VT_I4, OK, 4},
        TextToNumber{OLESTR("-2.5"), VT_I4, OK, -2}, TextToNumber{OLESTR("2.51"), VT_I4, OK, 3},
        TextToNumber{OLESTR("0.5"), VT_I4, OK, 0}, TextToNumber{OLESTR(".75"), VT_I4, OK, 1},
        TextToNumber{OLESTR("1e3"), VT_I4, OK, 1000}, TextToNumber{OLESTR("1.5E+1"), VT_I4, OK, 15},
        TextToNumber{OLESTR("25e-1"), VT_I4, OK, 2}, TextToNumber{OLESTR("&HFF"), VT_I4, OK, 255},
        TextToNumber{OLESTR("&hffffffff"), VT_I4, OK, -1},
        TextToNumber{OLESTR("&O17"), VT_I4, OK, 15}, TextToNumber{OLESTR("&HFFFF"), VT_I2, OK, -1},
        TextToNumber{OLESTR("&H10000"), VT_I2, OVERFLOW_, 0},
        TextToNumber{OLESTR("&H100000000"), VT_I4, OVERFLOW_, 0},
        TextToNumber{OLESTR("2147483647"), VT_I4, OK, 2147483647},
        TextToNumber{OLESTR("2147483648"), VT_I4, OVERFLOW_, 0},
        TextToNumber{OLESTR("-2147483648"), VT_I4, OK, -2147483648.0},
        TextToNumber{OLESTR("-2147483649"), VT_I4, OVERFLOW_, 0},
        TextToNumber{OLESTR("2147483647.5"), VT_I4, OVERFLOW_, 0},
        TextToNumber{OLESTR("99999999999999999999999"), VT_I4, OVERFLOW_, 0},
        TextToNumber{OLESTR("32768"), VT_I2, OVERFLOW_, 0},
        TextToNumber{OLESTR("255"), VT_UI1, OK, 255},
        TextToNumber{OLESTR("256"), VT_UI1, OVERFLOW_, 0},
        TextToNumber{OLESTR("-1"), VT_UI1, OVERFLOW_, 0},
        TextToNumber{OLESTR("-0.4"), VT_UI1, OK, 0}, TextToNumber{OLESTR("0"), VT_I4, OK, 0},
        TextToNumber{OLESTR("000"), VT_I4, OK, 0}, TextToNumber{OLESTR(""), VT_I4, MISMATCH, 0},
        TextToNumber{OLESTR("   "), VT_I4, MISMATCH, 0},
        TextToNumber{OLESTR("abc"), VT_I4, MISMATCH, 0},
        TextToNumber{OLESTR("12abc"), VT_I4, MISMATCH, 0},
        TextToNumber{OLESTR(",5"), VT_I4, MISMATCH, 0},
        TextToNumber{OLESTR("1e"), VT_I4, MISMATCH, 0},
        TextToNumber{OLESTR("(5"), VT_I4, MISMATCH, 0},
        TextToNumber{OLESTR("1.2.3"), VT_I4, MISMATCH, 0},
        TextToNumber{OLESTR("--5"), VT_I4, MISMATCH, 0},
        TextToNumber{OLESTR("&H"), VT_I4, MISMATCH, 0},
        TextToNumber{OLESTR("&O8"), VT_I4, MISMATCH, 0}));

INSTANTIATE_TEST_SUITE_P(Reals, FromText,
                         ::testing::Values(TextToNumber{OLESTR("1.5"), VT_R8, OK, 1.5},
                                           TextToNumber{OLESTR("-0.6"), VT_R8, OK, -0.6},
                                           TextToNumber{OLESTR("1,000.25"), VT_R8, OK, 1000.25},
                                           TextToNumber{OLESTR("1.5e-3"), VT_R8, OK, 0.0015},
                                           TextToNumber{OLESTR("1e400"), VT_R8, OVERFLOW_, 0},
                                           TextToNumber{OLESTR("1e-94938484"), VT_R8, OK, 0},
                                           TextToNumber{OLESTR("0.1"), VT_R4, OK,
                                                        static_cast<double>(0.1f)},
                                           TextToNumber{OLESTR("1e39"), VT_R4, OVERFLOW_, 0},
                                           TextToNumber{OLESTR("&H10"), VT_R8, OK, 16},
                                           TextToNumber{OLESTR("x1"), VT_R8, MISMATCH, 0}));

INSTANTIATE_TEST_SUITE_P(Booleans, FromText,
                         ::testing::Values(TextToNumber{OLESTR("True"), VT_BOOL, OK, -1},
                                           TextToNumber{OLESTR("false"), VT_BOOL, OK, 0},
                                           TextToNumber{OLESTR("TRUE"), VT_BOOL, OK, -1},
                                           TextToNumber{OLESTR("#TRUE#"), VT_BOOL, OK, -1},
                                           TextToNumber{OLESTR("#FALSE#"), VT_BOOL, OK, 0},
                                           TextToNumber{OLESTR("#true#"), VT_BOOL, MISMATCH, 0},
                                           TextToNumber{OLESTR("0"), VT_BOOL, OK, 0},
                                           TextToNumber{OLESTR("2"), VT_BOOL, OK, -1},
                                           TextToNumber{OLESTR("0.0"), VT_BOOL, OK, 0},
                                           TextToNumber{OLESTR(" True"), VT_BOOL, MISMATCH, 0},
                                           TextToNumber{OLESTR("yes"), VT_BOOL, MISMATCH, 0}));

struct NumberCase {
  VARIANT in;
  VARTYPE to;
  HRESULT hr;
  double value;
};

VARIANT Typed(VARTYPE vt, double value) {
  VARIANT v;
  VariantInit(&v);
  V_VT(&v) = vt;
  switch (vt) {
    case VT_I2:
      V_I2(&v) = static_cast<SHORT>(value);
      break;
    case VT_I4:
      V_I4(&v) = static_cast<LONG>(value);
      break;
    case VT_UI1:
      V_UI1(&v) = static_cast<BYTE>(value);
      break;
    case VT_UI4:
      V_UI4(&v) = static_cast<ULONG>(value);
      break;
    case VT_R4:
      V_R4(&v) = static_cast<float>(value);
      break;
    case VT_R8:
      V_R8(&v) = value;
      break;
    case VT_BOOL:
      V_BOOL(&v) = static_cast<VARIANT_BOOL>(value);
      break;
    case VT_CY:
      V_CY(&v).int64 = static_cast<LONGLONG>(value * 10000);
      break;
    default:
      break;
  }
  return v;
}

class BetweenNumbers : public ::testing::TestWithParam<NumberCase> {};
TEST_P(BetweenNumbers, RoundsHalfToEvenAndChecksRange) {
  NumberCase c = GetParam();  // MinGW-w64 declares the source without const
  VARIANT out;
  VariantInit(&out);
  EXPECT_EQ(VariantChangeType(&out, &c.in, 0, c.to), c.hr);
  if (SUCCEEDED(c.hr)) {
    EXPECT_DOUBLE_EQ(NumericValue(out), c.value);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, BetweenNumbers,
    ::testing::Values(
        NumberCase{Typed(VT_R8, 2.5), VT_I4, OK, 2}, NumberCase{Typed(VT_R8, 3.5), VT_I4, OK, 4},
        NumberCase{Typed(VT_R8, -2.5), VT_I4, OK, -2},
        NumberCase{Typed(VT_R8, -3.5), VT_I4, OK, -4},
        NumberCase{Typed(VT_R8, 2147483647.5), VT_I4, OVERFLOW_, 0},
        NumberCase{Typed(VT_R8, -2147483648.5), VT_I4, OK, -2147483648.0},
        NumberCase{Typed(VT_R8, std::nan("")), VT_I4, OVERFLOW_, 0},
        NumberCase{Typed(VT_R8, 32767.4), VT_I2, OK, 32767},
        NumberCase{Typed(VT_R8, 32767.5), VT_I2, OVERFLOW_, 0},
        NumberCase{Typed(VT_R8, 255.5), VT_UI1, OVERFLOW_, 0},
        NumberCase{Typed(VT_R8, -0.5), VT_UI1, OK, 0},
        NumberCase{Typed(VT_R8, 1e39), VT_R4, OVERFLOW_, 0},
        NumberCase{Typed(VT_R4, 1.5f), VT_I4, OK, 2},
        NumberCase{Typed(VT_I4, 40000), VT_I2, OVERFLOW_, 0},
        NumberCase{Typed(VT_I4, -1), VT_UI1, OVERFLOW_, 0},
        NumberCase{Typed(VT_I4, -1), VT_UI4, OK, 4294967295.0},
        NumberCase{Typed(VT_UI4, 4294967295.0), VT_I4, OK, -1},
        NumberCase{Typed(VT_I4, 5), VT_BOOL, OK, -1}, NumberCase{Typed(VT_I4, 0), VT_BOOL, OK, 0},
        NumberCase{Typed(VT_BOOL, -1), VT_I4, OK, -1},
        NumberCase{Typed(VT_BOOL, -1), VT_UI1, OK, 255},
        NumberCase{Typed(VT_BOOL, -1), VT_R8, OK, -1},
        NumberCase{Typed(VT_UI1, 200), VT_I2, OK, 200}, NumberCase{Typed(VT_CY, 2.5), VT_I4, OK, 2},
        NumberCase{Typed(VT_CY, 1.25), VT_R8, OK, 1.25},
        NumberCase{Typed(VT_EMPTY, 0), VT_I4, OK, 0}, NumberCase{Typed(VT_EMPTY, 0), VT_R8, OK, 0},
        NumberCase{Typed(VT_NULL, 0), VT_I4, MISMATCH, 0},
        NumberCase{Typed(VT_ERROR, 0), VT_I4, MISMATCH, 0},
        NumberCase{Typed(VT_I4, 1), VT_ERROR, MISMATCH, 0},
        NumberCase{Typed(VT_I4, 1), VT_UNKNOWN, MISMATCH, 0},
        NumberCase{Typed(VT_I4, 1), 15, DISP_E_BADVARTYPE, 0},
        NumberCase{Typed(VT_I4, 1), VT_VOID, DISP_E_BADVARTYPE, 0}));

struct ToTextCase {
  VARIANT in;
  USHORT flags;
  const OLECHAR* text;
};

class ToText : public ::testing::TestWithParam<ToTextCase> {};
TEST_P(ToText, FormatsAsTheAutomationLibrary) {
  ToTextCase c = GetParam();  // MinGW-w64 declares the source without const
  VARIANT out;
  VariantInit(&out);
  ASSERT_EQ(VariantChangeType(&out, &c.in, c.flags, VT_BSTR), S_OK);
  ASSERT_EQ(V_VT(&out), VT_BSTR);
  EXPECT_EQ(OleString(V_BSTR(&out), SysStringLen(V_BSTR(&out))), OleString(c.text));
  VariantClear(&out);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ToText,
    ::testing::Values(ToTextCase{Typed(VT_I4, -5), 0, OLESTR("-5")},
                      ToTextCase{Typed(VT_I4, 0), 0, OLESTR("0")},
                      ToTextCase{Long(-2147483647 - 1), 0, OLESTR("-2147483648")},
                      ToTextCase{Typed(VT_UI1, 200), 0, OLESTR("200")},
                      ToTextCase{Typed(VT_R8, 1.5), 0, OLESTR("1.5")},
                      ToTextCase{Typed(VT_R8, 0.1), 0, OLESTR("0.1")},
                      ToTextCase{Typed(VT_R8, 1e20), 0, OLESTR("1E+20")},
                      ToTextCase{Typed(VT_R8, 1.5e-5), 0, OLESTR("0.000015")},
                      ToTextCase{Typed(VT_R8, 1.2345e-12), 0, OLESTR("1.2345E-12")},
                      ToTextCase{Typed(VT_R8, 123456789012345678.0), 0,
                                 OLESTR("1.23456789012346E+17")},
                      ToTextCase{Typed(VT_R8, 1.0 / 3), 0, OLESTR("0.333333333333333")},
                      ToTextCase{Typed(VT_R8, -0.0), 0, OLESTR("0")},
                      ToTextCase{Typed(VT_R4, 0.1), 0, OLESTR("0.1")},
                      ToTextCase{Typed(VT_R4, 1.0 / 3), 0, OLESTR("0.3333333")},
                      ToTextCase{Typed(VT_BOOL, -1), 0, OLESTR("-1")},
                      ToTextCase{Typed(VT_BOOL, 0), 0, OLESTR("0")},
                      ToTextCase{Typed(VT_BOOL, -1), VARIANT_ALPHABOOL, OLESTR("True")},
                      ToTextCase{Typed(VT_BOOL, 0), VARIANT_ALPHABOOL, OLESTR("False")},
                      ToTextCase{Typed(VT_CY, 1.5), 0, OLESTR("1.5")},
                      ToTextCase{Typed(VT_CY, -2), 0, OLESTR("-2")},
                      ToTextCase{Typed(VT_EMPTY, 0), 0, OLESTR("")}));

TEST(ChangeType, NullAndErrorDoNotBecomeText) {
  VARIANT in, out;
  VariantInit(&in);
  VariantInit(&out);
  V_VT(&in) = VT_NULL;
  EXPECT_EQ(VariantChangeType(&out, &in, 0, VT_BSTR), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(VariantChangeType(&out, &in, 0, VT_NULL), S_OK);
  EXPECT_EQ(VariantChangeType(&out, &in, 0, VT_EMPTY), DISP_E_TYPEMISMATCH);
  VARIANT number = Long(3);
  EXPECT_EQ(VariantChangeType(&out, &number, 0, VT_NULL), S_OK);
  EXPECT_EQ(V_VT(&out), VT_NULL);
}

TEST(ChangeType, InPlaceConversionFreesTheString) {
  VARIANT v = Text(OLESTR("17"));
  ASSERT_EQ(VariantChangeType(&v, &v, 0, VT_I4), S_OK);
  EXPECT_EQ(V_VT(&v), VT_I4);
  EXPECT_EQ(V_I4(&v), 17);
}

TEST(ChangeType, FailedInPlaceConversionKeepsTheSource) {
  VARIANT v = Text(OLESTR("seventeen"));
  EXPECT_EQ(VariantChangeType(&v, &v, 0, VT_I4), DISP_E_TYPEMISMATCH);
  ASSERT_EQ(V_VT(&v), VT_BSTR);
  EXPECT_EQ(OleString(V_BSTR(&v)), OLESTR("seventeen"));
  VariantClear(&v);
}

TEST(ChangeType, ByReferenceSourcesAreFollowed) {
  LONG value = 9;
  VARIANT ref;
  VariantInit(&ref);
  V_VT(&ref) = VT_I4 | VT_BYREF;
  V_I4REF(&ref) = &value;
  VARIANT out;
  VariantInit(&out);
  ASSERT_EQ(VariantChangeType(&out, &ref, 0, VT_R8), S_OK);
  EXPECT_EQ(V_R8(&out), 9.0);

  VARIANT inner = Text(OLESTR("12"));
  VARIANT outer;
  VariantInit(&outer);
  V_VT(&outer) = VT_VARIANT | VT_BYREF;
  V_VARIANTREF(&outer) = &inner;
  ASSERT_EQ(VariantChangeType(&out, &outer, 0, VT_I4), S_OK);
  EXPECT_EQ(V_I4(&out), 12);
  VariantClear(&inner);

  V_VT(&ref) = VT_I4 | VT_BYREF;
  V_I4REF(&ref) = nullptr;
  EXPECT_EQ(VariantChangeType(&out, &ref, 0, VT_I4), DISP_E_TYPEMISMATCH);
}

TEST(ChangeType, ByteArraysPassAndBecomeStrings) {
  VARIANT in;
  VariantInit(&in);
  V_VT(&in) = VT_ARRAY | VT_UI1;
  V_ARRAY(&in) = SafeArrayCreateVector(VT_UI1, 1, 4);
  std::memcpy(V_ARRAY(&in)->pvData, "a\0b\0", 4);
  VARIANT out;
  VariantInit(&out);
  ASSERT_EQ(VariantChangeType(&out, &in, 0, VT_ARRAY | VT_UI1), S_OK);
  EXPECT_NE(V_ARRAY(&out), V_ARRAY(&in)) << "a copy, not the same array";
  LONG lower = 0;
  SafeArrayGetLBound(V_ARRAY(&out), 1, &lower);
  EXPECT_EQ(lower, 1);
  ASSERT_EQ(VariantChangeType(&out, &in, 0, VT_BSTR), S_OK);
  EXPECT_EQ(OleString(V_BSTR(&out)), OLESTR("ab"));
  EXPECT_EQ(VariantChangeType(&out, &in, 0, VT_I4), DISP_E_TYPEMISMATCH);
  VariantClear(&in);
  VariantClear(&out);
}

// An object whose default property is 42, or one without a default property.
class ValueObject : public IDispatch {
 public:
  explicit ValueObject(bool hasValue = true) : hasValue(hasValue) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (riid == IID_IUnknown || riid == IID_IDispatch) {
      *ppv = this;
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
  ULONG STDMETHODCALLTYPE Release() override { return --refs; }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS*,
                                   VARIANT* result, EXCEPINFO*, UINT*) override {
    if (!hasValue || id != DISPID_VALUE || !(flags & DISPATCH_PROPERTYGET))
      return DISP_E_MEMBERNOTFOUND;
    V_VT(result) = VT_I4;
    V_I4(result) = 42;
    return S_OK;
  }
  bool hasValue;
  ULONG refs = 1;
};

TEST(ChangeType, ObjectsGiveTheirDefaultValue) {
  ValueObject object;
  VARIANT in;
  VariantInit(&in);
  V_VT(&in) = VT_DISPATCH;
  V_DISPATCH(&in) = &object;
  VARIANT out;
  VariantInit(&out);
  ASSERT_EQ(VariantChangeType(&out, &in, 0, VT_I2), S_OK);
  EXPECT_EQ(V_I2(&out), 42);
  ASSERT_EQ(VariantChangeType(&out, &in, 0, VT_BSTR), S_OK);
  EXPECT_EQ(OleString(V_BSTR(&out)), OLESTR("42"));
  VariantClear(&out);
  EXPECT_EQ(VariantChangeType(&out, &in, VARIANT_NOVALUEPROP, VT_I4), DISP_E_TYPEMISMATCH);
  ASSERT_EQ(VariantChangeType(&out, &in, 0, VT_UNKNOWN), S_OK);
  EXPECT_EQ(V_UNKNOWN(&out), static_cast<IUnknown*>(&object));
  VariantClear(&out);
  EXPECT_EQ(object.refs, 1u) << "every reference taken was given back";
  V_DISPATCH(&in) = nullptr;
  EXPECT_EQ(VariantChangeType(&out, &in, 0, VT_I4), DISP_E_TYPEMISMATCH);
}

class ObjectWithoutValue : public ::testing::TestWithParam<VARTYPE> {};
TEST_P(ObjectWithoutValue, IsATypeMismatch) {
  ValueObject object(false);
  VARIANT in;
  VariantInit(&in);
  V_VT(&in) = VT_DISPATCH;
  V_DISPATCH(&in) = &object;
  VARIANT out;
  VariantInit(&out);
  EXPECT_EQ(VariantChangeType(&out, &in, 0, GetParam()), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(V_VT(&out), VT_EMPTY);
  EXPECT_EQ(object.refs, 1u);
}
INSTANTIATE_TEST_SUITE_P(Targets, ObjectWithoutValue,
                         ::testing::Values(VT_I2, VT_I4, VT_UI1, VT_R4, VT_R8, VT_CY, VT_DATE,
                                           VT_BOOL, VT_DECIMAL, VT_I8, VT_BSTR));

TEST(CopyInd, DereferencesOneLevel) {
  BSTR text = SysAllocString(OLESTR("kept"));
  VARIANT ref;
  VariantInit(&ref);
  V_VT(&ref) = VT_BSTR | VT_BYREF;
  V_BSTRREF(&ref) = &text;
  VARIANT out;
  VariantInit(&out);
  ASSERT_EQ(VariantCopyInd(&out, &ref), S_OK);
  EXPECT_EQ(V_VT(&out), VT_BSTR);
  EXPECT_NE(V_BSTR(&out), text);
  VariantClear(&out);

  VARIANT inner;
  VariantInit(&inner);
  V_VT(&inner) = VT_VARIANT | VT_BYREF;
  V_VARIANTREF(&inner) = &ref;
  VARIANT outer;
  VariantInit(&outer);
  V_VT(&outer) = VT_VARIANT | VT_BYREF;
  V_VARIANTREF(&outer) = &inner;
  EXPECT_EQ(VariantCopyInd(&out, &outer), E_INVALIDARG) << "two levels are refused";
  SysFreeString(text);
}

}  // namespace
