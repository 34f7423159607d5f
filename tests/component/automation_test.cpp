// The component module as clients see it: exports, class factory, IDispatch and the IResize
// function table, error information, aggregation, registration and response output.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <set>

#include "platform/com_ptr.h"
#include "component/quorvex_interface.h"
#include "component/text_conversion.h"
#include "platform/object_context.h"
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
  EXPECT_EQ(BstrToUtf8(V_BSTR(&version)), "Quorvex 1.0.0.6.");
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
               {&IID_IResize, S_OK},           {&IID_ISupportErrorInfo, S_OK},
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

TEST_F(ModuleTest, ObjectAnswersItsFiveInterfaces) {
  TComPtr<IResize> resize = NewResize();
  for (const IID* iid : {&IID_IUnknown, &IID_ISupportErrorInfo, &IID_IProvideClassInfo,
                         &IID_IDispatch, &IID_IResize}) {
    TComPtr<IUnknown> other;
    EXPECT_EQ(resize->QueryInterface(*iid, other.PutVoid()), S_OK);
  }
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

}  // namespace
}  // namespace quorvex
