// Type libraries read from a module, their registration, object creation through the registry
// and the module facts, against two small modules built with the tests.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "tests/platform/fake_resize.h"

namespace {

namespace fs = std::filesystem;

std::u16string Wide(const std::string& text) {
  std::u16string out(text.size() * 2 + 1, 0);
  const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                    out.data(), static_cast<int>(out.size()));
  out.resize(n);
  return out;
}

std::string Narrow(const OLECHAR* text) {
  if (text == nullptr) return "<null>";
  char buffer[4096];
  const int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, buffer, sizeof buffer, nullptr, nullptr);
  return n > 0 ? std::string(buffer) : "<bad>";
}

std::string Take(BSTR text) {
  std::string out = Narrow(text);
  SysFreeString(text);
  return out;
}

class TempRegistry : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("qv_server_" + std::to_string(::getpid()));
    fs::create_directories(dir_);
    ::setenv("QUORVEX_REGISTRY", (dir_ / "registry").c_str(), 1);
  }
  void TearDown() override {
    ::unsetenv("QUORVEX_REGISTRY");
    fs::remove_all(dir_);
  }
  static void SetDefault(const std::u16string& key, const std::u16string& value) {
    HKEY handle = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr,
                              &handle, nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(
        RegSetValueExW(handle, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                       static_cast<DWORD>((value.size() + 1) * 2)),
        ERROR_SUCCESS);
    RegCloseKey(handle);
  }
  static bool KeyExists(const std::u16string& key) {
    HKEY handle = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS)
      return false;
    RegCloseKey(handle);
    return true;
  }
  static std::u16string ClassKey() {
    OLECHAR text[39];
    StringFromGUID2(CLSID_Resize, text, 39);
    return u"CLSID\\" + std::u16string(text);
  }
  void RegisterServer(const std::string& modulePath) {
    SetDefault(u"Quorvex.Resize\\Clsid", ClassKey().substr(6));
    SetDefault(ClassKey() + u"\\InprocServer32", Wide(modulePath));
  }

  fs::path dir_;
};

// ---- The type library carried by a module ----

struct Member {
  int slot;  // function-table position
  DISPID id;
  const char* name;
  INVOKEKIND kind;
  std::vector<std::pair<const char*, VARTYPE>> params;  // after conversion to VARIANT types
  VARTYPE result;                                       // VT_EMPTY: none
};

// The interface as the component's description of IResize fixes it.
const std::vector<Member> kResizeMembers = {
    {7, 1, "Width", INVOKE_PROPERTYGET, {}, VT_I4},
    {8, 2, "Height", INVOKE_PROPERTYGET, {}, VT_I4},
    {9, 3, "ResizeImage", INVOKE_FUNC, {{"Width", VT_I4}, {"Height", VT_I4}}, VT_EMPTY},
    {10, 4, "ScaleImage", INVOKE_FUNC, {{"Factor", VT_I4}}, VT_EMPTY},
    {11, 5, "ResizeBox", INVOKE_FUNC, {{"Width", VT_I4}, {"Height", VT_I4}}, VT_EMPTY},
    {12, 6, "RotateImage", INVOKE_FUNC, {{"Angle", VT_R4}}, VT_EMPTY},
    {13,
     7,
     "CropImage",
     INVOKE_FUNC,
     {{"X1", VT_I4}, {"Y1", VT_I4}, {"X2", VT_I4}, {"Y2", VT_I4}},
     VT_EMPTY},
    {14, 8, "GrayScale", INVOKE_PROPERTYGET, {}, VT_BOOL},
    {15, 8, "GrayScale", INVOKE_PROPERTYPUT, {{"", VT_BOOL}}, VT_EMPTY},
    {16, 9, "LoadFromFile", INVOKE_FUNC, {{"Filename", VT_BSTR}}, VT_EMPTY},
    {17, 10, "SaveToFile", INVOKE_FUNC, {{"Filename", VT_BSTR}}, VT_EMPTY},
    {18, 11, "JPGQuality", INVOKE_PROPERTYGET, {}, VT_I4},
    {19, 11, "JPGQuality", INVOKE_PROPERTYPUT, {{"", VT_I4}}, VT_EMPTY},
    {20, 12, "VariantIn", INVOKE_FUNC, {{"JPGData", VT_VARIANT}}, VT_EMPTY},
    {21, 13, "VariantOut", INVOKE_PROPERTYGET, {}, VT_VARIANT},
    {22, 14, "StreamImage", INVOKE_FUNC, {}, VT_EMPTY},
    {23, 15, "FlipHorizontal", INVOKE_FUNC, {}, VT_EMPTY},
    {24, 16, "FlipVertical", INVOKE_FUNC, {}, VT_EMPTY},
    {25, 17, "DPI", INVOKE_PROPERTYGET, {}, VT_I4},
    {26, 17, "DPI", INVOKE_PROPERTYPUT, {{"", VT_I4}}, VT_EMPTY},
    {27, 18, "Version", INVOKE_PROPERTYGET, {}, VT_BSTR},
    {28, 19, "BackgroundColor", INVOKE_PROPERTYGET, {}, VT_UI4},
    {29, 19, "BackgroundColor", INVOKE_PROPERTYPUT, {{"", VT_UI4}}, VT_EMPTY},
    {30, 20, "GreyScale", INVOKE_PROPERTYGET, {}, VT_BOOL},
    {31, 20, "GreyScale", INVOKE_PROPERTYPUT, {{"", VT_BOOL}}, VT_EMPTY},
};

