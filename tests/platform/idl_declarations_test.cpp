// The declarations quorvex-idlc generates for an interface that extends another dual interface
// (tests/platform/data/shape.idl): the GUIDs are the description's, and late-bound calls, which
// reach members through the table positions the type library computes, land on the C++ methods
// of the same name, the base's and the extension's alike. idl_declarations_layout.c checks the
// C function table.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "shape_h.h"

namespace {

std::u16string Wide(const char* text) {
  return std::u16string(text, text + std::strlen(text));
}

class Shape final : public IShape2 {
 public:
  std::string lastCall;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** object) override {
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                   UINT*) override {
    return E_NOTIMPL;
  }

  HRESULT STDMETHODCALLTYPE get_Sides(LONG* Value) override {
    *Value = 4;
    return Recorded("get_Sides");
  }
  HRESULT STDMETHODCALLTYPE Turn(FLOAT Angle) override {
    return Recorded("Turn(" + std::to_string(Angle) + ")");
  }
  HRESULT STDMETHODCALLTYPE Scale(LONG Percent, VARIANT_BOOL Keep) override {
    return Recorded("Scale(" + std::to_string(Percent) + "," + std::to_string(Keep) + ")");
  }
  HRESULT STDMETHODCALLTYPE put_Name(BSTR Value) override {
    return Recorded("put_Name(" + std::to_string(SysStringLen(Value)) + ")");
  }
  HRESULT STDMETHODCALLTYPE get_Name(BSTR* Value) override {
    *Value = SysAllocString(u"square");
    return Recorded("get_Name");
  }

 private:
  HRESULT Recorded(std::string call) {
    lastCall = std::move(call);
    return S_OK;
  }
};

class IdlDeclarations : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::u16string path = Wide(QUORVEX_TEST_DATA "/shape.idl");
    ASSERT_EQ(LoadTypeLibEx(path.c_str(), REGKIND_NONE, &library_), S_OK);
    ASSERT_EQ(library_->GetTypeInfoOfGuid(IID_IShape2, &info_), S_OK);
  }
  void TearDown() override {
    if (info_ != nullptr) info_->Release();
    if (library_ != nullptr) library_->Release();
  }

  ITypeLib* library_ = nullptr;
  ITypeInfo* info_ = nullptr;
};

TEST_F(IdlDeclarations, GuidsAreTheDescriptions) {
  TLIBATTR* attributes = nullptr;
  ASSERT_EQ(library_->GetLibAttr(&attributes), S_OK);
  EXPECT_TRUE(IsEqualGUID(attributes->guid, LIBID_Shapes));
  library_->ReleaseTLibAttr(attributes);
  for (const GUID* guid : {&IID_IShape, &IID_IShape2, &CLSID_Shape}) {
    ITypeInfo* info = nullptr;
    EXPECT_EQ(library_->GetTypeInfoOfGuid(*guid, &info), S_OK);
    if (info != nullptr) info->Release();
  }
}

struct Call {
  DISPID id;
  WORD flags;
  std::vector<VARIANT> arguments;  // in DISPPARAMS order, last first
  std::string expected;
};

VARIANT Value(VARTYPE type, LONG number) {
  VARIANT v;
  VariantInit(&v);
  V_VT(&v) = type;
  if (type == VT_BSTR) {
    V_BSTR(&v) = SysAllocString(u"abc");
  } else if (type == VT_R4) {
    V_R4(&v) = static_cast<FLOAT>(number);
  } else {
    V_I4(&v) = number;
  }
  return v;
}

TEST_F(IdlDeclarations, BaseAndExtensionMembersReachTheirMethods) {
  Shape shape;
  std::vector<Call> calls = {
      {1, DISPATCH_PROPERTYGET, {}, "get_Sides"},
      {2, DISPATCH_METHOD, {Value(VT_R4, 90)}, "Turn(" + std::to_string(90.0f) + ")"},
      {21, DISPATCH_METHOD, {Value(VT_BOOL, VARIANT_TRUE), Value(VT_I4, 150)}, "Scale(150,-1)"},
      {22, DISPATCH_PROPERTYPUT, {Value(VT_BSTR, 0)}, "put_Name(3)"},
      {22, DISPATCH_PROPERTYGET, {}, "get_Name"},
  };
  for (Call& call : calls) {
    SCOPED_TRACE(call.expected);
    DISPID named = DISPID_PROPERTYPUT;
    const bool put = call.flags == DISPATCH_PROPERTYPUT;
    DISPPARAMS params{call.arguments.data(), put ? &named : nullptr,
                      static_cast<UINT>(call.arguments.size()), put ? 1u : 0u};
    VARIANT result;
    VariantInit(&result);
    shape.lastCall.clear();
    EXPECT_EQ(DispInvoke(static_cast<IShape2*>(&shape), info_, call.id, call.flags, &params,
                         &result, nullptr, nullptr),
              S_OK);
    EXPECT_EQ(shape.lastCall, call.expected);
    VariantClear(&result);
    for (VARIANT& argument : call.arguments) VariantClear(&argument);
  }
}

}  // namespace
