// Late-bound calls through the type information of IResize (component/Quorvex.idl) on a fake
// object: name lookup, argument conversion, references, the put value, argument counts,
// failures with and without error information.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/platform/fake_resize.h"

namespace {

using quorvex_test::FakeResize;

// The interface description, which this platform loads as it is; Windows loads the library
// compiled from it, which the Windows build names.
#ifndef QUORVEX_RESIZE_TYPELIB
#define QUORVEX_RESIZE_TYPELIB QUORVEX_SOURCE_DIR "/component/Quorvex.idl"
#endif

OleString Wide(const char* text) {
  return OleString(text, text + std::strlen(text));
}

class Dispatch : public ::testing::Test {
 protected:
  void SetUp() override {
    const OleString path = Wide(QUORVEX_RESIZE_TYPELIB);
    ASSERT_EQ(LoadTypeLibEx(path.c_str(), REGKIND_NONE, &lib_), S_OK);
    ASSERT_EQ(lib_->GetTypeInfoOfGuid(IID_IResize, &info_), S_OK);
    object_ = std::make_unique<FakeResize>(info_);
  }
  void TearDown() override {
    object_.reset();
    if (info_ != nullptr) info_->Release();
    if (lib_ != nullptr) lib_->Release();
  }

  // Invokes with the arguments in call order (reversed into DISPPARAMS as callers do).
  HRESULT Call(DISPID id, WORD flags, std::vector<VARIANT> args, VARIANT* result = nullptr,
               bool namedPut = false) {
    std::vector<VARIANT> reversed(args.rbegin(), args.rend());
    DISPID put = DISPID_PROPERTYPUT;
    DISPPARAMS params = {reversed.empty() ? nullptr : reversed.data(), namedPut ? &put : nullptr,
                         static_cast<UINT>(reversed.size()), namedPut ? 1u : 0u};
    excep_ = EXCEPINFO{};
    argErr_ = 0xFFFF;
    const HRESULT hr = object_->Invoke(id, IID_NULL, 0, flags, &params, result, &excep_, &argErr_);
    for (VARIANT& v : args) VariantClear(&v);
    return hr;
  }
  HRESULT Put(DISPID id, VARIANT value, WORD flags = DISPATCH_PROPERTYPUT) {
    return Call(id, flags, {value}, nullptr, true);
  }

  static VARIANT I4(LONG v) {
    VARIANT x;
    VariantInit(&x);
    V_VT(&x) = VT_I4;
    V_I4(&x) = v;
    return x;
  }
  static VARIANT R8(double v) {
    VARIANT x;
    VariantInit(&x);
    V_VT(&x) = VT_R8;
    V_R8(&x) = v;
    return x;
  }
  static VARIANT Str(const OLECHAR* s) {
    VARIANT x;
    VariantInit(&x);
    V_VT(&x) = VT_BSTR;
    V_BSTR(&x) = SysAllocString(s);
    return x;
  }
  static VARIANT Missing() {
    VARIANT x;
    VariantInit(&x);
    V_VT(&x) = VT_ERROR;
    V_ERROR(&x) = DISP_E_PARAMNOTFOUND;
    return x;
  }