// IResize2's own members, after IResize's in the function table.
const std::vector<Member> kResize2Members = {
    {32,
     21,
     "LoadThumbnail",
     INVOKE_FUNC,
     {{"Source", VT_VARIANT}, {"Width", VT_I4}, {"Height", VT_I4}},
     VT_EMPTY},
    {33, 22, "AutoOrient", INVOKE_PROPERTYGET, {}, VT_BOOL},
    {34, 22, "AutoOrient", INVOKE_PROPERTYPUT, {{"", VT_BOOL}}, VT_EMPTY},
    {35, 23, "Orientation", INVOKE_PROPERTYGET, {}, VT_I4},
    {36, 24, "KeepMetadata", INVOKE_PROPERTYGET, {}, VT_BOOL},
    {37, 24, "KeepMetadata", INVOKE_PROPERTYPUT, {{"", VT_BOOL}}, VT_EMPTY},
    {38, 25, "MaxPixels", INVOKE_PROPERTYGET, {}, VT_I4},
    {39, 25, "MaxPixels", INVOKE_PROPERTYPUT, {{"", VT_I4}}, VT_EMPTY},
    {40, 26, "Progressive", INVOKE_PROPERTYGET, {}, VT_BOOL},
    {41, 26, "Progressive", INVOKE_PROPERTYPUT, {{"", VT_BOOL}}, VT_EMPTY},
    {42, 27, "OptimizeCoding", INVOKE_PROPERTYGET, {}, VT_BOOL},
    {43, 27, "OptimizeCoding", INVOKE_PROPERTYPUT, {{"", VT_BOOL}}, VT_EMPTY},
    {44, 28, "SourceQuality", INVOKE_PROPERTYGET, {}, VT_I4},
};

// IResize3's own members, after IResize2's.
const std::vector<Member> kResize3Members = {
    {45, 29, "ConvertToSRGB", INVOKE_PROPERTYGET, {}, VT_BOOL},
    {46, 29, "ConvertToSRGB", INVOKE_PROPERTYPUT, {{"", VT_BOOL}}, VT_EMPTY},
    {47, 30, "ColorProfile", INVOKE_PROPERTYGET, {}, VT_BSTR},
    {48, 31, "OutputFormat", INVOKE_PROPERTYGET, {}, VT_BSTR},
    {49, 31, "OutputFormat", INVOKE_PROPERTYPUT, {{"", VT_BSTR}}, VT_EMPTY},
    {50, 32, "ContentType", INVOKE_PROPERTYGET, {}, VT_BSTR},
    {51, 33, "FillBox", INVOKE_FUNC, {{"Width", VT_I4}, {"Height", VT_I4}}, VT_EMPTY},
    {52, 34, "Gravity", INVOKE_PROPERTYGET, {}, VT_BSTR},
    {53, 34, "Gravity", INVOKE_PROPERTYPUT, {{"", VT_BSTR}}, VT_EMPTY},
    {54, 35, "Fit", INVOKE_PROPERTYGET, {}, VT_BSTR},
    {55, 35, "Fit", INVOKE_PROPERTYPUT, {{"", VT_BSTR}}, VT_EMPTY},
    {56, 36, "Sharpen", INVOKE_PROPERTYGET, {}, VT_R8},
    {57, 36, "Sharpen", INVOKE_PROPERTYPUT, {{"", VT_R8}}, VT_EMPTY},
    {58, 37, "KeepMetadataParts", INVOKE_PROPERTYGET, {}, VT_BSTR},
    {59, 37, "KeepMetadataParts", INVOKE_PROPERTYPUT, {{"", VT_BSTR}}, VT_EMPTY},
    {60, 38, "Metadata", INVOKE_PROPERTYGET, {}, VT_BSTR},
};

// The interfaces in the order each extends the one before, with the members each adds.
struct Level {
  const IID* iid;
  const char* name;
  const std::vector<Member>* own;
};
const Level kLevels[] = {{&IID_IResize, "IResize", &kResizeMembers},
                         {&IID_IResize2, "IResize2", &kResize2Members},
                         {&IID_IResize3, "IResize3", &kResize3Members}};
constexpr size_t kLevelCount = std::size(kLevels);

VARTYPE VariantTypeOf(ITypeInfo* info, const TYPEDESC& t) {
  if (t.vt == VT_PTR) return VariantTypeOf(info, *t.lptdesc) | VT_BYREF;
  if (t.vt != VT_USERDEFINED) return t.vt;
  ITypeInfo* target = nullptr;
  if (FAILED(info->GetRefTypeInfo(t.hreftype, &target))) return 0xFFFF;
  TYPEATTR* attr = nullptr;
  target->GetTypeAttr(&attr);
  const VARTYPE vt = attr->typekind == TKIND_ALIAS ? VariantTypeOf(target, attr->tdescAlias) : 0;
  target->ReleaseTypeAttr(attr);
  target->Release();
  return vt;
}

