// The native IResize, IResize2 and IResize3 declarations (generated from component/Quorvex.idl)
// agree with the interface description, both as a file and as the module carries it: the module's
// resource describes the same members as the file, every member's table position follows
// IDispatch in order, and calling each FUNCDESC through ITypeInfo::Invoke (which dispatches by
// oVft) reaches the C++ method of the same name with the arguments in order.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "component/quorvex_interface.h"
#include "comserver/text_conversion.h"
#include "platform/com_ptr.h"

namespace quorvex {
namespace {

// One member of IResize as a type library describes it: table position, dispatch identifier,
// name, kind, parameter names and types in order (the value of a get is its last, retval
// parameter).
struct Member {
  int position;
  DISPID id;
  std::string name;
  INVOKEKIND kind;
  std::vector<std::string> parameterNames;
  std::vector<std::string> parameterTypes;
  bool operator==(const Member&) const = default;
};

// The C++ name of a member's function-table entry: gets and puts carry their prefix.
std::string NativeName(const std::string& name, INVOKEKIND kind) {
  if (kind == INVOKE_PROPERTYGET) return "get_" + name;
  if (kind == INVOKE_PROPERTYPUT) return "put_" + name;
  return name;
}

// An IResize that records which C++ method ran, with its arguments, and answers every get with
// a value of its own.
class RecordingResize final : public IResize3 {
 public:
  std::string lastCall;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) ||
        IsEqualIID(iid, IID_IResize) || IsEqualIID(iid, IID_IResize2) ||
        IsEqualIID(iid, IID_IResize3)) {
      *object = static_cast<IResize3*>(this);
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override {
    return Recorded("GetTypeInfoCount");
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override {
    return Recorded("GetTypeInfo");
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
    return Recorded("GetIDsOfNames");
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                   UINT*) override {
    return Recorded("Invoke");
  }

  HRESULT STDMETHODCALLTYPE get_Width(LONG* Value) override {
    return Give(Value, 1001, "get_Width");
  }
  HRESULT STDMETHODCALLTYPE get_Height(LONG* Value) override {
    return Give(Value, 1002, "get_Height");
  }
  HRESULT STDMETHODCALLTYPE ResizeImage(LONG Width, LONG Height) override {
    return Recorded("ResizeImage(" + Text(Width) + "," + Text(Height) + ")");
  }
  HRESULT STDMETHODCALLTYPE ScaleImage(LONG Factor) override {
    return Recorded("ScaleImage(" + Text(Factor) + ")");
  }
  HRESULT STDMETHODCALLTYPE ResizeBox(LONG Width, LONG Height) override {
    return Recorded("ResizeBox(" + Text(Width) + "," + Text(Height) + ")");
  }
  HRESULT STDMETHODCALLTYPE RotateImage(FLOAT Angle) override {
    return Recorded("RotateImage(" + Text(Angle) + ")");
  }
  HRESULT STDMETHODCALLTYPE CropImage(LONG X1, LONG Y1, LONG X2, LONG Y2) override {
    return Recorded("CropImage(" + Text(X1) + "," + Text(Y1) + "," + Text(X2) + "," + Text(Y2) +
                    ")");
  }
  HRESULT STDMETHODCALLTYPE get_GrayScale(VARIANT_BOOL* Value) override {
    return Give(Value, VARIANT_TRUE, "get_GrayScale");
  }
  HRESULT STDMETHODCALLTYPE put_GrayScale(VARIANT_BOOL Value) override {
    return Recorded("put_GrayScale(" + Text(Value) + ")");
  }
  HRESULT STDMETHODCALLTYPE LoadFromFile(BSTR Filename) override {
    return Recorded("LoadFromFile(" + BstrToUtf8(Filename) + ")");
  }
  HRESULT STDMETHODCALLTYPE SaveToFile(BSTR Filename) override {
    return Recorded("SaveToFile(" + BstrToUtf8(Filename) + ")");
  }
  HRESULT STDMETHODCALLTYPE get_JPGQuality(LONG* Value) override {
    return Give(Value, 1011, "get_JPGQuality");
  }
  HRESULT STDMETHODCALLTYPE put_JPGQuality(LONG Value) override {
    return Recorded("put_JPGQuality(" + Text(Value) + ")");
  }
  HRESULT STDMETHODCALLTYPE VariantIn(VARIANT JPGData) override {
    return Recorded("VariantIn(" + Text(V_VT(&JPGData)) + ":" + Text(V_I4(&JPGData)) + ")");
  }
  HRESULT STDMETHODCALLTYPE get_VariantOut(VARIANT* Value) override {
    V_VT(Value) = VT_I4;
    V_I4(Value) = 1013;
    return Recorded("get_VariantOut");
  }
  HRESULT STDMETHODCALLTYPE StreamImage() override { return Recorded("StreamImage"); }
  HRESULT STDMETHODCALLTYPE FlipHorizontal() override { return Recorded("FlipHorizontal"); }
  HRESULT STDMETHODCALLTYPE FlipVertical() override { return Recorded("FlipVertical"); }
  HRESULT STDMETHODCALLTYPE get_DPI(LONG* Value) override { return Give(Value, 1017, "get_DPI"); }
  HRESULT STDMETHODCALLTYPE put_DPI(LONG Value) override {
    return Recorded("put_DPI(" + Text(Value) + ")");
  }
  HRESULT STDMETHODCALLTYPE get_Version(BSTR* Value) override {
    *Value = Utf8ToNewBstr("1018");
    return Recorded("get_Version");
  }
  HRESULT STDMETHODCALLTYPE get_BackgroundColor(OLE_COLOR* Value) override {
    return Give(Value, OLE_COLOR{1019}, "get_BackgroundColor");
  }
  HRESULT STDMETHODCALLTYPE put_BackgroundColor(OLE_COLOR Value) override {
    return Recorded("put_BackgroundColor(" + Text(Value) + ")");
  }
  HRESULT STDMETHODCALLTYPE get_GreyScale(VARIANT_BOOL* Value) override {
    return Give(Value, VARIANT_TRUE, "get_GreyScale");
  }
  HRESULT STDMETHODCALLTYPE put_GreyScale(VARIANT_BOOL Value) override {
    return Recorded("put_GreyScale(" + Text(Value) + ")");
  }

  HRESULT STDMETHODCALLTYPE LoadThumbnail(VARIANT Source, LONG Width, LONG Height) override {
    return Recorded("LoadThumbnail(" + Text(V_VT(&Source)) + ":" + Text(V_I4(&Source)) + "," +
                    Text(Width) + "," + Text(Height) + ")");
  }
  HRESULT STDMETHODCALLTYPE get_AutoOrient(VARIANT_BOOL* Value) override {
    return Give(Value, VARIANT_TRUE, "get_AutoOrient");
  }
  HRESULT STDMETHODCALLTYPE put_AutoOrient(VARIANT_BOOL Value) override {
    return Recorded("put_AutoOrient(" + Text(Value) + ")");
  }
  HRESULT STDMETHODCALLTYPE get_Orientation(LONG* Value) override {
    return Give(Value, 1023, "get_Orientation");
  }
  HRESULT STDMETHODCALLTYPE get_KeepMetadata(VARIANT_BOOL* Value) override {
    return Give(Value, VARIANT_TRUE, "get_KeepMetadata");
  }
  HRESULT STDMETHODCALLTYPE put_KeepMetadata(VARIANT_BOOL Value) override {
    return Recorded("put_KeepMetadata(" + Text(Value) + ")");
  }
  HRESULT STDMETHODCALLTYPE get_MaxPixels(LONG* Value) override {
    return Give(Value, 1025, "get_MaxPixels");
  }
  HRESULT STDMETHODCALLTYPE put_MaxPixels(LONG Value) override {
    return Recorded("put_MaxPixels(" + Text(Value) + ")");
  }
  HRESULT STDMETHODCALLTYPE get_Progressive(VARIANT_BOOL* Value) override {
    return Give(Value, VARIANT_TRUE, "get_Progressive");
  }
  HRESULT STDMETHODCALLTYPE put_Progressive(VARIANT_BOOL Value) override {
    return Recorded("put_Progressive(" + Text(Value) + ")");
  }
  HRESULT STDMETHODCALLTYPE get_OptimizeCoding(VARIANT_BOOL* Value) override {
    return Give(Value, VARIANT_TRUE, "get_OptimizeCoding");
  }
  HRESULT STDMETHODCALLTYPE put_OptimizeCoding(VARIANT_BOOL Value) override {
    return Recorded("put_OptimizeCoding(" + Text(Value) + ")");
  }
  HRESULT STDMETHODCALLTYPE get_SourceQuality(LONG* Value) override {
    return Give(Value, 1028, "get_SourceQuality");
  }
  HRESULT STDMETHODCALLTYPE get_KeepMetadataParts(BSTR* Value) override {
    *Value = Utf8ToNewBstr("1037");
    return Recorded("get_KeepMetadataParts");
  }
  HRESULT STDMETHODCALLTYPE put_KeepMetadataParts(BSTR Value) override {
    return Recorded("put_KeepMetadataParts(" + BstrToUtf8(Value) + ")");
  }
  HRESULT STDMETHODCALLTYPE get_Metadata(BSTR* Value) override {
    *Value = Utf8ToNewBstr("1038");
    return Recorded("get_Metadata");
  }
  HRESULT STDMETHODCALLTYPE get_ConvertToSRGB(VARIANT_BOOL* Value) override {
    return Give(Value, VARIANT_TRUE, "get_ConvertToSRGB");
  }
  HRESULT STDMETHODCALLTYPE put_ConvertToSRGB(VARIANT_BOOL Value) override {
    return Recorded("put_ConvertToSRGB(" + Text(Value) + ")");
  }
  HRESULT STDMETHODCALLTYPE get_ColorProfile(BSTR* Value) override {
    *Value = Utf8ToNewBstr("1030");
    return Recorded("get_ColorProfile");
  }

  HRESULT STDMETHODCALLTYPE get_OutputFormat(BSTR* Value) override {
    *Value = Utf8ToNewBstr("1031");
    return Recorded("get_OutputFormat");
  }
  HRESULT STDMETHODCALLTYPE put_OutputFormat(BSTR Value) override {
    return Recorded("put_OutputFormat(" + BstrToUtf8(Value) + ")");
  }
  HRESULT STDMETHODCALLTYPE get_ContentType(BSTR* Value) override {
    *Value = Utf8ToNewBstr("1032");
    return Recorded("get_ContentType");
  }
  HRESULT STDMETHODCALLTYPE FillBox(LONG Width, LONG Height) override {
    return Recorded("FillBox(" + Text(Width) + "," + Text(Height) + ")");
  }
  HRESULT STDMETHODCALLTYPE get_Gravity(BSTR* Value) override {
    *Value = Utf8ToNewBstr("1034");
    return Recorded("get_Gravity");
  }
  HRESULT STDMETHODCALLTYPE put_Gravity(BSTR Value) override {
    return Recorded("put_Gravity(" + BstrToUtf8(Value) + ")");
  }
  HRESULT STDMETHODCALLTYPE get_Fit(BSTR* Value) override {
    *Value = Utf8ToNewBstr("1035");
    return Recorded("get_Fit");
  }
  HRESULT STDMETHODCALLTYPE put_Fit(BSTR Value) override {
    return Recorded("put_Fit(" + BstrToUtf8(Value) + ")");
  }
  HRESULT STDMETHODCALLTYPE get_Sharpen(DOUBLE* Value) override {
    return Give(Value, DOUBLE{1036}, "get_Sharpen");
  }
  HRESULT STDMETHODCALLTYPE put_Sharpen(DOUBLE Value) override {
    return Recorded("put_Sharpen(" + Text(Value) + ")");
  }

 private:
  template <typename T>
  static std::string Text(T value) {
    return std::to_string(value);
  }
  HRESULT Recorded(std::string call) {
    lastCall = std::move(call);
    return S_OK;
  }
  template <typename T>
  HRESULT Give(T* value, T given, const char* call) {
    *value = given;
    return Recorded(call);
  }
};

// The readable name of a parameter type: base types, pointers and named (user-defined) types.
std::string TypeText(ITypeInfo* info, const TYPEDESC& type) {
  switch (type.vt) {
    case VT_PTR:
      return TypeText(info, *type.lptdesc) + "*";
    case VT_I4:
      return "long";
    case VT_R4:
      return "float";
    case VT_R8:
      return "double";
    case VT_BSTR:
      return "BSTR";
    case VT_BOOL:
      return "VARIANT_BOOL";
    case VT_VARIANT:
      return "VARIANT";
    case VT_HRESULT:
      return "HRESULT";
    case VT_VOID:
      return "void";
    case VT_USERDEFINED: {
      TComPtr<ITypeInfo> named;
      if (FAILED(info->GetRefTypeInfo(type.hreftype, named.Put()))) return "<unresolved>";
      TBstr name;
      named->GetDocumentation(MEMBERID_NIL, name.Put(), nullptr, nullptr, nullptr);
      return BstrToUtf8(name.get());
    }
    default:
      return "vt" + std::to_string(type.vt);
  }
}

// One FUNCDESC, released with its type information.
class FuncDesc {
 public:
  FuncDesc(ITypeInfo* info, UINT index) : info_(info) {
    EXPECT_EQ(info_->GetFuncDesc(index, &desc_), S_OK);
  }
  ~FuncDesc() {
    if (desc_ != nullptr) info_->ReleaseFuncDesc(desc_);
  }
  FuncDesc(const FuncDesc&) = delete;
  FuncDesc& operator=(const FuncDesc&) = delete;
  const FUNCDESC* operator->() const { return desc_; }
  explicit operator bool() const { return desc_ != nullptr; }

 private:
  ITypeInfo* info_;
  FUNCDESC* desc_ = nullptr;
};

std::vector<std::string> NamesOf(ITypeInfo* info, MEMBERID id) {
  BSTR names[8] = {};
  UINT count = 0;
  EXPECT_EQ(info->GetNames(id, names, 8, &count), S_OK);
  std::vector<std::string> result;
  for (UINT i = 0; i < count; ++i) {
    result.push_back(BstrToUtf8(names[i]));
    SysFreeString(names[i]);
  }
  return result;
}

// The members of a function-table view, in table order.
std::vector<Member> MembersOf(ITypeInfo* info) {
  TYPEATTR* attributes = nullptr;
  EXPECT_EQ(info->GetTypeAttr(&attributes), S_OK);
  const WORD count = attributes != nullptr ? attributes->cFuncs : 0;
  if (attributes != nullptr) info->ReleaseTypeAttr(attributes);
  std::vector<Member> members;
  for (UINT i = 0; i < count; ++i) {
    FuncDesc desc(info, i);
    if (!desc) break;
    std::vector<std::string> names = NamesOf(info, desc->memid);
    Member member{static_cast<int>(desc->oVft / static_cast<int>(sizeof(void*))),
                  desc->memid,
                  names.empty() ? std::string() : names.front(),
                  desc->invkind,
                  {},
                  {}};
    // A put's value has no name of its own (GetNames shows the get's).
    if (member.kind != INVOKE_PROPERTYPUT && !names.empty())
      member.parameterNames.assign(names.begin() + 1, names.end());
    for (SHORT p = 0; p < desc->cParams; ++p)
      member.parameterTypes.push_back(TypeText(info, desc->lprgelemdescParam[p].tdesc));
    members.push_back(std::move(member));
  }
  return members;
}

// The function-table view of an interface of the library.
HRESULT InterfaceView(ITypeLib* library, const IID& iid, ITypeInfo** view) {
  TComPtr<ITypeInfo> dispatchView;
  HREFTYPE reference = 0;
  HRESULT result = library->GetTypeInfoOfGuid(iid, dispatchView.Put());
  if (SUCCEEDED(result))
    result = dispatchView->GetRefTypeOfImplType(static_cast<UINT>(-1), &reference);
  if (SUCCEEDED(result)) result = dispatchView->GetRefTypeInfo(reference, view);
  return result;
}

// An interface's own members as the description file describes them.
std::vector<Member> DescribedMembersOf(const IID& iid) {
  TComPtr<ITypeLib> library;
  TComPtr<ITypeInfo> interfaceView;
  if (FAILED(LoadTypeLib(Utf8ToOle(QUORVEX_SOURCE_DIR "/component/Quorvex.idl").c_str(),
                         library.Put())) ||
      FAILED(InterfaceView(library.get(), iid, interfaceView.Put())))
    return std::vector<Member>();
  return MembersOf(interfaceView.get());
}

const std::vector<Member>& DescribedMembers() {
  static const std::vector<Member> members = DescribedMembersOf(IID_IResize);
  return members;
}

// IResize2's own members, which follow IResize's.
const std::vector<Member>& DescribedMembers2() {
  static const std::vector<Member> members = DescribedMembersOf(IID_IResize2);
  return members;
}

// IResize3's own members, which follow IResize2's.
const std::vector<Member>& DescribedMembers3() {
  static const std::vector<Member> members = DescribedMembersOf(IID_IResize3);
  return members;
}

// An argument of the parameter type given, with a value that shows its position (k).
VARIANT ArgumentFor(const std::string& type, int k) {
  VARIANT v;
  VariantInit(&v);
  if (type == "long" || type == "VARIANT") {
    V_VT(&v) = VT_I4;
    V_I4(&v) = 11 * (k + 1);
  } else if (type == "float") {
    V_VT(&v) = VT_R4;
    V_R4(&v) = 2.5f;
  } else if (type == "double") {
    V_VT(&v) = VT_R8;
    V_R8(&v) = 0.75;
  } else if (type == "BSTR") {
    V_VT(&v) = VT_BSTR;
    V_BSTR(&v) = Utf8ToNewBstr("name" + std::to_string(k));
  } else if (type == "VARIANT_BOOL") {
    V_VT(&v) = VT_BOOL;
    V_BOOL(&v) = VARIANT_TRUE;
  } else if (type == "OLE_COLOR") {
    V_VT(&v) = VT_UI4;
    V_UI4(&v) = 0x123456;
  }
  return v;
}

// The call the recording object should see for those arguments.
std::string ExpectedCall(const Member& member) {
  const std::string name = NativeName(member.name, member.kind);
  if (member.kind == INVOKE_PROPERTYGET) return name;
  if (member.parameterTypes.empty()) return name;
  std::string call = name + "(";
  for (size_t k = 0; k < member.parameterTypes.size(); ++k) {
    const std::string& type = member.parameterTypes[k];
    if (k > 0) call += ",";
    if (type == "long") call += std::to_string(11 * (k + 1));
    if (type == "float") call += std::to_string(2.5f);
    if (type == "double") call += std::to_string(0.75);
    if (type == "BSTR") call += "name" + std::to_string(k);
    if (type == "VARIANT_BOOL") call += "-1";
    if (type == "OLE_COLOR") call += std::to_string(0x123456);
    if (type == "VARIANT") call += std::to_string(VT_I4) + ":" + std::to_string(11 * (k + 1));
  }
  return call + ")";
}

// Where the type library comes from: the description file itself, or the built module.
class InterfaceAgreement : public ::testing::TestWithParam<const char*> {
 protected:
  TComPtr<ITypeLib> library;
  TComPtr<ITypeInfo> dispatchView;    // TKIND_DISPATCH, as IDispatch clients see it
  TComPtr<ITypeInfo> interfaceView;   // TKIND_INTERFACE, the function table
  TComPtr<ITypeInfo> interfaceView2;  // IResize2's function table, extending IResize's
  TComPtr<ITypeInfo> interfaceView3;  // IResize3's function table, extending IResize2's

  void SetUp() override {
    ASSERT_EQ(LoadTypeLib(Utf8ToOle(GetParam()).c_str(), library.Put()), S_OK) << GetParam();
    ASSERT_EQ(library->GetTypeInfoOfGuid(IID_IResize, dispatchView.Put()), S_OK);
    HREFTYPE reference = 0;
    ASSERT_EQ(dispatchView->GetRefTypeOfImplType(static_cast<UINT>(-1), &reference), S_OK)
        << "a dual interface has a function-table view";
    ASSERT_EQ(dispatchView->GetRefTypeInfo(reference, interfaceView.Put()), S_OK);
    ASSERT_EQ(InterfaceView(library.get(), IID_IResize2, interfaceView2.Put()), S_OK);
    ASSERT_EQ(InterfaceView(library.get(), IID_IResize3, interfaceView3.Put()), S_OK);
  }
};

TEST_P(InterfaceAgreement, LibraryClassAndInterfaceCarryTheNativeGuids) {
  TLIBATTR* libraryAttributes = nullptr;
  ASSERT_EQ(library->GetLibAttr(&libraryAttributes), S_OK);
  EXPECT_TRUE(IsEqualGUID(libraryAttributes->guid, LIBID_Quorvex));
  EXPECT_EQ(libraryAttributes->wMajorVerNum, 1);
  EXPECT_EQ(libraryAttributes->wMinorVerNum, 0);
  EXPECT_EQ(libraryAttributes->lcid, 0x409u);
  library->ReleaseTLibAttr(libraryAttributes);

  TComPtr<ITypeInfo> coclass;
  ASSERT_EQ(library->GetTypeInfoOfGuid(CLSID_Resize, coclass.Put()), S_OK);
  TBstr name, help;
  coclass->GetDocumentation(MEMBERID_NIL, name.Put(), help.Put(), nullptr, nullptr);
  EXPECT_EQ(BstrToUtf8(name.get()), "Resize");
  EXPECT_EQ(BstrToUtf8(help.get()), "Resize Object");
  INT flags = 0;
  ASSERT_EQ(coclass->GetImplTypeFlags(0, &flags), S_OK);
  EXPECT_EQ(flags & (IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE), IMPLTYPEFLAG_FDEFAULT);
  HREFTYPE reference = 0;
  ASSERT_EQ(coclass->GetRefTypeOfImplType(0, &reference), S_OK);
  TComPtr<ITypeInfo> implemented;
  ASSERT_EQ(coclass->GetRefTypeInfo(reference, implemented.Put()), S_OK);
  TYPEATTR* attributes = nullptr;
  ASSERT_EQ(implemented->GetTypeAttr(&attributes), S_OK);
  EXPECT_TRUE(IsEqualGUID(attributes->guid, IID_IResize3)) << "the default interface is IResize3";
  implemented->ReleaseTypeAttr(attributes);

  // Each newer function table extends the one before.
  const struct {
    ITypeInfo* view;
    const IID* base;
  } extensions[] = {{interfaceView2.get(), &IID_IResize}, {interfaceView3.get(), &IID_IResize2}};
  for (const auto& extension : extensions) {
    ASSERT_EQ(extension.view->GetRefTypeOfImplType(0, &reference), S_OK);
    TComPtr<ITypeInfo> base;
    ASSERT_EQ(extension.view->GetRefTypeInfo(reference, base.Put()), S_OK);
    ASSERT_EQ(base->GetTypeAttr(&attributes), S_OK);
    EXPECT_TRUE(IsEqualGUID(attributes->guid, *extension.base));
    EXPECT_EQ(attributes->typekind, TKIND_INTERFACE);
    base->ReleaseTypeAttr(attributes);
  }
}

TEST_P(InterfaceAgreement, TheSecondTableContinuesTheFirstInIdentifierOrder) {
  const std::vector<Member> members = MembersOf(interfaceView2.get());
  EXPECT_TRUE(members == DescribedMembers2()) << "the module carries the description file";
  ASSERT_EQ(members.size(), 13u);
  for (size_t i = 0; i < members.size(); ++i) {
    SCOPED_TRACE(NativeName(members[i].name, members[i].kind));
    EXPECT_EQ(members[i].position, static_cast<int>(32 + i));
    if (i > 0) {
      EXPECT_GE(members[i].id, members[i - 1].id);
    }
  }
  EXPECT_EQ(members.front().id, 21);
  EXPECT_EQ(members.back().id, 28);
}

TEST_P(InterfaceAgreement, TheThirdTableContinuesTheSecondInIdentifierOrder) {
  const std::vector<Member> members = MembersOf(interfaceView3.get());
  EXPECT_TRUE(members == DescribedMembers3()) << "the module carries the description file";
  TYPEATTR* attributes = nullptr;
  ASSERT_EQ(interfaceView3->GetTypeAttr(&attributes), S_OK);
  EXPECT_EQ(attributes->cbSizeVft, (45u + members.size()) * sizeof(void*));
  interfaceView3->ReleaseTypeAttr(attributes);
  for (size_t i = 0; i < members.size(); ++i) {
    SCOPED_TRACE(NativeName(members[i].name, members[i].kind));
    EXPECT_EQ(members[i].position, static_cast<int>(45 + i));
    EXPECT_GE(members[i].id, i > 0 ? members[i - 1].id : 29);
  }
}

TEST_P(InterfaceAgreement, TheFunctionTableViewListsTheMembersInTableOrder) {
  TYPEATTR* attributes = nullptr;
  ASSERT_EQ(interfaceView->GetTypeAttr(&attributes), S_OK);
  EXPECT_EQ(attributes->typekind, TKIND_INTERFACE);
  EXPECT_NE(attributes->wTypeFlags & TYPEFLAG_FDUAL, 0);
  EXPECT_NE(attributes->wTypeFlags & TYPEFLAG_FOLEAUTOMATION, 0);
  const WORD count = attributes->cFuncs;
  EXPECT_EQ(attributes->cbSizeVft, (7u + count) * sizeof(void*)) << "IUnknown, IDispatch, members";
  interfaceView->ReleaseTypeAttr(attributes);
  const std::vector<Member> members = MembersOf(interfaceView.get());
  ASSERT_EQ(members.size(), count);
  EXPECT_GT(count, 0);
  EXPECT_TRUE(members == DescribedMembers()) << "the module carries the description file";

  for (UINT i = 0; i < count; ++i) {
    const Member& member = members[i];
    SCOPED_TRACE(NativeName(member.name, member.kind));
    FuncDesc desc(interfaceView.get(), i);
    ASSERT_TRUE(desc);
    EXPECT_EQ(member.position, static_cast<int>(7 + i)) << "the members follow IDispatch in order";
    EXPECT_EQ(desc->funckind, FUNC_PUREVIRTUAL);
    EXPECT_EQ(desc->callconv, CC_STDCALL);
    EXPECT_EQ(TypeText(interfaceView.get(), desc->elemdescFunc.tdesc), "HRESULT");
    for (SHORT p = 0; p < desc->cParams; ++p) {
      const USHORT flags = desc->lprgelemdescParam[p].paramdesc.wParamFlags;
      const USHORT expected =
          member.kind == INVOKE_PROPERTYGET ? PARAMFLAG_FOUT | PARAMFLAG_FRETVAL : PARAMFLAG_FIN;
      EXPECT_EQ(flags, expected);
    }
  }
}

TEST_P(InterfaceAgreement, OleColorIsTheStandardUnsignedAlias) {
  FuncDesc desc(interfaceView.get(), 22);  // put_BackgroundColor
  ASSERT_TRUE(desc);
  const TYPEDESC& type = desc->lprgelemdescParam[0].tdesc;
  ASSERT_EQ(type.vt, VT_USERDEFINED);
  TComPtr<ITypeInfo> alias;
  ASSERT_EQ(interfaceView->GetRefTypeInfo(type.hreftype, alias.Put()), S_OK);
  TYPEATTR* attributes = nullptr;
  ASSERT_EQ(alias->GetTypeAttr(&attributes), S_OK);
  EXPECT_EQ(attributes->typekind, TKIND_ALIAS);
  EXPECT_EQ(attributes->tdescAlias.vt, VT_UI4);
  alias->ReleaseTypeAttr(attributes);
}

TEST_P(InterfaceAgreement, TheDispatchViewShowsEveryMemberWithItsValueType) {
  for (const Member& member : DescribedMembers()) {
    SCOPED_TRACE(NativeName(member.name, member.kind));
    TYPEATTR* attributes = nullptr;
    ASSERT_EQ(dispatchView->GetTypeAttr(&attributes), S_OK);
    const WORD count = attributes->cFuncs;
    EXPECT_EQ(attributes->typekind, TKIND_DISPATCH);
    dispatchView->ReleaseTypeAttr(attributes);
    int found = 0;
    for (UINT i = 0; i < count; ++i) {
      FuncDesc desc(dispatchView.get(), i);
      if (!desc || desc->memid != member.id || desc->invkind != member.kind) continue;
      ++found;
      EXPECT_EQ(desc->funckind, FUNC_DISPATCH);
      std::string value = TypeText(dispatchView.get(), desc->elemdescFunc.tdesc);
      std::vector<std::string> parameters = member.parameterTypes;
      if (member.kind == INVOKE_PROPERTYGET) {
        // The retval parameter is shown as the member's value.
        EXPECT_EQ(value + "*", parameters.back());
        parameters.pop_back();
      } else {
        EXPECT_EQ(value, "void");
      }
      EXPECT_EQ(desc->cParams, static_cast<SHORT>(parameters.size()));
    }
    EXPECT_EQ(found, 1);
  }
  // Names are found without regard to case, as scripts write them.
  std::basic_string<OLECHAR> lower = Utf8ToOle("jpgquality");
  LPOLESTR names[1] = {lower.data()};
  MEMBERID id = 0;
  EXPECT_EQ(dispatchView->GetIDsOfNames(names, 1, &id), S_OK);
  EXPECT_EQ(id, 11);
}

// Calls each member through ITypeInfo::Invoke of the view (by memid, so by its oVft) on the
// table, and checks the C++ method that ran and the value it gave.
void CallEach(ITypeInfo* view, void* table, RecordingResize& recorder,
              const std::vector<Member>& members) {
  for (UINT i = 0; i < members.size(); ++i) {
    const Member& member = members[i];
    SCOPED_TRACE(NativeName(member.name, member.kind));
    // Arguments for the in-parameters, last first; a put passes its value as a named argument.
    std::vector<VARIANT> arguments;
    if (member.kind != INVOKE_PROPERTYGET)
      for (size_t k = member.parameterTypes.size(); k-- > 0;)
        arguments.push_back(ArgumentFor(member.parameterTypes[k], static_cast<int>(k)));
    DISPID named = DISPID_PROPERTYPUT;
    const bool put = member.kind == INVOKE_PROPERTYPUT;
    DISPPARAMS params{arguments.data(), put ? &named : nullptr, static_cast<UINT>(arguments.size()),
                      put ? 1u : 0u};
    VARIANT result;
    VariantInit(&result);
    recorder.lastCall.clear();
    // The function-table view calls the member at its oVft with the converted arguments.
    ASSERT_EQ(view->Invoke(table, member.id, static_cast<WORD>(member.kind), &params, &result,
                           nullptr, nullptr),
              S_OK);
    EXPECT_EQ(recorder.lastCall, ExpectedCall(member));
    if (member.kind == INVOKE_PROPERTYGET) {
      // The value the C++ method gave comes back as the call's result, with the member's type.
      const std::string& type = member.parameterTypes[0];
      const VARTYPE expectedType = type == "long*"           ? VT_I4
                                   : type == "VARIANT_BOOL*" ? VT_BOOL
                                   : type == "BSTR*"         ? VT_BSTR
                                   : type == "OLE_COLOR*"    ? VT_UI4
                                   : type == "double*"       ? VT_R8
                                                             : VT_I4;  // the VARIANT given
      EXPECT_EQ(V_VT(&result), expectedType);
      VARIANT text;
      VariantInit(&text);
      ASSERT_EQ(VariantChangeType(&text, &result, 0, VT_BSTR), S_OK);
      const std::string expected =
          type == "VARIANT_BOOL*" ? "-1" : std::to_string(1000 + member.id);
      EXPECT_EQ(BstrToUtf8(V_BSTR(&text)), expected);
      VariantClear(&text);
    }
    VariantClear(&result);
    for (VARIANT& argument : arguments) VariantClear(&argument);
  }
}

// Each member is called through IResize's table, and through each newer one, which reaches the
// inherited members too.
TEST_P(InterfaceAgreement, EachFuncDescCallsTheNativeMethodOfTheSameName) {
  RecordingResize recorder;
  const struct {
    const char* name;
    ITypeInfo* view;
    void* table;
    std::vector<const std::vector<Member>*> levels;
  } tables[] = {
      {"IResize", interfaceView.get(), static_cast<IResize*>(&recorder), {&DescribedMembers()}},
      {"IResize2",
       interfaceView2.get(),
       static_cast<IResize2*>(&recorder),
       {&DescribedMembers(), &DescribedMembers2()}},
      {"IResize3",
       interfaceView3.get(),
       static_cast<IResize3*>(&recorder),
       {&DescribedMembers(), &DescribedMembers2(), &DescribedMembers3()}},
  };
  for (const auto& t : tables) {
    SCOPED_TRACE(std::string("through ") + t.name);
    std::vector<Member> members;
    for (const std::vector<Member>* level : t.levels)
      members.insert(members.end(), level->begin(), level->end());
    ASSERT_FALSE(members.empty());
    CallEach(t.view, t.table, recorder, members);
  }
}

// DispInvoke with the default interface's dispatch view, as the object's IDispatch calls it,
// reaches members of every interface by identifier and name.
TEST_P(InterfaceAgreement, DispInvokeThroughTheNewestViewReachesInheritedMembers) {
  TComPtr<ITypeInfo> dispatchView3;
  ASSERT_EQ(library->GetTypeInfoOfGuid(IID_IResize3, dispatchView3.Put()), S_OK);
  RecordingResize recorder;
  const struct {
    const char* name;
    const char* call;
    LONG value;
  } cases[] = {{"Width", "get_Width", 1001},
               {"JPGQuality", "get_JPGQuality", 1011},
               {"MaxPixels", "get_MaxPixels", 1025},
               {"SourceQuality", "get_SourceQuality", 1028}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::basic_string<OLECHAR> name = Utf8ToOle(c.name);
    LPOLESTR names[1] = {name.data()};
    DISPID id = 0;
    ASSERT_EQ(DispGetIDsOfNames(dispatchView3.get(), names, 1, &id), S_OK);
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    VARIANT result;
    VariantInit(&result);
    recorder.lastCall.clear();
    ASSERT_EQ(DispInvoke(static_cast<IResize3*>(&recorder), dispatchView3.get(), id,
                         DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr),
              S_OK);
    EXPECT_EQ(recorder.lastCall, c.call);
    EXPECT_EQ(V_VT(&result), VT_I4);
    EXPECT_EQ(V_I4(&result), c.value);
  }
}

INSTANTIATE_TEST_SUITE_P(Sources, InterfaceAgreement,
                         ::testing::Values(QUORVEX_SOURCE_DIR "/component/Quorvex.idl",
                                           QUORVEX_MODULE_PATH),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                           return info.index == 0 ? std::string("DescriptionFile")
                                                  : std::string("ModuleResource");
                         });

}  // namespace
}  // namespace quorvex
