// The component module as clients see it: exports, class factory, IDispatch and the IResize and
// IResize2 function tables, error information, aggregation, registration and response output.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <set>

#include "component/quorvex_interface.h"
#include "comserver/text_conversion.h"
#include "platform/com_ptr.h"
#include "platform/object_context.h"
#include "quorvex_version.h"
#include "tests/support/external_tools.h"
#include "tests/support/test_files.h"
#include "tests/support/test_response.h"

namespace quorvex {
namespace {

using testing::ScratchDirectory;
using testing::TestResponse;
using OleString = std::basic_string<OLECHAR>;

template <typename Proc>
Proc Export(HMODULE module, const char* name) {
  return reinterpret_cast<Proc>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

struct ErrorDetails {
  GUID guid{};
  std::string source, description;
  DWORD helpContext = 99;
};

ErrorDetails ThreadError() {
  ErrorDetails details;
  TComPtr<IErrorInfo> info;
  if (GetErrorInfo(0, info.Put()) != S_OK || !info) return details;
  TBstr text;
  info->GetGUID(&details.guid);
  info->GetSource(text.Put());
  details.source = BstrToUtf8(text.get());
  info->GetDescription(text.Put());
  details.description = BstrToUtf8(text.get());
  info->GetHelpContext(&details.helpContext);
  return details;
}

class ModuleTest : public ::testing::Test {
 protected:
  ScratchDirectory dir;
  HMODULE module = nullptr;
  TComPtr<IClassFactory> factory;

  void SetUp() override {
    QUORVEX_REQUIRE_TOOLS(quorvex_test::Tool::kCjpeg);
    setenv("QUORVEX_REGISTRY", dir.File("registry").c_str(), 1);
    module = LoadLibraryW(Utf8ToOle(QUORVEX_MODULE_PATH).c_str());
    ASSERT_NE(module, nullptr);
    ASSERT_EQ(GetClassObject(CLSID_Resize, IID_IClassFactory, factory.PutVoid()), S_OK);
  }
  void TearDown() override {
    factory = TComPtr<IClassFactory>();
    FreeLibrary(module);
  }

  HRESULT GetClassObject(REFCLSID clsid, REFIID iid, void** object) {
    using Proc = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, LPVOID*);
    return Export<Proc>(module, "DllGetClassObject")(clsid, iid, object);
  }
  HRESULT CallExport(const char* name) {
    return Export<HRESULT(STDAPICALLTYPE*)()>(module, name)();
  }
  TComPtr<IResize> NewResize() {
    TComPtr<IResize> resize;
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IResize, resize.PutVoid()), S_OK);
    return resize;
  }
  std::string LoadedPhoto(IResize* resize, int width, int height) {
    const std::string file = testing::MakeJpegWithCjpeg(dir, "photo.jpg", width, height);
    EXPECT_EQ(resize->LoadFromFile(TBstr(Utf8ToNewBstr(file)).get()), S_OK);
    return file;
  }
};

DISPID IdOf(IDispatch* dispatch, const std::string& name) {
  OleString wide = Utf8ToOle(name);
  LPOLESTR names[1] = {wide.data()};
  DISPID id = -99;
  const HRESULT result = dispatch->GetIDsOfNames(GUID_NULL, names, 1, 0x409, &id);
  return SUCCEEDED(result) ? id : result;
}

HRESULT Invoke(IDispatch* dispatch, DISPID id, WORD flags, std::vector<VARIANT> reversedArgs,
               VARIANT* result = nullptr, EXCEPINFO* exception = nullptr,
               UINT* argError = nullptr) {
  DISPID named = DISPID_PROPERTYPUT;
  const bool put = (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) != 0;
  DISPPARAMS params{reversedArgs.data(), put ? &named : nullptr,
                    static_cast<UINT>(reversedArgs.size()), put ? 1u : 0u};
  return dispatch->Invoke(id, GUID_NULL, 0x409, flags, &params, result, exception, argError);
}

VARIANT LongValue(LONG value) {
  VARIANT v;
  VariantInit(&v);
  V_VT(&v) = VT_I4;
  V_I4(&v) = value;
  return v;
}

TEST_F(ModuleTest, PropertyPutsGoThroughEitherPutFlagAndAreClamped) {
  TComPtr<IResize> resize = NewResize();
  const DISPID quality = IdOf(resize.get(), "JPGQuality");
  ASSERT_EQ(quality, 11);
  EXPECT_EQ(Invoke(resize.get(), quality, DISPATCH_PROPERTYPUT, {LongValue(200)}), S_OK);
  LONG value = 0;
  resize->get_JPGQuality(&value);
  EXPECT_EQ(value, 100);
  EXPECT_EQ(Invoke(resize.get(), quality, DISPATCH_PROPERTYPUTREF, {LongValue(-3)}), S_OK);
  resize->get_JPGQuality(&value);
  EXPECT_EQ(value, 0);
  EXPECT_EQ(Invoke(resize.get(), quality, DISPATCH_METHOD, {LongValue(50)}), DISP_E_MEMBERNOTFOUND);
  resize->get_JPGQuality(&value);
  EXPECT_EQ(value, 0) << "only a property put reaches the put";
}

TEST_F(ModuleTest, NamesAreFoundWithoutRegardToCase) {
  TComPtr<IResize> resize = NewResize();
  EXPECT_EQ(IdOf(resize.get(), "width"), 1);
  EXPECT_EQ(IdOf(resize.get(), "GREYSCALE"), 20);
  EXPECT_EQ(IdOf(resize.get(), "Resize"), DISP_E_UNKNOWNNAME);
  UINT count = 0;
  EXPECT_EQ(resize->GetTypeInfoCount(&count), S_OK);
  EXPECT_EQ(count, 1u);
  TComPtr<ITypeInfo> info;
  EXPECT_EQ(resize->GetTypeInfo(1, 0, info.Put()), DISP_E_BADINDEX);
  EXPECT_FALSE(info);
  EXPECT_EQ(resize->GetTypeInfo(0, 0, info.Put()), S_OK);
  EXPECT_TRUE(info);
}