class ModuleTypeLib : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::u16string path = Wide(QUORVEX_TEST_SERVER);
    ASSERT_EQ(LoadTypeLibEx(path.c_str(), REGKIND_NONE, &lib_), S_OK);
    for (size_t level = 0; level < kLevelCount; ++level) {
      ASSERT_EQ(lib_->GetTypeInfoOfGuid(*kLevels[level].iid, &dispatch_[level]), S_OK);
      HREFTYPE href = 0;
      ASSERT_EQ(dispatch_[level]->GetRefTypeOfImplType(static_cast<UINT>(-1), &href), S_OK);
      ASSERT_EQ(dispatch_[level]->GetRefTypeInfo(href, &vtable_[level]), S_OK);
    }
  }
  void TearDown() override {
    for (size_t level = 0; level < kLevelCount; ++level) {
      if (vtable_[level]) vtable_[level]->Release();
      if (dispatch_[level]) dispatch_[level]->Release();
    }
    if (lib_) lib_->Release();
  }
  ITypeLib* lib_ = nullptr;
  // Per interface of kLevels: its dispatch view and its function table.
  ITypeInfo* dispatch_[kLevelCount] = {};
  ITypeInfo* vtable_[kLevelCount] = {};
};

TEST_F(ModuleTypeLib, LibraryAttributes) {
  TLIBATTR* attr = nullptr;
  ASSERT_EQ(lib_->GetLibAttr(&attr), S_OK);
  EXPECT_TRUE(IsEqualGUID(attr->guid, LIBID_Quorvex));
  EXPECT_EQ(attr->wMajorVerNum, 1);
  EXPECT_EQ(attr->wMinorVerNum, 0);
  EXPECT_EQ(attr->lcid, 0x409u);
  EXPECT_EQ(attr->syskind, SYS_WIN64);
  lib_->ReleaseTLibAttr(attr);
  BSTR name = nullptr, doc = nullptr;
  ASSERT_EQ(lib_->GetDocumentation(-1, &name, &doc, nullptr, nullptr), S_OK);
  EXPECT_EQ(Take(name), "Quorvex");
  EXPECT_EQ(Take(doc), "Quorvex Library");
  EXPECT_EQ(lib_->GetTypeInfoCount(), kLevelCount + 1) << "the interfaces and the class";
}

TEST_F(ModuleTypeLib, DualInterfaceViews) {
  TYPEATTR* attr = nullptr;
  ASSERT_EQ(dispatch_[0]->GetTypeAttr(&attr), S_OK);
  EXPECT_EQ(attr->typekind, TKIND_DISPATCH);
  EXPECT_TRUE(attr->wTypeFlags & TYPEFLAG_FDUAL);
  EXPECT_TRUE(attr->wTypeFlags & TYPEFLAG_FDISPATCHABLE);
  EXPECT_EQ(attr->cFuncs, 7 + 25) << "IUnknown and IDispatch members come first";
  EXPECT_EQ(attr->cbSizeVft, 7 * sizeof(void*));
  dispatch_[0]->ReleaseTypeAttr(attr);
  BSTR doc = nullptr;
  dispatch_[0]->GetDocumentation(MEMBERID_NIL, nullptr, &doc, nullptr, nullptr);
  EXPECT_EQ(Take(doc), "Dispatch interface for Resize Object");

  ASSERT_EQ(vtable_[0]->GetTypeAttr(&attr), S_OK);
  EXPECT_EQ(attr->typekind, TKIND_INTERFACE);
  EXPECT_TRUE(IsEqualGUID(attr->guid, IID_IResize));
  EXPECT_EQ(attr->cFuncs, 25);
  EXPECT_EQ(attr->cbSizeVft, 32 * sizeof(void*));
  EXPECT_TRUE(attr->wTypeFlags & TYPEFLAG_FOLEAUTOMATION);
  ASSERT_EQ(attr->cImplTypes, 1);
  vtable_[0]->ReleaseTypeAttr(attr);

  // The base interface comes from the standard library.
  HREFTYPE href = 0;
  ASSERT_EQ(vtable_[0]->GetRefTypeOfImplType(0, &href), S_OK);
  ITypeInfo* base = nullptr;
  ASSERT_EQ(vtable_[0]->GetRefTypeInfo(href, &base), S_OK);
  ASSERT_EQ(base->GetTypeAttr(&attr), S_OK);
  EXPECT_TRUE(IsEqualGUID(attr->guid, IID_IDispatch));
  base->ReleaseTypeAttr(attr);
  ITypeLib* container = nullptr;
  UINT index = 0;
  ASSERT_EQ(base->GetContainingTypeLib(&container, &index), S_OK);
  BSTR name = nullptr;
  container->GetDocumentation(-1, &name, nullptr, nullptr, nullptr);
  EXPECT_EQ(Take(name), "stdole");
  container->Release();
  base->Release();
}

