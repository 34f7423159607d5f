// Dispatch paths beyond IResize, against tests/platform/data/extras.idl: optional and default
// parameters, [in, out] references, interface parameters, the lcid parameter, arrays, aliases
// and interfaces that are not dual.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/platform/ole_text.h"

namespace {

struct IExtras : public IDispatch {
  virtual HRESULT STDMETHODCALLTYPE Optional(LONG a, VARIANT b, LONG* sum) = 0;
  virtual HRESULT STDMETHODCALLTYPE Defaulted(LONG a, LONG b, LONG* sum) = 0;
  virtual HRESULT STDMETHODCALLTYPE Twice(LONG* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE Swap(VARIANT* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE Object(IDispatch* object, VARIANT_BOOL* same) = 0;
  virtual HRESULT STDMETHODCALLTYPE Locale(LONG a, LONG locale, LONG* seen) = 0;
  virtual HRESULT STDMETHODCALLTYPE Join(SAFEARRAY* parts, BSTR* joined) = 0;
  virtual HRESULT STDMETHODCALLTYPE Counted(LONG n, LONG* twice) = 0;
  virtual HRESULT STDMETHODCALLTYPE Automatic(LONG* answer) = 0;
};

class Extras final : public IExtras {
 public:
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
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                   UINT*) override {
    return E_NOTIMPL;
  }

  HRESULT STDMETHODCALLTYPE Optional(LONG a, VARIANT b, LONG* sum) override {
    bType = V_VT(&b);
    *sum = a + (V_VT(&b) == VT_I4 ? V_I4(&b) : 1000);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Defaulted(LONG a, LONG b, LONG* sum) override {
    *sum = a + b;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Twice(LONG* value) override {
    *value *= 2;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Swap(VARIANT* value) override {
    VariantClear(value);
    V_VT(value) = VT_BSTR;
    V_BSTR(value) = SysAllocString(OLESTR("swapped"));
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Object(IDispatch* object, VARIANT_BOOL* same) override {
    *same = object == this ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Locale(LONG a, LONG locale, LONG* seen) override {
    *seen = a * 100000 + locale;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Join(SAFEARRAY* parts, BSTR* joined) override {
    OleString all;
    BSTR* items = static_cast<BSTR*>(parts->pvData);
    for (ULONG i = 0; i < parts->rgsabound[0].cElements; ++i) all += items[i];
    *joined = SysAllocString(all.c_str());
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Counted(LONG n, LONG* twice) override {
    *twice = 2 * n;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Automatic(LONG* answer) override {
    *answer = 42;
    return S_OK;
  }
  ULONG refs = 1;
  VARTYPE bType = VT_EMPTY;
};

// As the Quorvex interface's: a description here, the library compiled from it under Windows.
#ifndef QUORVEX_EXTRAS_TYPELIB
#define QUORVEX_EXTRAS_TYPELIB QUORVEX_TEST_DATA "/extras.idl"
#endif

class ExtrasDispatch : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(LoadTypeLibEx(OLESTR("") QUORVEX_EXTRAS_TYPELIB, REGKIND_NONE, &lib_), S_OK);
    // By its GUID: compilers order a library's types differently (the private alias).
    const GUID extras = {
        0x5d7bb0a4, 0x0d39, 0x4a44, {0x9a, 0x63, 0x5d, 0x1f, 0x0c, 0x6e, 0x1a, 0x02}};
    ASSERT_EQ(lib_->GetTypeInfoOfGuid(extras, &info_), S_OK);
  }
  void TearDown() override {
    if (info_) info_->Release();
    if (lib_) lib_->Release();
  }
  HRESULT Call(DISPID id, std::vector<VARIANT> args, VARIANT* result, UINT* argErr = nullptr) {
    std::vector<VARIANT> reversed(args.rbegin(), args.rend());
    DISPPARAMS params = {reversed.empty() ? nullptr : reversed.data(), nullptr,
                         static_cast<UINT>(reversed.size()), 0};
    VariantInit(result);
    return DispInvoke(static_cast<IExtras*>(&object_), info_, id, DISPATCH_METHOD, &params, result,
                      nullptr, argErr);
  }
  static VARIANT I4(LONG v) {
    VARIANT x;
    VariantInit(&x);
    V_VT(&x) = VT_I4;
    V_I4(&x) = v;
    return x;
  }
  ITypeLib* lib_ = nullptr;
  ITypeInfo* info_ = nullptr;
  Extras object_;
};

TEST_F(ExtrasDispatch, OptionalAndDefaultParameters) {
  VARIANT result;
  ASSERT_EQ(Call(1, {I4(1), I4(2)}, &result), S_OK);
  EXPECT_EQ(V_I4(&result), 3);
  ASSERT_EQ(Call(1, {I4(1)}, &result), S_OK) << "the optional argument may be left out";
  EXPECT_EQ(object_.bType, VT_ERROR) << "and arrives as the missing marker";
  EXPECT_EQ(V_I4(&result), 1001);
  ASSERT_EQ(Call(2, {I4(2)}, &result), S_OK);
  EXPECT_EQ(V_I4(&result), 42) << "the default value stands in";
  VARIANT missing;
  VariantInit(&missing);
  V_VT(&missing) = VT_ERROR;
  V_ERROR(&missing) = DISP_E_PARAMNOTFOUND;
  ASSERT_EQ(Call(2, {I4(1), missing}, &result), S_OK);
  EXPECT_EQ(V_I4(&result), 41);
  EXPECT_EQ(Call(2, {}, &result), DISP_E_BADPARAMCOUNT);
}

TEST_F(ExtrasDispatch, InOutReferences) {
  LONG value = 21;
  VARIANT ref;
  VariantInit(&ref);
  V_VT(&ref) = VT_I4 | VT_BYREF;
  V_I4REF(&ref) = &value;
  VARIANT result;
  ASSERT_EQ(Call(3, {ref}, &result), S_OK);
  EXPECT_EQ(value, 42) << "the callee wrote through the caller's reference";
  VARIANT holder = I4(5);
  VARIANT toVariant;
  VariantInit(&toVariant);
  V_VT(&toVariant) = VT_VARIANT | VT_BYREF;
  V_VARIANTREF(&toVariant) = &holder;
  ASSERT_EQ(Call(3, {toVariant}, &result), S_OK);
  EXPECT_EQ(V_I4(&holder), 10) << "a reference to a VARIANT of the right type is followed";
  ASSERT_EQ(Call(4, {toVariant}, &result), S_OK);
  ASSERT_EQ(V_VT(&holder), VT_BSTR);
  EXPECT_EQ(OleString(V_BSTR(&holder)), OLESTR("swapped"));
  VariantClear(&holder);
  short other = 1;
  VARIANT wrong;
  VariantInit(&wrong);
  V_VT(&wrong) = VT_I2 | VT_BYREF;
  V_I2REF(&wrong) = &other;
  UINT argErr = 99;
  EXPECT_EQ(Call(3, {wrong}, &result, &argErr), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(argErr, 0u);
  ASSERT_EQ(Call(3, {I4(4)}, &result), S_OK) << "a value for a reference works on a copy";
}

TEST_F(ExtrasDispatch, InterfaceLocaleArrayAndAlias) {
  VARIANT self;
  VariantInit(&self);
  V_VT(&self) = VT_DISPATCH;
  V_DISPATCH(&self) = &object_;
  VARIANT result;
  ASSERT_EQ(Call(5, {self}, &result), S_OK);
  EXPECT_EQ(V_BOOL(&result), VARIANT_TRUE);
  ASSERT_EQ(Call(6, {I4(3)}, &result), S_OK) << "the locale parameter is filled in";
  EXPECT_EQ(V_I4(&result), 300000);
  EXPECT_EQ(Call(6, {I4(3), I4(4)}, &result), DISP_E_BADPARAMCOUNT);

  VARIANT parts;
  VariantInit(&parts);
  V_VT(&parts) = VT_ARRAY | VT_BSTR;
  V_ARRAY(&parts) = SafeArrayCreateVector(VT_BSTR, 0, 2);
  LONG index = 0;
  BSTR text = SysAllocString(OLESTR("ab"));
  SafeArrayPutElement(V_ARRAY(&parts), &index, text);
  index = 1;
  SafeArrayPutElement(V_ARRAY(&parts), &index, text);
  SysFreeString(text);
  ASSERT_EQ(Call(7, {parts}, &result), S_OK);
  EXPECT_EQ(OleString(V_BSTR(&result)), OLESTR("abab"));
  VariantClear(&result);
  VariantClear(&parts);
  ASSERT_EQ(Call(8, {I4(21)}, &result), S_OK);
  EXPECT_EQ(V_VT(&result), VT_I4) << "the private alias became long";
  EXPECT_EQ(V_I4(&result), 42);
  EXPECT_EQ(object_.refs, 1u);
}

TEST_F(ExtrasDispatch, AutomaticIdsAndDescriptions) {
  OleString name = OLESTR("automatic");
  LPOLESTR names[] = {name.data()};
  DISPID id = 0;
  ASSERT_EQ(info_->GetIDsOfNames(names, 1, &id), S_OK);
  EXPECT_EQ(id, 0x60020008) << "depth 2 (IUnknown, IDispatch, IExtras), ninth member";
  VARIANT result;
  ASSERT_EQ(Call(id, {}, &result), S_OK);
  EXPECT_EQ(V_I4(&result), 42);
  BSTR doc = nullptr;
  ASSERT_EQ(info_->GetDocumentation(8, nullptr, &doc, nullptr, nullptr), S_OK);
  EXPECT_EQ(OleString(doc), OLESTR("Counts"));
  SysFreeString(doc);
  EXPECT_EQ(info_->GetDocumentation(12345, nullptr, &doc, nullptr, nullptr),
            TYPE_E_ELEMENTNOTFOUND);
  TLIBATTR* attr = nullptr;
  lib_->GetLibAttr(&attr);
  EXPECT_EQ(attr->wMajorVerNum, 2);
  EXPECT_EQ(attr->wMinorVerNum, 3);
  lib_->ReleaseTLibAttr(attr);
  ITypeInfo* plain = nullptr;
  const GUID plainGuid = {
      0x5d7bb0a4, 0x0d39, 0x4a44, {0x9a, 0x63, 0x5d, 0x1f, 0x0c, 0x6e, 0x1a, 0x03}};
  ASSERT_EQ(lib_->GetTypeInfoOfGuid(plainGuid, &plain), S_OK);
  TYPEATTR* typeAttr = nullptr;
  plain->GetTypeAttr(&typeAttr);
  EXPECT_EQ(typeAttr->typekind, TKIND_INTERFACE);
  EXPECT_EQ(typeAttr->cbSizeVft, 4 * sizeof(void*));
  EXPECT_FALSE(typeAttr->wTypeFlags & TYPEFLAG_FDISPATCHABLE);
  plain->ReleaseTypeAttr(typeAttr);
  HREFTYPE href = 0;
  EXPECT_EQ(plain->GetRefTypeOfImplType(static_cast<UINT>(-1), &href), TYPE_E_ELEMENTNOTFOUND)
      << "only dual interfaces have a second view";
  plain->Release();
}

// Interface descriptions read as text are this platform's own; Windows reads compiled libraries.
#ifndef _WIN32
struct BadDescription {
  const char* name;
  const char* text;
};

class Descriptions : public ::testing::TestWithParam<BadDescription> {};
TEST_P(Descriptions, InconsistentTextIsRefused) {
  const std::string path = ::testing::TempDir() + "bad_" + GetParam().name + ".idl";
  FILE* file = std::fopen(path.c_str(), "w");
  std::fputs(GetParam().text, file);
  std::fclose(file);
  const OleString wide(path.begin(), path.end());
  ITypeLib* lib = nullptr;
  EXPECT_EQ(LoadTypeLibEx(wide.c_str(), REGKIND_NONE, &lib), TYPE_E_INVDATAREAD);
  EXPECT_EQ(lib, nullptr);
  std::remove(path.c_str());
}

#define LIB "[uuid(5d7bb0a4-0d39-4a44-9a63-5d1f0c6e1a09)] library L { importlib(\"stdole2.tlb\"); "
#define IFACE(body) \
  "[uuid(5d7bb0a4-0d39-4a44-9a63-5d1f0c6e1a0a), dual] interface I : IDispatch { " body " }; };"
INSTANTIATE_TEST_SUITE_P(
    Cases, Descriptions,
    ::testing::Values(
        BadDescription{"NoLibrary", "interface I;"}, BadDescription{"NoUuid", "library L { };"},
        BadDescription{"BadUuid", "[uuid(1234)] library L { };"},
        BadDescription{
            "UnknownAttribute", LIB
            "[uuid(5d7bb0a4-0d39-4a44-9a63-5d1f0c6e1a0a), shiny] interface I : IUnknown {}; };"},
        BadDescription{"UnknownType", LIB IFACE("HRESULT F([in] Mystery m);")},
        BadDescription{"RetvalNotLast",
                       LIB IFACE("HRESULT F([out, retval] long* a, [in] long b);")},
        BadDescription{"InterfaceByValue", LIB IFACE("HRESULT F([in] IDispatch d);")},
        BadDescription{"DuplicateMember", LIB IFACE("HRESULT F(); HRESULT F();")},
        BadDescription{"DuplicateId", LIB IFACE("[id(1)] HRESULT F(); [id(1)] HRESULT G();")},
        BadDescription{
            "DualWithoutDispatch", LIB
            "[uuid(5d7bb0a4-0d39-4a44-9a63-5d1f0c6e1a0a), dual] interface I : IUnknown { }; };"},
        BadDescription{"CircularBase",
                       LIB "[uuid(5d7bb0a4-0d39-4a44-9a63-5d1f0c6e1a0a)] interface A : B { }; "
                           "[uuid(5d7bb0a4-0d39-4a44-9a63-5d1f0c6e1a0b)] interface B : A { }; };"},
        BadDescription{
            "CoclassOfNothing", LIB
            "[uuid(5d7bb0a4-0d39-4a44-9a63-5d1f0c6e1a0c)] coclass C { interface Nothing; }; };"},
        BadDescription{"Unterminated", LIB IFACE("HRESULT F(")},
        BadDescription{"DeepPointers", LIB IFACE("HRESULT F([in] long********** p);")},
        BadDescription{"OpenComment", LIB "/* never closed"}),
    [](const ::testing::TestParamInfo<BadDescription>& info) { return info.param.name; });
#endif

}  // namespace
