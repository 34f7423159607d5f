// Automation value types: string lengths, variant ownership and safe-array bounds.
#include <gtest/gtest.h>

#include <cstring>
#include <limits>

#include "tests/platform/ole_text.h"

namespace {

TEST(Bstr, CarriesItsLengthAndATerminator) {
  BSTR text = SysAllocString(OLESTR("abc"));
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(SysStringLen(text), 3u);
  EXPECT_EQ(SysStringByteLen(text), 6u);
  EXPECT_EQ(text[3], 0);
  DWORD prefix;
  std::memcpy(&prefix, reinterpret_cast<BYTE*>(text) - 4, 4);
  EXPECT_EQ(prefix, 6u) << "the prefix is the byte count, as compiled clients read it";
  SysFreeString(text);
}

TEST(Bstr, EmbeddedZerosAndNullInputs) {
  const OLECHAR withZero[] = {OLECHAR('a'), 0, OLECHAR('b')};
  BSTR text = SysAllocStringLen(withZero, 3);
  EXPECT_EQ(SysStringLen(text), 3u);
  EXPECT_EQ(text[2], OLECHAR('b'));
  SysFreeString(text);
  BSTR blank = SysAllocStringLen(nullptr, 4);
  ASSERT_NE(blank, nullptr);
  for (int i = 0; i <= 4; ++i) EXPECT_EQ(blank[i], 0);
  SysFreeString(blank);
  EXPECT_EQ(SysAllocString(nullptr), nullptr);
  EXPECT_EQ(SysStringLen(nullptr), 0u);
  SysFreeString(nullptr);
}

TEST(Bstr, OddByteLengthIsTerminated) {
  BSTR bytes = SysAllocStringByteLen("xyz", 3);
  EXPECT_EQ(SysStringByteLen(bytes), 3u);
  EXPECT_EQ(SysStringLen(bytes), 1u);
  EXPECT_EQ(reinterpret_cast<const char*>(bytes)[3], 0);
  SysFreeString(bytes);
}

TEST(Bstr, OversizedLengthsFailInsteadOfWrapping) {
  EXPECT_EQ(SysAllocStringLen(nullptr, std::numeric_limits<UINT>::max()), nullptr);
  EXPECT_EQ(SysAllocStringLen(nullptr, std::numeric_limits<UINT>::max() / 2), nullptr);
  EXPECT_EQ(SysAllocStringByteLen(nullptr, std::numeric_limits<UINT>::max() - 2), nullptr);
}

TEST(Variant, CopyIsDeepForStringsAndArrays) {
  VARIANT source;
  VariantInit(&source);
  V_VT(&source) = VT_BSTR;
  V_BSTR(&source) = SysAllocString(OLESTR("hello"));
  VARIANT copy;
  VariantInit(&copy);
  ASSERT_EQ(VariantCopy(&copy, &source), S_OK);
  EXPECT_NE(V_BSTR(&copy), V_BSTR(&source));
  EXPECT_EQ(SysStringLen(V_BSTR(&copy)), 5u);
  EXPECT_EQ(VariantClear(&source), S_OK);
  EXPECT_EQ(V_VT(&source), VT_EMPTY);

  V_VT(&source) = VT_ARRAY | VT_UI1;
  V_ARRAY(&source) = SafeArrayCreateVector(VT_UI1, 1, 3);
  static_cast<BYTE*>(V_ARRAY(&source)->pvData)[2] = 7;
  ASSERT_EQ(VariantCopy(&copy, &source), S_OK) << "the destination's string is freed first";
  ASSERT_EQ(V_VT(&copy), VT_ARRAY | VT_UI1);
  EXPECT_NE(V_ARRAY(&copy), V_ARRAY(&source));
  EXPECT_EQ(static_cast<BYTE*>(V_ARRAY(&copy)->pvData)[2], 7);
  VariantClear(&source);
  VariantClear(&copy);
}

TEST(Variant, ByReferenceValuesOwnNothing) {
  BSTR owned = SysAllocString(OLESTR("kept"));
  VARIANT ref;
  VariantInit(&ref);
  V_VT(&ref) = VT_BSTR | VT_BYREF;
  V_BSTRREF(&ref) = &owned;
  EXPECT_EQ(VariantClear(&ref), S_OK);
  EXPECT_EQ(SysStringLen(owned), 4u);
  SysFreeString(owned);
}

struct BadType {
  VARTYPE vt;
  HRESULT expected;
};
class VariantTypeValidation : public ::testing::TestWithParam<BadType> {};
TEST_P(VariantTypeValidation, ClearChecksTheType) {
  VARIANT v;
  VariantInit(&v);
  V_VT(&v) = GetParam().vt;
  V_BYREF(&v) = nullptr;
  EXPECT_EQ(VariantClear(&v), GetParam().expected);
}
INSTANTIATE_TEST_SUITE_P(Types, VariantTypeValidation,
                         ::testing::Values(BadType{VT_I4, S_OK}, BadType{VT_EMPTY, S_OK},
                                           BadType{VT_EMPTY | VT_BYREF, DISP_E_BADVARTYPE},
                                           BadType{VT_NULL | VT_ARRAY, DISP_E_BADVARTYPE},
                                           BadType{15, DISP_E_BADVARTYPE},
                                           BadType{VT_VOID, DISP_E_BADVARTYPE},
                                           BadType{VT_I4 | 0x1000, DISP_E_BADVARTYPE}));

TEST(SafeArray, VectorBoundsAndData) {
  SAFEARRAY* psa = SafeArrayCreateVector(VT_UI1, 1, 10);
  ASSERT_NE(psa, nullptr);
  LONG lower = 0, upper = 0;
  EXPECT_EQ(SafeArrayGetLBound(psa, 1, &lower), S_OK);
  EXPECT_EQ(SafeArrayGetUBound(psa, 1, &upper), S_OK);
  EXPECT_EQ(lower, 1);
  EXPECT_EQ(upper, 10);
  EXPECT_EQ(SafeArrayGetLBound(psa, 2, &lower), DISP_E_BADINDEX);
  VARTYPE vt = VT_EMPTY;
  EXPECT_EQ(SafeArrayGetVartype(psa, &vt), S_OK);
  EXPECT_EQ(vt, VT_UI1);
  void* data = nullptr;
  ASSERT_EQ(SafeArrayAccessData(psa, &data), S_OK);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(static_cast<BYTE*>(data)[i], 0) << "zero-filled";
  EXPECT_EQ(SafeArrayDestroy(psa), DISP_E_ARRAYISLOCKED);
  EXPECT_EQ(SafeArrayUnaccessData(psa), S_OK);
  EXPECT_EQ(SafeArrayUnaccessData(psa), E_UNEXPECTED);
  EXPECT_EQ(SafeArrayDestroy(psa), S_OK);
}

TEST(SafeArray, EmptyVectorHasUpperBoundBelowLower) {
  SAFEARRAY* psa = SafeArrayCreateVector(VT_UI1, 0, 0);
  ASSERT_NE(psa, nullptr);
  LONG upper = 0;
  SafeArrayGetUBound(psa, 1, &upper);
  EXPECT_EQ(upper, -1);
  SafeArrayDestroy(psa);
}

TEST(SafeArray, MultiDimensionalDataIsColumnMajor) {
  SAFEARRAYBOUND bounds[2] = {{2, 0}, {3, 10}};  // [0..1][10..12]
  SAFEARRAY* psa = SafeArrayCreate(VT_I4, 2, bounds);
  ASSERT_NE(psa, nullptr);
  LONG upper = 0;
  SafeArrayGetUBound(psa, 2, &upper);
  EXPECT_EQ(upper, 12);
  LONG index[2] = {1, 11};
  LONG value = 42;
  EXPECT_EQ(SafeArrayPutElement(psa, index, &value), S_OK);
  EXPECT_EQ(static_cast<LONG*>(psa->pvData)[1 + 1 * 2], 42) << "the leftmost index varies fastest";
  LONG outside[2] = {2, 10};
  EXPECT_EQ(SafeArrayPutElement(psa, outside, &value), DISP_E_BADINDEX);
  SafeArrayDestroy(psa);
}

TEST(SafeArray, StringElementsAreOwnedAndCopied) {
  SAFEARRAY* psa = SafeArrayCreateVector(VT_BSTR, 0, 2);
  LONG index = 1;
  BSTR text = SysAllocString(OLESTR("x"));
  EXPECT_EQ(SafeArrayPutElement(psa, &index, text), S_OK);
  SysFreeString(text);
  SAFEARRAY* copy = nullptr;
  ASSERT_EQ(SafeArrayCopy(psa, &copy), S_OK);
  BSTR got = nullptr;
  EXPECT_EQ(SafeArrayGetElement(copy, &index, &got), S_OK);
  EXPECT_EQ(SysStringLen(got), 1u);
  SysFreeString(got);
  SafeArrayDestroy(psa);
  SafeArrayDestroy(copy);
}

TEST(SafeArray, ImpossibleSizesAreRefused) {
  SAFEARRAYBOUND huge[3] = {{0xFFFFFFFF, 0}, {0xFFFFFFFF, 0}, {0xFFFFFFFF, 0}};
  EXPECT_EQ(SafeArrayCreate(VT_VARIANT, 3, huge), nullptr);
  EXPECT_EQ(SafeArrayCreate(VT_UI1, 0, huge), nullptr);
  EXPECT_EQ(SafeArrayCreateVector(VT_RECORD, 0, 1), nullptr);
}

}  // namespace