// The function-table view lists exactly `members`, in table order.
void ExpectMembers(ITypeInfo* vtable, const std::vector<Member>& members) {
  TYPEATTR* attr = nullptr;
  ASSERT_EQ(vtable->GetTypeAttr(&attr), S_OK);
  EXPECT_EQ(attr->cFuncs, members.size());
  vtable->ReleaseTypeAttr(attr);
  for (size_t i = 0; i < members.size(); ++i) {
    const Member& m = members[i];
    SCOPED_TRACE(m.name);
    FUNCDESC* f = nullptr;
    ASSERT_EQ(vtable->GetFuncDesc(static_cast<UINT>(i), &f), S_OK);
    EXPECT_EQ(f->oVft, m.slot * static_cast<int>(sizeof(void*)));
    EXPECT_EQ(f->memid, m.id);
    EXPECT_EQ(f->invkind, m.kind);
    EXPECT_EQ(f->funckind, FUNC_PUREVIRTUAL);
    EXPECT_EQ(f->callconv, CC_STDCALL);
    EXPECT_EQ(f->elemdescFunc.tdesc.vt, VT_HRESULT);
    const size_t expectedParams = m.params.size() + (m.result != VT_EMPTY ? 1 : 0);
    ASSERT_EQ(static_cast<size_t>(f->cParams), expectedParams);
    for (size_t p = 0; p < m.params.size(); ++p) {
      EXPECT_EQ(VariantTypeOf(vtable, f->lprgelemdescParam[p].tdesc), m.params[p].second);
      EXPECT_EQ(f->lprgelemdescParam[p].paramdesc.wParamFlags, PARAMFLAG_FIN);
    }
    if (m.result != VT_EMPTY) {
      const ELEMDESC& out = f->lprgelemdescParam[m.params.size()];
      EXPECT_EQ(out.paramdesc.wParamFlags, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL);
      EXPECT_EQ(VariantTypeOf(vtable, out.tdesc), m.result | VT_BYREF);
    }
    BSTR names[8] = {};
    UINT count = 0;
    ASSERT_EQ(vtable->GetNames(m.id, names, 8, &count), S_OK);
    // Property gets and puts share the id; GetNames reports the first of them.
    EXPECT_EQ(Narrow(names[0]), m.name);
    if (m.kind == INVOKE_FUNC) {
      ASSERT_EQ(count, 1 + m.params.size());
      for (size_t p = 0; p < m.params.size(); ++p)
        EXPECT_EQ(Narrow(names[p + 1]), m.params[p].first);
    }
    for (UINT n = 0; n < count; ++n) SysFreeString(names[n]);
    vtable->ReleaseFuncDesc(f);
  }
}

TEST_F(ModuleTypeLib, MembersAsTheComponentFixesThem) {
  for (size_t level = 0; level < kLevelCount; ++level) {
    SCOPED_TRACE(kLevels[level].name);
    ExpectMembers(vtable_[level], *kLevels[level].own);
  }
}

TEST_F(ModuleTypeLib, EachInterfaceExtendsTheOneBefore) {
  std::vector<Member> all = kResizeMembers;
  for (size_t level = 1; level < kLevelCount; ++level) {
    SCOPED_TRACE(kLevels[level].name);
    all.insert(all.end(), kLevels[level].own->begin(), kLevels[level].own->end());
    ITypeInfo* vtable = vtable_[level];
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(vtable->GetTypeAttr(&attr), S_OK);
    EXPECT_EQ(attr->typekind, TKIND_INTERFACE);
    EXPECT_TRUE(IsEqualGUID(attr->guid, *kLevels[level].iid));
    EXPECT_EQ(attr->cbSizeVft, (7 + all.size()) * sizeof(void*));
    ASSERT_EQ(attr->cImplTypes, 1);
    vtable->ReleaseTypeAttr(attr);
    HREFTYPE href = 0;
    ASSERT_EQ(vtable->GetRefTypeOfImplType(0, &href), S_OK);
    ITypeInfo* base = nullptr;
    ASSERT_EQ(vtable->GetRefTypeInfo(href, &base), S_OK);
    ASSERT_EQ(base->GetTypeAttr(&attr), S_OK);
    EXPECT_EQ(attr->typekind, TKIND_INTERFACE);
    EXPECT_TRUE(IsEqualGUID(attr->guid, *kLevels[level - 1].iid))
        << "the base is the previous interface's function table";
    base->ReleaseTypeAttr(attr);
    base->Release();

    // The dispatch view lists IUnknown, IDispatch and then every member up to this interface's.
    ITypeInfo* dispatch = dispatch_[level];
    ASSERT_EQ(dispatch->GetTypeAttr(&attr), S_OK);
    EXPECT_EQ(attr->typekind, TKIND_DISPATCH);
    EXPECT_TRUE(attr->wTypeFlags & TYPEFLAG_FDUAL);
    EXPECT_EQ(attr->cFuncs, 7 + all.size());
    dispatch->ReleaseTypeAttr(attr);
    for (const Member& m : all) {
      SCOPED_TRACE(m.name);
      FUNCDESC* f = nullptr;
      ASSERT_EQ(dispatch->GetFuncDesc(static_cast<UINT>(m.slot), &f), S_OK);
      EXPECT_EQ(f->memid, m.id);
      EXPECT_EQ(f->invkind, m.kind);
      EXPECT_EQ(f->funckind, FUNC_DISPATCH);
      dispatch->ReleaseFuncDesc(f);
      // Found by name in either case, as scripts write them; inherited names too.
      std::u16string name = Wide(m.name);
      for (char16_t& c : name) c = static_cast<char16_t>(std::tolower(c));
      LPOLESTR names[] = {name.data()};
      MEMBERID id = 0;
      EXPECT_EQ(dispatch->GetIDsOfNames(names, 1, &id), S_OK);
      EXPECT_EQ(id, m.id);
      BSTR found = nullptr;
      UINT count = 0;
      ASSERT_EQ(dispatch->GetNames(m.id, &found, 1, &count), S_OK);
      EXPECT_EQ(Take(found), m.name);
    }
  }
}