  ITypeLib* lib_ = nullptr;
  ITypeInfo* info_ = nullptr;
  std::unique_ptr<FakeResize> object_;
  EXCEPINFO excep_{};
  UINT argErr_ = 0;
};

TEST_F(Dispatch, NamesAreFoundWithoutRegardToCase) {
  OleString names[] = {OLESTR("width"), OLESTR("RESIZEIMAGE"), OLESTR("Height")};
  LPOLESTR one[] = {names[0].data()};
  DISPID id = 0;
  ASSERT_EQ(object_->GetIDsOfNames(IID_NULL, one, 1, 0, &id), S_OK);
  EXPECT_EQ(id, 1);
  LPOLESTR withParam[] = {names[1].data(), names[2].data()};
  DISPID ids[2] = {};
  ASSERT_EQ(DispGetIDsOfNames(info_, withParam, 2, ids), S_OK);
  EXPECT_EQ(ids[0], 3);
  EXPECT_EQ(ids[1], 1) << "a parameter's id is its position";
  OleString unknown = OLESTR("Widthx");
  LPOLESTR bad[] = {unknown.data()};
  EXPECT_EQ(DispGetIDsOfNames(info_, bad, 1, &id), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(id, DISPID_UNKNOWN);
}

TEST_F(Dispatch, PropertyGetsReturnTheirValue) {
  object_->width = 640;
  VARIANT result;
  VariantInit(&result);
  ASSERT_EQ(Call(1, DISPATCH_PROPERTYGET, {}, &result), S_OK);
  EXPECT_EQ(V_VT(&result), VT_I4);
  EXPECT_EQ(V_I4(&result), 640);
  ASSERT_EQ(Call(1, DISPATCH_METHOD | DISPATCH_PROPERTYGET, {}, &result), S_OK)
      << "scripts read properties with both flags";
  ASSERT_EQ(Call(0x12, DISPATCH_PROPERTYGET, {}, &result), S_OK);
  ASSERT_EQ(V_VT(&result), VT_BSTR);
  EXPECT_EQ(OleString(V_BSTR(&result)), OLESTR("") QUORVEX_VERSION_TEXT);
  VariantClear(&result);
  ASSERT_EQ(Call(0x13, DISPATCH_PROPERTYGET, {}, &result), S_OK);
  EXPECT_EQ(V_VT(&result), VT_UI4) << "OLE_COLOR is an unsigned 32-bit value";
  EXPECT_EQ(V_UI4(&result), 0xFFFFFFu);
  ASSERT_EQ(Call(0x0D, DISPATCH_PROPERTYGET, {}, &result), S_OK);
  EXPECT_EQ(V_VT(&result), VT_ARRAY | VT_UI1);
  VariantClear(&result);
  ASSERT_EQ(Call(0x12, DISPATCH_PROPERTYGET, {}, nullptr), S_OK)
      << "a result nobody takes is freed";
}

TEST_F(Dispatch, PutsNeedTheNamedValueAndBothPutFlagsReachThem) {
  ASSERT_EQ(Put(0x0B, I4(200)), S_OK);
  EXPECT_EQ(object_->quality, 100);
  ASSERT_EQ(Put(0x0B, I4(50), DISPATCH_PROPERTYPUTREF), S_OK);
  EXPECT_EQ(object_->quality, 50);
  ASSERT_EQ(Put(0x0B, Str(OLESTR("75"))), S_OK) << "text converts as VariantChangeType does";
  EXPECT_EQ(object_->quality, 75);
  EXPECT_EQ(Call(0x0B, DISPATCH_PROPERTYPUT, {I4(1)}), DISP_E_PARAMNOTFOUND)
      << "a put without the DISPID_PROPERTYPUT argument";
  EXPECT_EQ(Call(0x0B, DISPATCH_METHOD, {I4(1)}), DISP_E_MEMBERNOTFOUND)
      << "only a put flag reaches the put";
  EXPECT_EQ(Call(0x0B, DISPATCH_METHOD | DISPATCH_PROPERTYGET, {I4(1)}), DISP_E_BADPARAMCOUNT)
      << "the get takes no argument";
  ASSERT_EQ(Put(0x14, Str(OLESTR("True"))), S_OK);
  EXPECT_EQ(object_->gray, VARIANT_TRUE);
  ASSERT_EQ(Put(0x13, I4(-1)), S_OK);
  EXPECT_EQ(object_->color, 0xFFFFFFFFu);
  EXPECT_EQ(Put(1, I4(5)), DISP_E_MEMBERNOTFOUND) << "Width has no put";
}

TEST_F(Dispatch, ArgumentsArriveInDeclarationOrderAndConverted) {
  ASSERT_EQ(Call(3, DISPATCH_METHOD, {I4(320), Str(OLESTR("240"))}), S_OK);
  EXPECT_EQ(object_->width, 320);
  EXPECT_EQ(object_->height, 240);
  ASSERT_EQ(Call(7, DISPATCH_METHOD, {I4(1), R8(2.5), R8(3.5), Str(OLESTR("4"))}), S_OK);
  EXPECT_EQ(object_->crop[0], 1);
  EXPECT_EQ(object_->crop[1], 2) << "2.5 rounds to even";
  EXPECT_EQ(object_->crop[2], 4);
  EXPECT_EQ(object_->crop[3], 4);
  ASSERT_EQ(Call(6, DISPATCH_METHOD, {R8(12.25)}), S_OK);
  EXPECT_FLOAT_EQ(object_->lastFloat, 12.25f);
  ASSERT_EQ(Call(9, DISPATCH_METHOD, {I4(17)}), S_OK);
  EXPECT_EQ(object_->lastText, OLESTR("17"));
  EXPECT_EQ(object_->last, "LoadFromFile");
}

TEST_F(Dispatch, ReferencesAreFollowed) {
  LONG width = 11;
  VARIANT byRef;
  VariantInit(&byRef);
  V_VT(&byRef) = VT_I4 | VT_BYREF;
  V_I4REF(&byRef) = &width;
  VARIANT inner = Str(OLESTR("22"));
  VARIANT toVariant;
  VariantInit(&toVariant);
  V_VT(&toVariant) = VT_VARIANT | VT_BYREF;
  V_VARIANTREF(&toVariant) = &inner;
  ASSERT_EQ(Call(3, DISPATCH_METHOD, {byRef, toVariant}), S_OK);
  EXPECT_EQ(object_->width, 11);
  EXPECT_EQ(object_->height, 22);
  // A VARIANT parameter receives the reference itself.
  ASSERT_EQ(Call(0x0C, DISPATCH_METHOD, {toVariant}), S_OK);
  EXPECT_EQ(object_->lastVariantType, VT_VARIANT | VT_BYREF);
  VariantClear(&inner);
}

TEST_F(Dispatch, CountsAndTypesAreChecked) {
  EXPECT_EQ(Call(3, DISPATCH_METHOD, {I4(1)}), DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(Call(3, DISPATCH_METHOD, {I4(1), I4(2), I4(3)}), DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(Call(0x0E, DISPATCH_METHOD, {I4(1)}), DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(Call(3, DISPATCH_METHOD, {Str(OLESTR("abc")), I4(5)}), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(argErr_, 1u) << "the first argument sits last in rgvarg";
  EXPECT_EQ(Call(3, DISPATCH_METHOD, {I4(5), Str(OLESTR("abc"))}), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(argErr_, 0u);
  EXPECT_EQ(Call(4, DISPATCH_METHOD, {R8(1e20)}), DISP_E_OVERFLOW);
  EXPECT_EQ(argErr_, 0u);
  EXPECT_EQ(Call(3, DISPATCH_METHOD, {Missing(), I4(5)}), DISP_E_PARAMNOTOPTIONAL);
  EXPECT_EQ(argErr_, 1u);
  EXPECT_EQ(object_->width, 0) << "the member did not run";
}

TEST_F(Dispatch, UnknownMembersAndWrongKinds) {
  EXPECT_EQ(Call(99, DISPATCH_METHOD, {}), DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(Call(3, DISPATCH_PROPERTYGET, {I4(1), I4(2)}), DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(Call(0x60000000, DISPATCH_METHOD, {}), DISP_E_MEMBERNOTFOUND)
      << "QueryInterface is restricted";
  EXPECT_EQ(Call(0x60010001, DISPATCH_METHOD, {}), DISP_E_MEMBERNOTFOUND);
}

TEST_F(Dispatch, NamedArgumentsByPosition) {
  VARIANT args[2] = {I4(7), I4(8)};
  DISPID names[2] = {1, 0};  // Height = 7, Width = 8
  DISPPARAMS params = {args, names, 2, 2};
  ASSERT_EQ(DispInvoke(static_cast<IResize*>(object_.get()), info_, 3, DISPATCH_METHOD, &params,
                       nullptr, nullptr, nullptr),
            S_OK);
  EXPECT_EQ(object_->width, 8);
  EXPECT_EQ(object_->height, 7);
  names[0] = 5;
  UINT argErr = 0;
  EXPECT_EQ(DispInvoke(static_cast<IResize*>(object_.get()), info_, 3, DISPATCH_METHOD, &params,
                       nullptr, nullptr, &argErr),
            DISP_E_PARAMNOTFOUND);
  EXPECT_EQ(argErr, 0u);
}

TEST_F(Dispatch, FailuresWithErrorInformationBecomeExceptions) {
  ASSERT_EQ(Call(0x0A, DISPATCH_METHOD, {Str(OLESTR("out.jpg"))}), DISP_E_EXCEPTION);
  EXPECT_EQ(excep_.scode, E_UNEXPECTED);
  EXPECT_EQ(OleString(excep_.bstrSource), OLESTR("Quorvex.Resize"));
  EXPECT_EQ(OleString(excep_.bstrDescription), OLESTR("No image loaded."));
  EXPECT_EQ(excep_.bstrHelpFile, nullptr);
  EXPECT_EQ(excep_.dwHelpContext, 0u);
  SysFreeString(excep_.bstrSource);
  SysFreeString(excep_.bstrDescription);
  IErrorInfo* left = nullptr;
  EXPECT_EQ(GetErrorInfo(0, &left), S_FALSE) << "the error information was taken";
}

// Whether or not the object describes its failure, a failing member is DISP_E_EXCEPTION with its
// code in EXCEPINFO, as ITypeInfo::Invoke documents.
TEST_F(Dispatch, FailuresWithoutErrorInformationGiveTheirCodeInExcepinfo) {
  object_->failWith = static_cast<HRESULT>(0x80070005);
  SetErrorInfo(0, nullptr);
  EXPECT_EQ(Call(0x0E, DISPATCH_METHOD, {}), DISP_E_EXCEPTION);
  EXPECT_EQ(excep_.scode, static_cast<HRESULT>(0x80070005));
  EXPECT_EQ(excep_.bstrDescription, nullptr);
  DISPPARAMS none = {nullptr, nullptr, 0, 0};
  EXPECT_EQ(object_->Invoke(0x0E, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr),
            DISP_E_EXCEPTION)
      << "without EXCEPINFO too";
  FakeResize plain(info_, /*supportsErrorInfo=*/false);
  EXCEPINFO excep{};
  EXPECT_EQ(plain.Invoke(0x0A, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, &excep, nullptr),
            DISP_E_BADPARAMCOUNT)
      << "a call refused before the member runs keeps its own code";
  VARIANT name = Str(OLESTR("x"));
  DISPPARAMS one = {&name, nullptr, 1, 0};
  EXPECT_EQ(plain.Invoke(0x0A, IID_NULL, 0, DISPATCH_METHOD, &one, nullptr, &excep, nullptr),
            DISP_E_EXCEPTION);
  EXPECT_EQ(excep.scode, E_UNEXPECTED);
  SysFreeString(excep.bstrSource);
  SysFreeString(excep.bstrDescription);
  VariantClear(&name);
  SetErrorInfo(0, nullptr);
}

TEST_F(Dispatch, StandardDispatchWrapsAnObject) {
  IUnknown* standard = nullptr;
  ASSERT_EQ(CreateStdDispatch(nullptr, static_cast<IResize*>(object_.get()), info_, &standard),
            S_OK);
  IDispatch* dispatch = nullptr;
  ASSERT_EQ(standard->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch)), S_OK);
  object_->height = 480;
  VARIANT result;
  VariantInit(&result);
  DISPPARAMS none = {nullptr, nullptr, 0, 0};
  ASSERT_EQ(
      dispatch->Invoke(2, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr),
      S_OK);
  EXPECT_EQ(V_I4(&result), 480);
  ITypeInfo* got = nullptr;
  EXPECT_EQ(dispatch->GetTypeInfo(1, 0, &got), DISP_E_BADINDEX);
  dispatch->Release();
  standard->Release();
}

TEST(DispCallFunc, CallsPlainFunctionsAndMethods) {
  struct Helper {
    static double Mix(int a, float b, double c, short d) { return a + b + c + d; }
  };
  VARIANT a, b, c, d, result;
  V_VT(&a) = VT_I4, V_I4(&a) = 1;
  V_VT(&b) = VT_R4, V_R4(&b) = 0.5f;
  V_VT(&c) = VT_R8, V_R8(&c) = 0.25;
  V_VT(&d) = VT_I2, V_I2(&d) = 100;
  VARTYPE types[] = {VT_I4, VT_R4, VT_R8, VT_I2};
  VARIANT* args[] = {&a, &b, &c, &d};
  ASSERT_EQ(DispCallFunc(nullptr, reinterpret_cast<ULONG_PTR>(&Helper::Mix), CC_STDCALL, VT_R8, 4,
                         types, args, &result),
            S_OK);
  EXPECT_EQ(V_VT(&result), VT_R8);
  EXPECT_DOUBLE_EQ(V_R8(&result), 101.75);
  EXPECT_EQ(DispCallFunc(nullptr, reinterpret_cast<ULONG_PTR>(&Helper::Mix), CC_FASTCALL, VT_R8, 4,
                         types, args, &result),
            E_INVALIDARG);
}

// Structures by value from many threads at once, each thread's first call among them: the
// shared structure types must already be complete, since nothing may write them concurrently.
TEST(DispCallFunc, PassesStructuresByValueFromManyThreadsAtOnce) {
  struct Helper {
    static VARIANT Combine(VARIANT value, DECIMAL decimal, VARIANT scale) {
      VARIANT out;
      VariantInit(&out);
      V_VT(&out) = VT_I8;
      V_I8(&out) = V_I4(&value) * V_I4(&scale) + static_cast<LONGLONG>(decimal.Lo64);
      return out;
    }
  };
  constexpr int kThreads = 8;
  std::vector<LONGLONG> results(kThreads, -1);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &results] {
      VARIANT value, decimal, scale, result;
      VariantInit(&value);
      V_VT(&value) = VT_I4, V_I4(&value) = t;
      VariantInit(&decimal);
      V_DECIMAL(&decimal) = DECIMAL{};
      V_VT(&decimal) = VT_DECIMAL;
      V_DECIMAL(&decimal).Lo64 = 1000;
      VariantInit(&scale);
      V_VT(&scale) = VT_I4, V_I4(&scale) = 10;
      VARTYPE types[] = {VT_VARIANT, VT_DECIMAL, VT_VARIANT};
      VARIANT* args[] = {&value, &decimal, &scale};
      if (DispCallFunc(nullptr, reinterpret_cast<ULONG_PTR>(&Helper::Combine), CC_STDCALL,
                       VT_VARIANT, 3, types, args, &result) == S_OK &&
          V_VT(&result) == VT_I8)
        results[static_cast<size_t>(t)] = V_I8(&result);
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(results[static_cast<size_t>(t)], 1000 + 10 * t);
}

}  // namespace