TEST_F(ModuleTest, EveryDispatchIdentifierReachesItsMember) {
  // The names and identifiers as the interface lists them, read back through the object.
  const std::vector<std::pair<std::string, DISPID>> members = {
      {"Width", 1},        {"Height", 2},       {"ResizeImage", 3},      {"ScaleImage", 4},
      {"ResizeBox", 5},    {"RotateImage", 6},  {"CropImage", 7},        {"GrayScale", 8},
      {"LoadFromFile", 9}, {"SaveToFile", 10},  {"JPGQuality", 11},      {"VariantIn", 12},
      {"VariantOut", 13},  {"StreamImage", 14}, {"FlipHorizontal", 15},  {"FlipVertical", 16},
      {"DPI", 17},         {"Version", 18},     {"BackgroundColor", 19}, {"GreyScale", 20}};
  TComPtr<IResize> resize = NewResize();
  for (const auto& [name, id] : members) EXPECT_EQ(IdOf(resize.get(), name), id) << name;
  VARIANT version;
  VariantInit(&version);
  ASSERT_EQ(Invoke(resize.get(), 18, DISPATCH_PROPERTYGET, {}, &version), S_OK);
  EXPECT_EQ(BstrToUtf8(V_BSTR(&version)), QUORVEX_VERSION_TEXT);
  VariantClear(&version);
  VARIANT grey;
  VariantInit(&grey);
  V_VT(&grey) = VT_BSTR;
  V_BSTR(&grey) = SysAllocString(u"True");
  EXPECT_EQ(Invoke(resize.get(), 20, DISPATCH_PROPERTYPUT, {grey}), S_OK) << "coerced to a Boolean";
  VariantClear(&grey);
  VARIANT_BOOL flag = 0;
  resize->get_GrayScale(&flag);
  EXPECT_EQ(flag, VARIANT_TRUE) << "GreyScale and GrayScale are one flag";
}

TEST_F(ModuleTest, DispatchArgumentErrorsStopBeforeTheMember) {
  TComPtr<IResize> resize = NewResize();
  EXPECT_EQ(Invoke(resize.get(), 3, DISPATCH_METHOD, {LongValue(5)}), DISP_E_BADPARAMCOUNT);
  VARIANT text;
  VariantInit(&text);
  V_VT(&text) = VT_BSTR;
  V_BSTR(&text) = SysAllocString(u"wide");
  UINT argError = 99;
  EXPECT_EQ(
      Invoke(resize.get(), 3, DISPATCH_METHOD, {LongValue(5), text}, nullptr, nullptr, &argError),
      DISP_E_TYPEMISMATCH);
  EXPECT_EQ(argError, 1u) << "the first argument, last in the array";
  VariantClear(&text);
  EXPECT_EQ(Invoke(resize.get(), 99, DISPATCH_METHOD, {}), DISP_E_MEMBERNOTFOUND);
}

TEST_F(ModuleTest, AFailingMemberPublishesErrorInformation) {
  TComPtr<IResize> resize = NewResize();
  EXPECT_EQ(resize->SaveToFile(TBstr(Utf8ToNewBstr(dir.File("x.jpg"))).get()), E_UNEXPECTED);
  const ErrorDetails error = ThreadError();
  EXPECT_TRUE(IsEqualGUID(error.guid, IID_IResize));
  EXPECT_EQ(error.source, "Quorvex.Resize");
  EXPECT_EQ(error.description, "No image loaded.");
  EXPECT_EQ(error.helpContext, 0u);

  EXCEPINFO exception{};
  VARIANT name;
  VariantInit(&name);
  V_VT(&name) = VT_BSTR;
  V_BSTR(&name) = Utf8ToNewBstr(dir.File("missing.jpg"));
  EXPECT_EQ(Invoke(resize.get(), 9, DISPATCH_METHOD, {name}, nullptr, &exception),
            DISP_E_EXCEPTION);
  EXPECT_EQ(static_cast<uint32_t>(exception.scode), 0x8000FFFFu);
  EXPECT_EQ(BstrToUtf8(exception.bstrSource), "Quorvex.Resize");
  EXPECT_EQ(BstrToUtf8(exception.bstrDescription), "File not found or permission incorrect.");
  VariantClear(&name);
  SysFreeString(exception.bstrSource);
  SysFreeString(exception.bstrDescription);
  SysFreeString(exception.bstrHelpFile);
}

TEST_F(ModuleTest, ErrorInformationIsSupportedOnEveryInterfaceTheObjectAnswers) {
  TComPtr<IResize> resize = NewResize();
  TComPtr<ISupportErrorInfo> support;
  ASSERT_EQ(resize->QueryInterface(IID_ISupportErrorInfo, support.PutVoid()), S_OK);
  const struct {
    const IID* iid;
    HRESULT expected;
  } cases[] = {{&IID_IUnknown, S_OK},          {&IID_IDispatch, S_OK},
               {&IID_IResize, S_OK},           {&IID_IResize2, S_OK},
               {&IID_IResize3, S_OK},          {&IID_ISupportErrorInfo, S_OK},
               {&IID_IProvideClassInfo, S_OK}, {&IID_IClassFactory, S_FALSE}};
  for (const auto& c : cases) {
    TComPtr<IUnknown> other;
    EXPECT_EQ(resize->QueryInterface(*c.iid, other.PutVoid()) == S_OK, c.expected == S_OK);
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(*c.iid), c.expected);
  }
}