TEST_F(ModuleTypeLib, DispatchViewMovesResultsOutOfTheParameters) {
  FUNCDESC* f = nullptr;
  ASSERT_EQ(dispatch_[0]->GetFuncDesc(0, &f), S_OK);
  EXPECT_EQ(f->memid, 0x60000000);
  EXPECT_TRUE(f->wFuncFlags & FUNCFLAG_FRESTRICTED);
  dispatch_[0]->ReleaseFuncDesc(f);
  ASSERT_EQ(dispatch_[0]->GetFuncDesc(7, &f), S_OK);  // Width
  EXPECT_EQ(f->memid, 1);
  EXPECT_EQ(f->funckind, FUNC_DISPATCH);
  EXPECT_EQ(f->cParams, 0);
  EXPECT_EQ(f->elemdescFunc.tdesc.vt, VT_I4);
  dispatch_[0]->ReleaseFuncDesc(f);
  ASSERT_EQ(dispatch_[0]->GetFuncDesc(9, &f), S_OK);  // ResizeImage
  EXPECT_EQ(f->elemdescFunc.tdesc.vt, VT_VOID);
  EXPECT_EQ(f->cParams, 2);
  dispatch_[0]->ReleaseFuncDesc(f);
}

TEST_F(ModuleTypeLib, CoclassNamesItsDefaultInterface) {
  ITypeInfo* coclass = nullptr;
  ASSERT_EQ(lib_->GetTypeInfoOfGuid(CLSID_Resize, &coclass), S_OK);
  TYPEATTR* attr = nullptr;
  coclass->GetTypeAttr(&attr);
  EXPECT_EQ(attr->typekind, TKIND_COCLASS);
  EXPECT_TRUE(attr->wTypeFlags & TYPEFLAG_FCANCREATE);
  EXPECT_EQ(attr->cImplTypes, 1);
  coclass->ReleaseTypeAttr(attr);
  INT flags = 0;
  ASSERT_EQ(coclass->GetImplTypeFlags(0, &flags), S_OK);
  EXPECT_EQ(flags, IMPLTYPEFLAG_FDEFAULT);
  EXPECT_EQ(coclass->GetImplTypeFlags(1, &flags), TYPE_E_ELEMENTNOTFOUND);
  HREFTYPE href = 0;
  coclass->GetRefTypeOfImplType(0, &href);
  ITypeInfo* iface = nullptr;
  ASSERT_EQ(coclass->GetRefTypeInfo(href, &iface), S_OK);
  EXPECT_EQ(iface, dispatch_[kLevelCount - 1]) << "the coclass names the newest dispatch view";
  iface->Release();
  BSTR name = nullptr, doc = nullptr;
  coclass->GetDocumentation(MEMBERID_NIL, &name, &doc, nullptr, nullptr);
  EXPECT_EQ(Take(name), "Resize");
  EXPECT_EQ(Take(doc), "Resize Object");
  coclass->Release();
}

// The description compiled into the module agrees with the IDL file, read here with a small
// independent reader of its member lines and attributes.
struct IdlMember {
  std::string attributes, name;
  size_t params = 0;
};

std::string WithoutBrackets(const std::string& text) {
  std::string out;
  int depth = 0;
  for (char c : text) {
    if (c == '[') ++depth;
    if (depth == 0) out += c;
    if (c == ']') --depth;
  }
  return out;
}

std::vector<IdlMember> ReadMembers(const std::string& idl) {
  std::vector<IdlMember> members;
  std::istringstream lines(idl);
  std::string line;
  while (std::getline(lines, line)) {
    const size_t hresult = line.find("] HRESULT ");
    if (hresult == std::string::npos) continue;
    IdlMember m;
    m.attributes = line.substr(line.find('[') + 1, hresult - line.find('[') - 1);
    const size_t nameStart = hresult + 10;
    const size_t open = line.find('(', nameStart);
    m.name = line.substr(nameStart, open - nameStart);
    const std::string params = WithoutBrackets(line.substr(open + 1, line.rfind(')') - open - 1));
    if (params.find_first_not_of(" void") != std::string::npos)
      m.params = static_cast<size_t>(std::count(params.begin(), params.end(), ',')) + 1;
    members.push_back(m);
  }
  return members;
}

TEST_F(ModuleTypeLib, AgreesWithTheInterfaceDescriptionFile) {
  std::ifstream in(QUORVEX_SOURCE_DIR "/component/Quorvex.idl");
  const std::string idl{std::istreambuf_iterator<char>(in), {}};
  const size_t library = idl.find("library Quorvex");
  ASSERT_NE(library, std::string::npos);
  const size_t uuid = idl.rfind("uuid(", library);
  std::string libid = idl.substr(uuid + 5, 36);
  for (char& c : libid) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  LPOLESTR text = nullptr;
  StringFromCLSID(LIBID_Quorvex, &text);
  EXPECT_EQ("{" + libid + "}", Narrow(text));
  CoTaskMemFree(text);

  const std::vector<IdlMember> members = ReadMembers(idl);
  // Each interface's members in turn, as the file lists them.
  size_t total = 0;
  for (const Level& level : kLevels) total += level.own->size();
  ASSERT_EQ(members.size(), total);
  size_t level = 0, first = 0;
  for (size_t index = 0; index < members.size(); ++index) {
    while (index - first >= kLevels[level].own->size()) first += kLevels[level++].own->size();
    const IdlMember& m = members[index];
    SCOPED_TRACE(m.name);
    ITypeInfo* vtable = vtable_[level];
    FUNCDESC* f = nullptr;
    ASSERT_EQ(vtable->GetFuncDesc(static_cast<UINT>(index - first), &f), S_OK);
    const size_t id = m.attributes.find("id(");
    ASSERT_NE(id, std::string::npos);
    EXPECT_EQ(f->memid, std::stol(m.attributes.substr(id + 3), nullptr, 0));
    const INVOKEKIND kind = m.attributes.find("propget") != std::string::npos   ? INVOKE_PROPERTYGET
                            : m.attributes.find("propput") != std::string::npos ? INVOKE_PROPERTYPUT
                                                                                : INVOKE_FUNC;
    EXPECT_EQ(f->invkind, kind);
    EXPECT_EQ(static_cast<size_t>(f->cParams), m.params);
    BSTR names[8] = {};
    UINT count = 0;
    vtable->GetNames(f->memid, names, 8, &count);
    EXPECT_EQ(Narrow(names[0]), m.name);
    for (UINT n = 0; n < count; ++n) SysFreeString(names[n]);
    vtable->ReleaseFuncDesc(f);
  }
}

TEST(TypeLibLoading, FailuresAreReported) {
  ITypeLib* lib = reinterpret_cast<ITypeLib*>(1);
  EXPECT_EQ(LoadTypeLib(u"/no/such/file.so", &lib), TYPE_E_CANTLOADLIBRARY);
  EXPECT_EQ(lib, nullptr);
  const std::u16string plain = Wide(QUORVEX_TEST_PLAIN);
  EXPECT_EQ(LoadTypeLib(plain.c_str(), &lib), TYPE_E_CANTLOADLIBRARY) << "no resource";
  const fs::path bad =
      fs::temp_directory_path() / ("qv_bad_" + std::to_string(::getpid()) + ".idl");
  std::ofstream(bad)
      << "[uuid(00000000-0000-0000-0000-000000000001)] library X { interface I : Q {}; };";
  EXPECT_EQ(LoadTypeLib(Wide(bad.string()).c_str(), &lib), TYPE_E_INVDATAREAD) << "unknown base";
  std::ofstream(bad, std::ios::trunc) << "library {";
  EXPECT_EQ(LoadTypeLib(Wide(bad.string()).c_str(), &lib), TYPE_E_INVDATAREAD);
  fs::remove(bad);
  EXPECT_EQ(LoadTypeLib(u"stdole2.tlb", &lib), S_OK) << "built in";
  ITypeInfo* color = nullptr;
  BOOL found = FALSE;
  std::u16string name = u"ole_color";
  EXPECT_EQ(lib->IsName(name.data(), 0, &found), S_OK);
  EXPECT_TRUE(found);
  EXPECT_EQ(name, u"OLE_COLOR") << "the library's own spelling is copied back";
  EXPECT_EQ(lib->GetTypeInfo(2, &color), S_OK);
  TYPEATTR* attr = nullptr;
  color->GetTypeAttr(&attr);
  EXPECT_EQ(attr->typekind, TKIND_ALIAS);
  EXPECT_EQ(attr->tdescAlias.vt, VT_UI4);
  color->ReleaseTypeAttr(attr);
  color->Release();
  lib->Release();
}

// ---- Registration of the type library ----

TEST_F(TempRegistry, TypeLibraryRegistrationRoundTrip) {
  const std::u16string path = Wide(QUORVEX_TEST_SERVER);
  ITypeLib* lib = nullptr;
  ASSERT_EQ(LoadTypeLibEx(path.c_str(), REGKIND_NONE, &lib), S_OK);
  ASSERT_EQ(RegisterTypeLib(lib, path.c_str(), nullptr), S_OK);
  OLECHAR libid[39], iid[39];
  StringFromGUID2(LIBID_Quorvex, libid, 39);
  StringFromGUID2(IID_IResize, iid, 39);
  const std::u16string libKey = u"TypeLib\\" + std::u16string(libid) + u"\\1.0";
  EXPECT_TRUE(KeyExists(libKey + u"\\409\\win64"));
  EXPECT_TRUE(KeyExists(libKey + u"\\HELPDIR"));
  EXPECT_TRUE(KeyExists(u"Interface\\" + std::u16string(iid) + u"\\TypeLib"));
  BSTR registered = nullptr;
  ASSERT_EQ(QueryPathOfRegTypeLib(LIBID_Quorvex, 1, 0, 0x409, &registered), S_OK);
  EXPECT_EQ(Take(registered), QUORVEX_TEST_SERVER);
  ITypeLib* again = nullptr;
  ASSERT_EQ(LoadRegTypeLib(LIBID_Quorvex, 1, 0, 0x409, &again), S_OK);
  again->Release();

  ASSERT_EQ(UnRegisterTypeLib(LIBID_Quorvex, 1, 0, 0x409, SYS_WIN64), S_OK);
  EXPECT_FALSE(KeyExists(u"TypeLib\\" + std::u16string(libid)));
  EXPECT_FALSE(KeyExists(u"Interface\\" + std::u16string(iid)));
  EXPECT_EQ(UnRegisterTypeLib(LIBID_Quorvex, 1, 0, 0x409, SYS_WIN64), TYPE_E_LIBNOTREGISTERED);
  lib->Release();
}

// ---- Object creation ----