TEST_F(ModuleTest, ResizeBoxReportsItsInnerCallsFailure) {
  TComPtr<IResize> resize = NewResize();
  LoadedPhoto(resize.get(), 100, 10);
  // The box makes the width govern, and 1 x 10 / 100 derives a height of 0.
  EXPECT_EQ(resize->ResizeBox(1, 100), E_UNEXPECTED);
  EXPECT_EQ(ThreadError().description, "Division by zero");
  LONG width = 0;
  resize->get_Width(&width);
  EXPECT_EQ(width, 100);
}

TEST_F(ModuleTest, ObjectAnswersItsSevenInterfaces) {
  TComPtr<IResize> resize = NewResize();
  for (const IID* iid : {&IID_IUnknown, &IID_ISupportErrorInfo, &IID_IProvideClassInfo,
                         &IID_IDispatch, &IID_IResize, &IID_IResize2, &IID_IResize3}) {
    TComPtr<IUnknown> other;
    EXPECT_EQ(resize->QueryInterface(*iid, other.PutVoid()), S_OK);
  }
  // Every table the object answers is one and the same, the newest extending the others.
  TComPtr<IResize3> third;
  ASSERT_EQ(resize->QueryInterface(IID_IResize3, third.PutVoid()), S_OK);
  EXPECT_EQ(static_cast<IResize*>(third.get()), resize.get());
  TComPtr<IUnknown> none;
  EXPECT_EQ(resize->QueryInterface(IID_IClassFactory, none.PutVoid()), E_NOINTERFACE);
  EXPECT_FALSE(none);
  TComPtr<IProvideClassInfo> provide;
  resize->QueryInterface(IID_IProvideClassInfo, provide.PutVoid());
  TComPtr<ITypeInfo> classInfo;
  ASSERT_EQ(provide->GetClassInfo(classInfo.Put()), S_OK);
  TBstr name;
  classInfo->GetDocumentation(MEMBERID_NIL, name.Put(), nullptr, nullptr, nullptr);
  EXPECT_EQ(BstrToUtf8(name.get()), "Resize");
}

// An outer object that counts the references the inner object hands to it.
class Outer final : public IUnknown {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** object) override {
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++count; }
  ULONG STDMETHODCALLTYPE Release() override { return --count; }
  LONG count = 1;
};

TEST_F(ModuleTest, AggregationGivesTheInnerUnknownAndDelegatesTheRest) {
  Outer outer;
  TComPtr<IUnknown> inner;
  EXPECT_EQ(factory->CreateInstance(&outer, IID_IResize, inner.PutVoid()), CLASS_E_NOAGGREGATION);
  ASSERT_EQ(factory->CreateInstance(&outer, IID_IUnknown, inner.PutVoid()), S_OK);
  IResize* resize = nullptr;
  ASSERT_EQ(inner->QueryInterface(IID_IResize, reinterpret_cast<void**>(&resize)), S_OK);
  EXPECT_EQ(outer.count, 2) << "the interface's reference belongs to the outer object";
  resize->Release();
  EXPECT_EQ(outer.count, 1);
  EXPECT_EQ(factory->CreateInstance(nullptr, IID_IResize, nullptr), E_POINTER);
}

TEST_F(ModuleTest, UnloadingFollowsObjectsFactoryReferencesAndLocks) {
  factory = TComPtr<IClassFactory>();
  EXPECT_EQ(CallExport("DllCanUnloadNow"), S_OK);
  IClassFactory* raw = nullptr;
  ASSERT_EQ(GetClassObject(CLSID_Resize, IID_IClassFactory, reinterpret_cast<void**>(&raw)), S_OK);
  EXPECT_EQ(CallExport("DllCanUnloadNow"), S_FALSE) << "a factory reference is held";
  IResize* resize = nullptr;
  raw->CreateInstance(nullptr, IID_IResize, reinterpret_cast<void**>(&resize));
  raw->Release();
  EXPECT_EQ(CallExport("DllCanUnloadNow"), S_FALSE) << "an object is alive";
  resize->Release();
  EXPECT_EQ(CallExport("DllCanUnloadNow"), S_OK);
  GetClassObject(CLSID_Resize, IID_IClassFactory, reinterpret_cast<void**>(&raw));
  raw->LockServer(TRUE);
  raw->Release();
  EXPECT_EQ(CallExport("DllCanUnloadNow"), S_FALSE) << "the server is locked";
  GetClassObject(CLSID_Resize, IID_IClassFactory, reinterpret_cast<void**>(&raw));
  raw->LockServer(FALSE);
  raw->Release();
  EXPECT_EQ(CallExport("DllCanUnloadNow"), S_OK);
}