TEST_F(TempRegistry, ProgIdLeadsToTheRegisteredServer) {
  RegisterServer(QUORVEX_TEST_SERVER);
  CLSID clsid;
  ASSERT_EQ(CLSIDFromProgID(u"quorvex.resize", &clsid), S_OK);
  EXPECT_TRUE(IsEqualCLSID(clsid, CLSID_Resize));
  EXPECT_EQ(CLSIDFromProgID(u"Quorvex.Missing", &clsid), CO_E_CLASSSTRING);
  ASSERT_EQ(CoInitialize(nullptr), S_OK);
  IDispatch* object = nullptr;
  ASSERT_EQ(CoCreateInstance(CLSID_Resize, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                             reinterpret_cast<void**>(&object)),
            S_OK);
  // Called by name, as a script does.
  std::u16string name = u"JPGQuality";
  LPOLESTR names[] = {name.data()};
  DISPID id = 0;
  ASSERT_EQ(object->GetIDsOfNames(IID_NULL, names, 1, 0x409, &id), S_OK);
  VARIANT value;
  VariantInit(&value);
  V_VT(&value) = VT_I4;
  V_I4(&value) = 200;
  DISPID put = DISPID_PROPERTYPUT;
  DISPPARAMS params = {&value, &put, 1, 1};
  ASSERT_EQ(
      object->Invoke(id, IID_NULL, 0, DISPATCH_PROPERTYPUT, &params, nullptr, nullptr, nullptr),
      S_OK);
  DISPPARAMS none = {nullptr, nullptr, 0, 0};
  VARIANT result;
  VariantInit(&result);
  ASSERT_EQ(object->Invoke(id, IID_NULL, 0, DISPATCH_PROPERTYGET | DISPATCH_METHOD, &none, &result,
                           nullptr, nullptr),
            S_OK);
  EXPECT_EQ(V_I4(&result), 100);
  object->Release();

  IClassFactory* factory = nullptr;
  ASSERT_EQ(CoGetClassObject(CLSID_Resize, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                             reinterpret_cast<void**>(&factory)),
            S_OK);
  IUnknown* aggregated = nullptr;
  EXPECT_EQ(factory->CreateInstance(factory, IID_IUnknown, reinterpret_cast<void**>(&aggregated)),
            CLASS_E_NOAGGREGATION);
  EXPECT_EQ(factory->LockServer(TRUE), S_OK);
  factory->Release();
  CoFreeUnusedLibraries();  // locked: stays loaded
  EXPECT_NE(GetModuleHandleW(Wide(QUORVEX_TEST_SERVER).c_str()), nullptr);
  ASSERT_EQ(CoGetClassObject(CLSID_Resize, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                             reinterpret_cast<void**>(&factory)),
            S_OK);
  factory->LockServer(FALSE);
  factory->Release();
  CoUninitialize();
}

TEST_F(TempRegistry, CreationFailures) {
  IUnknown* object = nullptr;
  EXPECT_EQ(CoCreateInstance(CLSID_Resize, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                             reinterpret_cast<void**>(&object)),
            REGDB_E_CLASSNOTREG);
  RegisterServer("/no/such/module.so");
  EXPECT_EQ(CoCreateInstance(CLSID_Resize, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                             reinterpret_cast<void**>(&object)),
            CO_E_DLLNOTFOUND);
  RegisterServer(QUORVEX_TEST_PLAIN);
  EXPECT_EQ(CoCreateInstance(CLSID_Resize, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                             reinterpret_cast<void**>(&object)),
            CO_E_ERRORINDLL);
  EXPECT_EQ(CoCreateInstance(CLSID_Resize, nullptr, CLSCTX_LOCAL_SERVER, IID_IUnknown,
                             reinterpret_cast<void**>(&object)),
            REGDB_E_CLASSNOTREG);
  EXPECT_EQ(object, nullptr);
  EXPECT_EQ(CoCreateInstance(CLSID_Resize, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, nullptr),
            E_POINTER);
  LPOLESTR progId = nullptr;
  EXPECT_EQ(ProgIDFromCLSID(CLSID_Resize, &progId), REGDB_E_CLASSNOTREG);
}

TEST(Apartment, InitialisationCountsAndKeepsItsModel) {
  EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
  EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_FALSE);
  EXPECT_EQ(CoInitialize(nullptr), RPC_E_CHANGED_MODE);
  CoUninitialize();
  CoUninitialize();
  EXPECT_EQ(CoInitialize(nullptr), S_OK);
  CoUninitialize();
}

// ---- Module facts ----

TEST(Modules, PathsHandlesAndEntryPoints) {
  const std::u16string path = Wide(QUORVEX_TEST_PLAIN);
  HMODULE module = LoadLibraryW(path.c_str());
  ASSERT_NE(module, nullptr);
  OLECHAR name[1024];
  const DWORD length = GetModuleFileNameW(module, name, 1024);
  EXPECT_EQ(Narrow(name), fs::path(QUORVEX_TEST_PLAIN).lexically_normal().string());
  EXPECT_EQ(length, static_cast<DWORD>(std::char_traits<char16_t>::length(name)));
  OLECHAR tiny[5];
  EXPECT_EQ(GetModuleFileNameW(module, tiny, 5), 5u) << "truncated to the buffer";
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(tiny[4], 0);
  using Answer = int (*)();
  // Through void (*)(), which any function pointer type may be cast to without a warning.
  auto answer = reinterpret_cast<Answer>(
      reinterpret_cast<void (*)()>(GetProcAddress(module, "PlainModuleAnswer")));
  ASSERT_NE(answer, nullptr);
  EXPECT_EQ(answer(), 42);
  HMODULE fromAddress = nullptr;
  ASSERT_TRUE(GetModuleHandleExW(
      GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
      reinterpret_cast<LPCWSTR>(answer), &fromAddress));
  EXPECT_EQ(fromAddress, module);
  EXPECT_EQ(GetProcAddress(module, "NoSuchExport"), nullptr);
  EXPECT_EQ(GetProcAddress(module, "LoadTypeLib"), nullptr)
      << "only the module's own exports, not its dependencies'";
  EXPECT_TRUE(FreeLibrary(module));
  EXPECT_EQ(LoadLibraryW(u"/no/such/library.so"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
}

TEST(Modules, SystemModuleNamesNameThePlatform) {
  HMODULE ole32 = GetModuleHandleW(u"ole32.dll");
  ASSERT_NE(ole32, nullptr);
  EXPECT_EQ(GetModuleHandleW(u"OLEAUT32.DLL"), ole32);
  EXPECT_EQ(LoadLibraryW(u"oleaut32.dll"), ole32);
  EXPECT_TRUE(FreeLibrary(ole32));
  EXPECT_EQ(reinterpret_cast<void*>(GetProcAddress(ole32, "CoGetObjectContext")),
            reinterpret_cast<void*>(&CoGetObjectContext));
  EXPECT_EQ(reinterpret_cast<void*>(GetProcAddress(ole32, "UnRegisterTypeLib")),
            reinterpret_cast<void*>(&UnRegisterTypeLib));
  EXPECT_EQ(GetModuleHandleW(u"mtxex.dll"), nullptr) << "never loaded here";
  OLECHAR exe[1024];
  EXPECT_GT(GetModuleFileNameW(nullptr, exe, 1024), 0u);
  EXPECT_NE(Narrow(exe).find("platform_server_test"), std::string::npos);
}

TEST(System, VersionTickCountAndShortPaths) {
  OSVERSIONINFOW version{};
  EXPECT_FALSE(GetVersionExW(&version)) << "the size field must be set";
  version.dwOSVersionInfoSize = sizeof version;
  ASSERT_TRUE(GetVersionExW(&version));
  EXPECT_EQ(version.dwPlatformId, static_cast<DWORD>(VER_PLATFORM_WIN32_NT));
  EXPECT_GT(version.dwMajorVersion, 4u);
  const DWORD before = GetTickCount();
  EXPECT_GE(GetTickCount() - before, 0u);
  const std::u16string path = Wide(QUORVEX_TEST_PLAIN);
  OLECHAR shortPath[1024];
  EXPECT_EQ(GetShortPathNameW(path.c_str(), shortPath, 1024), path.size());
  EXPECT_EQ(std::u16string(shortPath), path) << "no 8.3 names: the path itself";
  EXPECT_EQ(GetShortPathNameW(path.c_str(), shortPath, 3), path.size() + 1);
  EXPECT_EQ(GetShortPathNameW(u"/no/such/file", shortPath, 1024), 0u);
}

struct Conversion {
  const char* utf8;
  int bytes;
  std::u16string wide;
  DWORD flags;
  int expected;  // characters, or 0 for failure
};

class CodePages : public ::testing::TestWithParam<Conversion> {};
TEST_P(CodePages, Utf8IsTheAnsiCodePage) {
  const Conversion& c = GetParam();
  OLECHAR out[64] = {};
  const int n = MultiByteToWideChar(CP_ACP, c.flags, c.utf8, c.bytes, out, 64);
  EXPECT_EQ(n, c.expected);
  if (n > 0) {
    EXPECT_EQ(std::u16string(out, n), c.wide);
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, c.flags, c.utf8, c.bytes, nullptr, 0), n)
        << "a zero buffer asks for the size";
  } else {
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
  }
}
INSTANTIATE_TEST_SUITE_P(Texts, CodePages,
                         ::testing::Values(Conversion{"abc", 3, u"abc", 0, 3},
                                           Conversion{"abc", -1, std::u16string(u"abc\0", 4), 0, 4},
                                           Conversion{"caf\xC3\xA9", 5, u"caf\u00e9", 0, 4},
                                           Conversion{"\xF0\x9F\x98\x80", 4, u"\U0001F600", 0, 2},
                                           Conversion{"a\xFF"
                                                      "b",
                                                      3, u"a\uFFFDb", 0, 3},
                                           Conversion{"a\xFF"
                                                      "b",
                                                      3, u"", MB_ERR_INVALID_CHARS, 0},
                                           Conversion{"\xC0\xAF", 2, u"", MB_ERR_INVALID_CHARS,
                                                      0}));

TEST(CodePages, WideToUtf8AndBufferLimits) {
  char out[16];
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, u"/tmp/\u00e9.jpg", -1, out, 16, nullptr, nullptr), 12);
  EXPECT_STREQ(out, "/tmp/\xC3\xA9.jpg");
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, u"abcdef", 6, out, 3, nullptr, nullptr), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  const char16_t lone[] = {0xD800, u'x'};
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, lone, 2, out, 16, nullptr, nullptr),
            0);
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, lone, 2, out, 16, nullptr, nullptr), 4);
  BOOL used = TRUE;
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, u"a", 1, out, 16, nullptr, &used), 0)
      << "UTF-8 takes no default character";
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, u"a", 1, out, 16, nullptr, &used), 1);
  EXPECT_FALSE(used);
  EXPECT_EQ(MultiByteToWideChar(1252 + 1, 0, "a", 1, nullptr, 0), 0) << "other code pages";
}

}  // namespace