TEST_F(ModuleTest, UnknownClassesAndInterfacesAreRefused) {
  const CLSID other = {0x12345678, 0, 0, {0, 0, 0, 0, 0, 0, 0, 1}};
  void* object = reinterpret_cast<void*>(1);
  EXPECT_EQ(GetClassObject(other, IID_IClassFactory, &object), CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(object, nullptr);
  EXPECT_EQ(GetClassObject(CLSID_Resize, IID_IResize, &object), E_NOINTERFACE);
}

std::set<std::string> KeysUnder(const std::string& path) {
  std::set<std::string> keys;
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, Utf8ToOle(path).c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
    return keys;
  OLECHAR name[256];
  for (DWORD i = 0;; ++i) {
    DWORD length = 256;
    if (RegEnumKeyExW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
      break;
    keys.insert(Utf16ToUtf8(name, length));
  }
  RegCloseKey(key);
  return keys;
}

std::string ValueOf(const std::string& path, const char* valueName = nullptr) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, Utf8ToOle(path).c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
    return "<no key>";
  OLECHAR data[512];
  DWORD type = 0, size = sizeof data;
  const OleString name = valueName != nullptr ? Utf8ToOle(valueName) : OleString();
  const LSTATUS status = RegQueryValueExW(key, valueName != nullptr ? name.c_str() : nullptr,
                                          nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
  RegCloseKey(key);
  if (status != ERROR_SUCCESS || type != REG_SZ) return "<no value>";
  return Utf16ToUtf8(data, size / sizeof(OLECHAR) - 1);
}

TEST_F(ModuleTest, RegistrationWritesTheEightEntriesAndUnregistrationRemovesThem) {
  EXPECT_EQ(CallExport("DllUnregisterServer"), S_OK) << "never registered";
  ASSERT_EQ(CallExport("DllRegisterServer"), S_OK);
  const std::string clsid = "CLSID\\{77925133-6C73-401E-B954-9CDFD1BCB3BE}";
  EXPECT_EQ(ValueOf(clsid), "Resize Object");
  EXPECT_EQ(ValueOf(clsid + "\\InprocServer32"), QUORVEX_MODULE_PATH);
  EXPECT_EQ(ValueOf(clsid + "\\InprocServer32", "ThreadingModel"), "Both");
  EXPECT_EQ(ValueOf("Quorvex.Resize"), "Resize Object");
  EXPECT_EQ(ValueOf("Quorvex.Resize\\Clsid"), "{77925133-6C73-401E-B954-9CDFD1BCB3BE}");
  EXPECT_EQ(ValueOf(clsid + "\\ProgID"), "Quorvex.Resize");
  EXPECT_EQ(ValueOf(clsid + "\\Version"), "1.0");
  EXPECT_EQ(ValueOf(clsid + "\\TypeLib"), "{FB2AD6CC-DA46-40D5-BB03-3123E4001744}");
  EXPECT_EQ(KeysUnder(clsid),
            (std::set<std::string>{"InprocServer32", "ProgID", "TypeLib", "Version"}));
  EXPECT_EQ(KeysUnder("Quorvex.Resize"), (std::set<std::string>{"Clsid"}));

  CLSID found{};
  ASSERT_EQ(CLSIDFromProgID(Utf8ToOle("Quorvex.Resize").c_str(), &found), S_OK);
  EXPECT_TRUE(IsEqualCLSID(found, CLSID_Resize));
  TComPtr<IDispatch> created;
  EXPECT_EQ(
      CoCreateInstance(found, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, created.PutVoid()),
      S_OK);
  created = TComPtr<IDispatch>();

  ASSERT_EQ(CallExport("DllUnregisterServer"), S_OK);
  EXPECT_EQ(ValueOf(clsid), "<no key>");
  EXPECT_EQ(ValueOf("Quorvex.Resize"), "<no key>");
  EXPECT_EQ(CallExport("DllUnregisterServer"), S_OK);
}

TEST_F(ModuleTest, StreamImageMakesTheFourResponseCallsInOrder) {
  TComPtr<IResize> resize = NewResize();
  LoadedPhoto(resize.get(), 30, 20);
  TestResponse response;
  {
    ObjectContextScope context(&response);
    ASSERT_TRUE(context.entered());
    ASSERT_EQ(resize->StreamImage(), S_OK);
  }
  EXPECT_EQ(response.calls, (std::vector<std::string>{"Expires=0", "Clear",
                                                      "ContentType=Image/jpeg", "BinaryWrite"}));
  EXPECT_EQ(response.bodyLowerBound, 1);
  ASSERT_GT(response.body.size(), 2u);
  EXPECT_EQ(response.body[0], 0xFF);
  EXPECT_EQ(response.body[1], 0xD8);
  VARIANT out;
  VariantInit(&out);
  resize->get_VariantOut(&out);
  EXPECT_EQ(response.body.size(), V_ARRAY(&out)->rgsabound[0].cElements) << "the same bytes";
  VariantClear(&out);
  EXPECT_EQ(response.References(), 1) << "every lookup released";
}

struct StreamFailure {
  const char* call;
  HRESULT code;
  size_t callsMade;
};
class StreamImageFailures : public ModuleTest,
                            public ::testing::WithParamInterface<StreamFailure> {};
TEST_P(StreamImageFailures, StopAtTheFailingCallAndReturnItsCode) {
  TComPtr<IResize> resize = NewResize();
  LoadedPhoto(resize.get(), 30, 20);
  TestResponse response;
  response.failName = GetParam().call;
  response.failCode = GetParam().code;
  response.failDescription = "The client went away...";
  ObjectContextScope context(&response);
  EXPECT_EQ(resize->StreamImage(), GetParam().code);
  EXPECT_EQ(response.calls.size(), GetParam().callsMade);
  const ErrorDetails error = ThreadError();
  EXPECT_EQ(error.description, "The client went away") << "trailing full stops dropped";
  EXPECT_EQ(error.source, "Quorvex.Resize");
}
INSTANTIATE_TEST_SUITE_P(Calls, StreamImageFailures,
                         ::testing::Values(StreamFailure{"Expires", E_ACCESSDENIED, 1},
                                           StreamFailure{"Clear", static_cast<HRESULT>(0x800A0001),
                                                         2},
                                           StreamFailure{"ContentType", E_FAIL, 3},
                                           StreamFailure{"BinaryWrite", E_OUTOFMEMORY, 4}));

TEST_F(ModuleTest, StreamImageOutsideAWebRequestWritesNothing) {
  TComPtr<IResize> resize = NewResize();
  LoadedPhoto(resize.get(), 30, 20);
  EXPECT_EQ(resize->StreamImage(), E_UNEXPECTED);
  EXPECT_EQ(ThreadError().description,
            "StreamImage needs a web request: there is no object context.");
  TComPtr<IResize> empty = NewResize();
  TestResponse response;
  ObjectContextScope context(&response);
  EXPECT_EQ(empty->StreamImage(), E_UNEXPECTED);
  EXPECT_EQ(ThreadError().description, "No image loaded.");
  EXPECT_TRUE(response.calls.empty());
}

// Leaves a record on the thread, as an unrelated earlier call would.
void LeaveStaleErrorInformation() {
  TComPtr<ICreateErrorInfo> create;
  ASSERT_EQ(CreateErrorInfo(create.Put()), S_OK);
  create->SetDescription(TBstr(Utf8ToNewBstr("stale")).get());
  TComPtr<IErrorInfo> info;
  create->QueryInterface(IID_IErrorInfo, info.PutVoid());
  SetErrorInfo(0, info.get());
}

class StreamImageSilentFailures : public ModuleTest,
                                  public ::testing::WithParamInterface<StreamFailure> {};
TEST_P(StreamImageSilentFailures, NeverReportAnEarlierCallsErrorInformation) {
  TComPtr<IResize> resize = NewResize();
  LoadedPhoto(resize.get(), 30, 20);
  TestResponse response;
  response.failName = GetParam().call;
  response.failCode = GetParam().code;
  ObjectContextScope context(&response);
  LeaveStaleErrorInformation();
  EXPECT_EQ(resize->StreamImage(), GetParam().code);
  EXPECT_EQ(response.calls.size(), GetParam().callsMade);
  char code[32];
  std::snprintf(code, sizeof code, "OLE error %.8x", static_cast<unsigned>(GetParam().code));
  EXPECT_EQ(ThreadError().description, code) << "the failing call published nothing";
}
INSTANTIATE_TEST_SUITE_P(Calls, StreamImageSilentFailures,
                         ::testing::Values(StreamFailure{"Expires", E_ACCESSDENIED, 1},
                                           StreamFailure{"Clear", E_FAIL, 2},
                                           StreamFailure{"ContentType", E_FAIL, 3},
                                           StreamFailure{"BinaryWrite", E_OUTOFMEMORY, 4}));

// Two pages, the first inaccessible: a descriptor at the start of the second has nothing
// readable before it.
class GuardedDescriptor {
 public:
  GuardedDescriptor() {
    page_ = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
    void* block =
        ::mmap(nullptr, 2 * page_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (block == MAP_FAILED) return;
    block_ = static_cast<BYTE*>(block);
    ::mprotect(block_, page_, PROT_NONE);
  }
  ~GuardedDescriptor() {
    if (block_ != nullptr) ::munmap(block_, 2 * page_);
  }
  GuardedDescriptor(const GuardedDescriptor&) = delete;
  GuardedDescriptor& operator=(const GuardedDescriptor&) = delete;
  SAFEARRAY* get() const {
    return block_ != nullptr ? reinterpret_cast<SAFEARRAY*>(block_ + page_) : nullptr;
  }

 private:
  size_t page_ = 0;
  BYTE* block_ = nullptr;
};

struct CallerArray {
  USHORT features;
  bool throughDispatch;
};
class CallerBuiltArrays : public ModuleTest, public ::testing::WithParamInterface<CallerArray> {};
TEST_P(CallerBuiltArrays, LoadWithoutReadingBeforeTheDescriptor) {
  std::vector<uint8_t> jpeg = testing::ReadBytes(testing::MakeJpegWithCjpeg(dir, "in.jpg", 30, 20));
  GuardedDescriptor guarded;
  SAFEARRAY* array = guarded.get();
  ASSERT_NE(array, nullptr);
  array->cDims = 1;
  array->fFeatures = GetParam().features;
  array->cbElements = 1;
  array->pvData = jpeg.data();
  array->rgsabound[0].cElements = static_cast<ULONG>(jpeg.size());
  VARIANT value;
  VariantInit(&value);
  V_VT(&value) = VT_ARRAY | VT_UI1;
  V_ARRAY(&value) = array;
  TComPtr<IResize> resize = NewResize();
  if (GetParam().throughDispatch) {
    ASSERT_EQ(Invoke(resize.get(), 12, DISPATCH_METHOD, {value}), S_OK);
  } else {
    ASSERT_EQ(resize->VariantIn(value), S_OK);
  }
  LONG width = 0;
  resize->get_Width(&width);
  EXPECT_EQ(width, 30);
}
INSTANTIATE_TEST_SUITE_P(Features, CallerBuiltArrays,
                         ::testing::Values(CallerArray{0, false}, CallerArray{FADF_AUTO, false},
                                           CallerArray{FADF_STATIC, false},
                                           CallerArray{FADF_EMBEDDED | FADF_FIXEDSIZE, false},
                                           CallerArray{0, true}, CallerArray{FADF_AUTO, true}));

// ---- IResize2 ----

TComPtr<IResize2> Second(IResize* resize) {
  TComPtr<IResize2> second;
  EXPECT_EQ(resize->QueryInterface(IID_IResize2, second.PutVoid()), S_OK);
  return second;
}

// A property read by name, as text ("True"/"False" for Booleans).
std::string GetByName(IDispatch* dispatch, const std::string& name) {
  VARIANT value, text;
  VariantInit(&value);
  VariantInit(&text);
  if (FAILED(Invoke(dispatch, IdOf(dispatch, name), DISPATCH_PROPERTYGET, {}, &value)))
    return "<failed>";
  const std::string type = V_VT(&value) == VT_BOOL   ? "bool:"
                           : V_VT(&value) == VT_BSTR ? "string:"
                                                     : "long:";
  if (V_VT(&value) == VT_BOOL) return type + (V_BOOL(&value) ? "True" : "False");
  VariantChangeType(&text, &value, 0, VT_BSTR);
  const std::string result = type + BstrToUtf8(V_BSTR(&text));
  VariantClear(&text);
  VariantClear(&value);
  return result;
}

HRESULT PutByName(IDispatch* dispatch, const std::string& name, LONG value) {
  return Invoke(dispatch, IdOf(dispatch, name), DISPATCH_PROPERTYPUT, {LongValue(value)});
}

TEST_F(ModuleTest, SecondInterfaceMembersByNameWithTheirDefaultsAndRoundTrips) {
  struct Property {
    const char* name;
    DISPID id;
    const char* initial;
    std::vector<std::pair<LONG, const char*>> puts;  // value put, value read back
  };
  const std::vector<Property> properties = {
      {"AutoOrient", 22, "bool:False", {{-1, "bool:True"}, {0, "bool:False"}}},
      {"Orientation", 23, "long:1", {}},
      {"KeepMetadata", 24, "bool:False", {{-1, "bool:True"}, {0, "bool:False"}}},
      {"MaxPixels",
       25,
       "long:268402689",
       {{1000, "long:1000"},
        {0, "long:268402689"},
        {7, "long:7"},
        {-5, "long:268402689"},
        {2147483647, "long:268402689"}}},
      {"Progressive", 26, "bool:False", {{-1, "bool:True"}, {0, "bool:False"}}},
      {"OptimizeCoding", 27, "bool:False", {{-1, "bool:True"}, {0, "bool:False"}}},
      {"SourceQuality", 28, "long:0", {}},
  };
  TComPtr<IResize> resize = NewResize();
  EXPECT_EQ(IdOf(resize.get(), "loadthumbnail"), 21);
  for (const Property& p : properties) {
    SCOPED_TRACE(p.name);
    EXPECT_EQ(IdOf(resize.get(), p.name), p.id);
    EXPECT_EQ(GetByName(resize.get(), p.name), p.initial);
    for (const auto& [put, read] : p.puts) {
      EXPECT_EQ(PutByName(resize.get(), p.name, put), S_OK);
      EXPECT_EQ(GetByName(resize.get(), p.name), read);
    }
    if (p.puts.empty()) {
      EXPECT_EQ(PutByName(resize.get(), p.name, 5), DISP_E_MEMBERNOTFOUND) << "read-only";
    }
  }
  // The same object through either table.
  TComPtr<IResize2> second = Second(resize.get());
  EXPECT_EQ(second->put_MaxPixels(1234), S_OK);
  EXPECT_EQ(GetByName(resize.get(), "MaxPixels"), "long:1234");
  TComPtr<IResize> first;
  ASSERT_EQ(second->QueryInterface(IID_IResize, first.PutVoid()), S_OK);
  LONG quality = 0;
  EXPECT_EQ(static_cast<IResize*>(second.get())->get_JPGQuality(&quality), S_OK);
  EXPECT_EQ(quality, 90) << "inherited members through IResize2's table";
}

// ---- IResize3 ----

// Fitting through IResize3's table and by name from a script's dispatch view, with the message of
// a refused name.
TEST_F(ModuleTest, FillBoxAndItsSettingsThroughEitherSurface) {
  TComPtr<IResize> resize = NewResize();
  TComPtr<IResize3> third;
  ASSERT_EQ(resize->QueryInterface(IID_IResize3, third.PutVoid()), S_OK);
  LoadedPhoto(resize.get(), 640, 480);
  EXPECT_EQ(third->put_Gravity(TBstr(Utf8ToNewBstr("NorthWest")).get()), S_OK);
  TBstr gravity;
  EXPECT_EQ(third->get_Gravity(gravity.Put()), S_OK);
  EXPECT_EQ(BstrToUtf8(gravity.get()), "northwest");
  EXPECT_EQ(third->put_Gravity(TBstr(Utf8ToNewBstr("up")).get()), E_UNEXPECTED);
  EXPECT_EQ(ThreadError().description, "Unsupported gravity.");
  EXPECT_EQ(third->put_Sharpen(0.5), S_OK);
  DOUBLE sharpen = 0;
  EXPECT_EQ(third->get_Sharpen(&sharpen), S_OK);
  EXPECT_EQ(sharpen, 0.5);
  EXPECT_EQ(Invoke(resize.get(), IdOf(resize.get(), "fillbox"), DISPATCH_METHOD,
                   {LongValue(100), LongValue(300)}),
            S_OK);
  LONG width = 0, height = 0;
  resize->get_Width(&width);
  resize->get_Height(&height);
  EXPECT_EQ(width, 300);
  EXPECT_EQ(height, 100);
  VARIANT fit;
  VariantInit(&fit);
  V_VT(&fit) = VT_BSTR;
  V_BSTR(&fit) = Utf8ToNewBstr("tile");
  EXPECT_EQ(Invoke(resize.get(), IdOf(resize.get(), "Fit"), DISPATCH_PROPERTYPUT, {fit}),
            DISP_E_EXCEPTION);
  EXPECT_EQ(ThreadError().description, "Unsupported fit.");
  VariantClear(&fit);
}

// The output format by name, and the media type StreamImage then sends.
TEST_F(ModuleTest, OutputFormatByNameDecidesWhatStreamImageSends) {
  TComPtr<IResize> resize = NewResize();
  LoadedPhoto(resize.get(), 30, 20);
  EXPECT_EQ(IdOf(resize.get(), "outputformat"), 31);
  EXPECT_EQ(IdOf(resize.get(), "ContentType"), 32);
  auto put = [&](const char* name) {
    VARIANT value;
    V_VT(&value) = VT_BSTR;
    V_BSTR(&value) = Utf8ToNewBstr(name);
    const HRESULT result = Invoke(resize.get(), 31, DISPATCH_PROPERTYPUT, {value});
    VariantClear(&value);
    return result;
  };
  EXPECT_EQ(GetByName(resize.get(), "ContentType"), "string:Image/jpeg");
  EXPECT_EQ(put("WebP"), S_OK);
  EXPECT_EQ(put("tiff"), DISP_E_EXCEPTION);
  EXPECT_EQ(ThreadError().description, "Unsupported output format.");
  EXPECT_EQ(GetByName(resize.get(), "OutputFormat"), "string:webp");
  EXPECT_EQ(Invoke(resize.get(), 32, DISPATCH_PROPERTYPUT, {LongValue(1)}), DISP_E_MEMBERNOTFOUND)
      << "read-only";
  TestResponse response;
  {
    ObjectContextScope context(&response);
    ASSERT_EQ(resize->StreamImage(), S_OK);
  }
  EXPECT_EQ(response.calls, (std::vector<std::string>{"Expires=0", "Clear",
                                                      "ContentType=image/webp", "BinaryWrite"}));
  ASSERT_GT(response.body.size(), 12u);
  EXPECT_EQ(std::string(response.body.begin() + 8, response.body.begin() + 12), "WEBP");
}

// A transform whose result would exceed MaxPixels fails as an allocation does, nothing changed.
struct Transform {
  const char* name;
  std::function<HRESULT(IResize*)> call;
  LONG maxPixels;  // 100 x 80 source
  bool fits;
};
class MaxPixelsTransforms : public ModuleTest, public ::testing::WithParamInterface<Transform> {};
TEST_P(MaxPixelsTransforms, RefuseLargerResults) {
  TComPtr<IResize> resize = NewResize();
  LoadedPhoto(resize.get(), 100, 80);
  ASSERT_EQ(Second(resize.get())->put_MaxPixels(GetParam().maxPixels), S_OK);
  const HRESULT result = GetParam().call(resize.get());
  LONG width = 0, height = 0;
  resize->get_Width(&width);
  resize->get_Height(&height);
  if (GetParam().fits) {
    EXPECT_EQ(result, S_OK);
    EXPECT_LE(int64_t{width} * height, GetParam().maxPixels);
    return;
  }
  EXPECT_TRUE(FAILED(result));
  EXPECT_EQ(ThreadError().description, "Out of memory");
  EXPECT_EQ(width, 100);
  EXPECT_EQ(height, 80);
}
INSTANTIATE_TEST_SUITE_P(
    Operations, MaxPixelsTransforms,
    ::testing::Values(
        Transform{"ResizeOver", [](IResize* r) { return r->ResizeImage(101, 80); }, 8000, false},
        Transform{"ResizeAt", [](IResize* r) { return r->ResizeImage(100, 80); }, 8000, true},
        Transform{"ScaleOver", [](IResize* r) { return r->ScaleImage(150); }, 17999, false},
        Transform{"ScaleAt", [](IResize* r) { return r->ScaleImage(150); }, 18000, true},
        Transform{"BoxOver", [](IResize* r) { return r->ResizeBox(50, 50); }, 1999, false},
        Transform{"BoxAt", [](IResize* r) { return r->ResizeBox(50, 50); }, 2000, true},
        Transform{"RotateOver", [](IResize* r) { return r->RotateImage(90); }, 7999, false},
        Transform{"RotateAt", [](IResize* r) { return r->RotateImage(90); }, 8000, true},
        Transform{"RotateCorners", [](IResize* r) { return r->RotateImage(45); }, 8000, false},
        Transform{"CropOver", [](IResize* r) { return r->CropImage(-1, 0, 100, 80); }, 8000, false},
        Transform{"CropAt", [](IResize* r) { return r->CropImage(0, 0, 100, 80); }, 8000, true}),
    [](const ::testing::TestParamInfo<Transform>& info) { return std::string(info.param.name); });

TEST_F(ModuleTest, LoadsOverMaxPixelsFailWithTheLoadsMessageAndKeepTheImage) {
  const std::string big = testing::MakeJpegWithCjpeg(dir, "big.jpg", 100, 80);
  const std::string small = testing::MakeJpegWithCjpeg(dir, "small.jpg", 30, 20);
  const std::vector<uint8_t> bytes = testing::ReadBytes(big);
  for (const bool byBytes : {false, true}) {
    SCOPED_TRACE(byBytes ? "VariantIn" : "LoadFromFile");
    for (const LONG maxPixels : {7999, 8000}) {
      TComPtr<IResize> resize = NewResize();
      ASSERT_EQ(resize->LoadFromFile(TBstr(Utf8ToNewBstr(small)).get()), S_OK);
      ASSERT_EQ(Second(resize.get())->put_MaxPixels(maxPixels), S_OK);
      HRESULT result;
      if (byBytes) {
        VARIANT array;
        VariantInit(&array);
        V_VT(&array) = VT_ARRAY | VT_UI1;
        V_ARRAY(&array) = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size()));
        std::memcpy(V_ARRAY(&array)->pvData, bytes.data(), bytes.size());
        result = resize->VariantIn(array);
        VariantClear(&array);
      } else {
        result = resize->LoadFromFile(TBstr(Utf8ToNewBstr(big)).get());
      }
      LONG width = 0;
      resize->get_Width(&width);
      if (maxPixels == 8000) {
        EXPECT_EQ(result, S_OK);
        EXPECT_EQ(width, 100);
        continue;
      }
      EXPECT_TRUE(FAILED(result));
      EXPECT_EQ(ThreadError().description,
                byBytes ? "VariantIn has failed to read an image." : "Invalid file.");
      EXPECT_EQ(width, 30) << "the earlier image stays";
    }
  }
}

// The markers of a JPEG file: the frame type (0xC0 baseline, 0xC2 progressive) and each scan's
// components and spectral selection / successive approximation, as "comps:Ss-Se,Ah,Al".
struct JpegLayout {
  int frame = 0;
  std::vector<std::string> scans;
};
JpegLayout LayoutOf(const std::vector<uint8_t>& jpeg) {
  JpegLayout layout;
  size_t i = 2;
  while (i + 4 <= jpeg.size() && jpeg[i] == 0xFF) {
    const uint8_t marker = jpeg[i + 1];
    const size_t length = size_t{jpeg[i + 2]} << 8 | jpeg[i + 3];
    if (marker >= 0xC0 && marker <= 0xC2) layout.frame = marker;
    if (marker == 0xDA) {
      const size_t n = jpeg[i + 4];
      std::string scan;
      for (size_t c = 0; c < n; ++c) scan += std::to_string(jpeg[i + 5 + 2 * c]);
      const size_t tail = i + 5 + 2 * n;
      scan += ":" + std::to_string(jpeg[tail]) + "-" + std::to_string(jpeg[tail + 1]) + "," +
              std::to_string(jpeg[tail + 2] >> 4) + "," + std::to_string(jpeg[tail + 2] & 15);
      layout.scans.push_back(scan);
      // Past the entropy-coded data: to the next marker that is neither stuffing nor a restart.
      i += 2 + length;
      while (i + 1 < jpeg.size() &&
             !(jpeg[i] == 0xFF && jpeg[i + 1] != 0 && (jpeg[i + 1] < 0xD0 || jpeg[i + 1] > 0xD7)))
        ++i;
      continue;
    }
    i += 2 + length;
  }
  return layout;
}

class EncoderOptions : public ModuleTest {
 protected:
  // The object's output with the option put by name, and the pixels djpeg decodes from it.
  std::vector<uint8_t> Output(IResize* resize, const char* option, bool on) {
    EXPECT_EQ(PutByName(resize, option, on ? -1 : 0), S_OK);
    VARIANT out;
    VariantInit(&out);
    EXPECT_EQ(resize->get_VariantOut(&out), S_OK);
    std::vector<uint8_t> bytes(
        static_cast<uint8_t*>(V_ARRAY(&out)->pvData),
        static_cast<uint8_t*>(V_ARRAY(&out)->pvData) + V_ARRAY(&out)->rgsabound[0].cElements);
    VariantClear(&out);
    return bytes;
  }
  std::vector<uint8_t> Decoded(const std::vector<uint8_t>& jpeg, const std::string& name) {
    testing::WriteBytes(dir.File(name + ".jpg"), jpeg);
    EXPECT_EQ(testing::RunCommand("djpeg -ppm -outfile '" + dir.File(name + ".ppm") + "' '" +
                                  dir.File(name + ".jpg") + "'"),
              0);
    return testing::ReadBytes(dir.File(name + ".ppm"));
  }
};

TEST_F(EncoderOptions, ProgressiveWritesTheStandardProgressionOfTheSamePixels) {
  QUORVEX_REQUIRE_TOOLS(quorvex_test::Tool::kCjpeg, quorvex_test::Tool::kDjpeg);
  TComPtr<IResize> resize = NewResize();
  LoadedPhoto(resize.get(), 120, 90);
  const std::vector<uint8_t> baseline = Output(resize.get(), "Progressive", false);
  const std::vector<uint8_t> progressive = Output(resize.get(), "Progressive", true);
  const JpegLayout layout = LayoutOf(progressive);
  EXPECT_EQ(LayoutOf(baseline).frame, 0xC0);
  EXPECT_EQ(layout.frame, 0xC2);
  // cjpeg -progressive writes the library's standard progression for the same components.
  const std::vector<uint8_t> pixels = Decoded(baseline, "baseline");
  EXPECT_EQ(testing::RunCommand("cjpeg -progressive -outfile '" + dir.File("reference.jpg") +
                                "' '" + dir.File("baseline.ppm") + "'"),
            0);
  const JpegLayout reference = LayoutOf(testing::ReadBytes(dir.File("reference.jpg")));
  EXPECT_GT(reference.scans.size(), 1u);
  EXPECT_EQ(layout.scans, reference.scans);
  EXPECT_EQ(Decoded(progressive, "progressive"), pixels);
}

TEST_F(EncoderOptions, OptimizeCodingMakesASmallerBaselineFileOfTheSamePixels) {
  QUORVEX_REQUIRE_TOOLS(quorvex_test::Tool::kCjpeg, quorvex_test::Tool::kDjpeg);
  TComPtr<IResize> resize = NewResize();
  LoadedPhoto(resize.get(), 120, 90);
  const std::vector<uint8_t> plain = Output(resize.get(), "OptimizeCoding", false);
  const std::vector<uint8_t> optimized = Output(resize.get(), "OptimizeCoding", true);
  EXPECT_EQ(LayoutOf(optimized).frame, 0xC0);
  EXPECT_EQ(LayoutOf(optimized).scans.size(), 1u);
  EXPECT_LT(optimized.size(), plain.size());
  EXPECT_EQ(Decoded(optimized, "optimized"), Decoded(plain, "plain"));
}

TEST_F(ModuleTest, SourceQualityIsTheEstimateOfTheLastLoadedFile) {
  TComPtr<IResize> resize = NewResize();
  for (const int quality : {50, 75, 95}) {
    const std::string file =
        testing::MakeJpegWithCjpeg(dir, "q" + std::to_string(quality) + ".jpg", 64, 48, false,
                                   "-quality " + std::to_string(quality));
    ASSERT_EQ(resize->LoadFromFile(TBstr(Utf8ToNewBstr(file)).get()), S_OK);
    EXPECT_EQ(GetByName(resize.get(), "SourceQuality"), "long:" + std::to_string(quality));
  }
}

}  // namespace
}  // namespace quorvex
