// A compiled client of the Resize object under Wine's object runtime, for what the script engines
// cannot show: the byte array of VariantOut (bounds and bytes), VariantIn with other lower bounds
// and by reference, the exception information of failing calls through IDispatch::Invoke, the
// early-bound function tables of IResize and IResize2 with the thread's error information, and the
// module's exports.
// Usage: quorvex_wine_client WORK_DIR MODULE_PATH   (Windows paths; WORK_DIR holds
// make_inputs.py's files). The last line is "N passed, M failed"; the exit code is 1 on failure.
#include <string>
#include <vector>

#include "platform/com_ptr.h"
#include "quorvex_version.h"
#include "tests/wine/client_support.h"

namespace quorvex::wine_client {
namespace {

constexpr HRESULT kUnexpected = static_cast<HRESULT>(0x8000FFFF);
constexpr char kProgId[] = "Quorvex.Resize";

class Client {
 public:
  Client(std::string work, std::string module)
      : work_(std::move(work)), module_(std::move(module)) {}

  int Run() {
    Creation();
    DispatchSurface();
    VariantOutArray();
    VariantInBounds();
    VariantInByReference();
    ExceptionInformation();
    EarlyBinding();
    SecondInterface();
    ThirdInterface();
    LockedFile();
    ModuleExports();
    VersionResource();
    return tally_.Summary();
  }

 private:
  std::string Path(const std::string& name) const { return work_ + "\\" + name; }

  TComPtr<IDispatch> NewObject() {
    TComPtr<IDispatch> object;
    const HRESULT result = CoCreateInstance(CLSID_Resize, nullptr, CLSCTX_INPROC_SERVER,
                                            IID_IDispatch, object.PutVoid());
    tally_.Equal(result, S_OK, "CoCreateInstance");
    return object;
  }

  DISPID IdOf(IDispatch* object, const std::string& name) {
    auto wide = Wide(name);
    LPOLESTR names[1] = {wide.data()};
    DISPID id = DISPID_UNKNOWN;
    const HRESULT result = object->GetIDsOfNames(IID_NULL, names, 1, 0x409, &id);
    return SUCCEEDED(result) ? id : result;
  }

  // Arguments in the order a script writes them.
  HRESULT Invoke(IDispatch* object, const std::string& name, WORD flags, std::vector<VARIANT> args,
                 VARIANT* result = nullptr, ExceptionInfo* exception = nullptr,
                 UINT* argumentError = nullptr) {
    std::reverse(args.begin(), args.end());
    DISPID named = DISPID_PROPERTYPUT;
    const bool put = (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) != 0;
    DISPPARAMS params{args.empty() ? nullptr : args.data(), put ? &named : nullptr,
                      static_cast<UINT>(args.size()), put ? 1u : 0u};
    return object->Invoke(IdOf(object, name), IID_NULL, 0x409, flags, &params, result,
                          exception != nullptr ? &exception->info : nullptr, argumentError);
  }

  LONG GetLong(IDispatch* object, const std::string& name) {
    Variant value;
    if (FAILED(Invoke(object, name, DISPATCH_PROPERTYGET, {}, &value.value))) return -999;
    if (FAILED(VariantChangeType(&value.value, &value.value, 0, VT_I4))) return -998;
    return V_I4(&value.value);
  }

  std::string Size(IDispatch* object) {
    return std::to_string(GetLong(object, "Width")) + "x" +
           std::to_string(GetLong(object, "Height"));
  }

  HRESULT Load(IDispatch* object, const std::string& name) {
    Variant file;
    SetString(file.value, Path(name));
    return Invoke(object, "LoadFromFile", DISPATCH_METHOD, {file.value});
  }

  // The JPEG bytes of a loaded photo, through VariantOut.
  std::vector<unsigned char> PhotoBytes() {
    TComPtr<IDispatch> object = NewObject();
    Load(object.get(), "photo_640x480.jpg");
    Variant out;
    Invoke(object.get(), "VariantOut", DISPATCH_PROPERTYGET, {}, &out.value);
    std::vector<unsigned char> bytes;
    if (V_VT(&out.value) != (VT_ARRAY | VT_UI1)) return bytes;
    SAFEARRAY* array = V_ARRAY(&out.value);
    void* data = nullptr;
    SafeArrayAccessData(array, &data);
    bytes.assign(static_cast<unsigned char*>(data),
                 static_cast<unsigned char*>(data) + array->rgsabound[0].cElements);
    SafeArrayUnaccessData(array);
    return bytes;
  }

  // A failure of the object's own, as the exception information of Invoke carries it.
  void ExpectException(HRESULT result, const ExceptionInfo& exception, const std::string& name,
                       const std::string& description) {
    tally_.Equal(result, DISP_E_EXCEPTION, name + ": Invoke result");
    tally_.Equal(exception.info.scode, kUnexpected, name + ": scode");
    tally_.Equal(exception.info.wCode, WORD{0}, name + ": wCode");
    tally_.Equal(Narrow(exception.info.bstrSource), std::string(kProgId), name + ": source");
    tally_.Equal(Narrow(exception.info.bstrDescription), description, name + ": description");
    tally_.Equal(exception.info.dwHelpContext, DWORD{0}, name + ": help context");
    tally_.Equal(Narrow(exception.info.bstrHelpFile), std::string(), name + ": help file");
  }

  void Creation() {
    CLSID found{};
    tally_.Equal(CLSIDFromProgID(Wide(kProgId).c_str(), &found), S_OK, "CLSIDFromProgID");
    tally_.Check(IsEqualCLSID(found, CLSID_Resize), "the ProgID names the Resize class");
    TComPtr<IDispatch> object = NewObject();
    for (const IID* iid : {&IID_IUnknown, &IID_ISupportErrorInfo, &IID_IProvideClassInfo,
                           &IID_IDispatch, &IID_IResize, &IID_IResize2, &IID_IResize3}) {
      TComPtr<IUnknown> other;
      tally_.Equal(object->QueryInterface(*iid, other.PutVoid()), S_OK, "QueryInterface");
    }
    TComPtr<IUnknown> none;
    tally_.Equal(object->QueryInterface(IID_IClassFactory, none.PutVoid()), E_NOINTERFACE,
                 "QueryInterface for an interface the object lacks");
    TComPtr<IProvideClassInfo> provide;
    object->QueryInterface(IID_IProvideClassInfo, provide.PutVoid());
    TComPtr<ITypeInfo> classInfo;
    tally_.Equal(provide->GetClassInfo(classInfo.Put()), S_OK, "GetClassInfo");
    TBstr name;
    if (classInfo) classInfo->GetDocumentation(MEMBERID_NIL, name.Put(), nullptr, nullptr, nullptr);
    tally_.Equal(Narrow(name.get()), std::string("Resize"), "class information names Resize");
  }

  void DispatchSurface() {
    TComPtr<IDispatch> object = NewObject();
    tally_.Equal(IdOf(object.get(), "width"), DISPID{1}, "width in lower case");
    tally_.Equal(IdOf(object.get(), "GREYSCALE"), DISPID{20}, "GREYSCALE in upper case");
    tally_.Equal(IdOf(object.get(), "VariantIn"), DISPID{12}, "VariantIn");
    tally_.Equal(IdOf(object.get(), "Resize"), DISP_E_UNKNOWNNAME, "an unknown name");
    UINT count = 0;
    object->GetTypeInfoCount(&count);
    tally_.Equal(count, 1u, "GetTypeInfoCount");
    TComPtr<ITypeInfo> info;
    tally_.Equal(object->GetTypeInfo(1, 0, info.Put()), DISP_E_BADINDEX, "GetTypeInfo(1)");
    tally_.Check(!info, "GetTypeInfo(1) gives no type information");
    tally_.Equal(object->GetTypeInfo(0, 0, info.Put()), S_OK, "GetTypeInfo(0)");
    TBstr name;
    if (info) info->GetDocumentation(MEMBERID_NIL, name.Put(), nullptr, nullptr, nullptr);
    tally_.Equal(Narrow(name.get()), std::string("IResize3"), "GetTypeInfo(0) describes IResize3");

    // Both put flags reach the property put; a method call does not.
    Variant value;
    SetLong(value.value, 200);
    tally_.Equal(Invoke(object.get(), "JPGQuality", DISPATCH_PROPERTYPUT, {value.value}), S_OK,
                 "put JPGQuality");
    tally_.Equal(GetLong(object.get(), "JPGQuality"), LONG{100}, "JPGQuality clamped to 100");
    SetLong(value.value, -3);
    tally_.Equal(Invoke(object.get(), "JPGQuality", DISPATCH_PROPERTYPUTREF, {value.value}), S_OK,
                 "putref JPGQuality");
    tally_.Equal(GetLong(object.get(), "JPGQuality"), LONG{0}, "JPGQuality clamped to 0");
    SetLong(value.value, 50);
    tally_.Equal(Invoke(object.get(), "JPGQuality", DISPATCH_METHOD, {value.value}),
                 DISP_E_MEMBERNOTFOUND, "JPGQuality called as a method");
    tally_.Equal(GetLong(object.get(), "JPGQuality"), LONG{0}, "only a put reaches the put");
    SetString(value.value, "True");
    tally_.Equal(Invoke(object.get(), "GreyScale", DISPATCH_PROPERTYPUT, {value.value}), S_OK,
                 "GreyScale put from a string");
    tally_.Equal(GetLong(object.get(), "GrayScale"), LONG{-1}, "GreyScale and GrayScale are one");

    // Argument errors stop in the dispatch; the member does not run.
    Variant one, wide;
    SetLong(one.value, 5);
    tally_.Equal(Invoke(object.get(), "ResizeImage", DISPATCH_METHOD, {one.value}),
                 DISP_E_BADPARAMCOUNT, "ResizeImage with one argument");
    SetString(wide.value, "wide");
    // Wine's type-information dispatch does not say which argument was wrong (Windows and the
    // project's own runtime do), so only the result is checked here.
    tally_.Equal(Invoke(object.get(), "ResizeImage", DISPATCH_METHOD, {wide.value, one.value}),
                 DISP_E_TYPEMISMATCH, "ResizeImage with a text width");
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    tally_.Equal(object->Invoke(99, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr),
                 DISP_E_MEMBERNOTFOUND, "an unknown dispatch identifier");
  }

  void VariantOutArray() {
    TComPtr<IDispatch> object = NewObject();
    tally_.Equal(Load(object.get(), "photo_640x480.jpg"), S_OK, "LoadFromFile");
    Variant out;
    tally_.Equal(Invoke(object.get(), "VariantOut", DISPATCH_PROPERTYGET, {}, &out.value), S_OK,
                 "VariantOut");
    tally_.Equal(V_VT(&out.value), VARTYPE(VT_ARRAY | VT_UI1), "VariantOut is a byte array");
    if (V_VT(&out.value) != (VT_ARRAY | VT_UI1)) return;
    SAFEARRAY* array = V_ARRAY(&out.value);
    LONG lower = -1, upper = -1;
    tally_.Equal(SafeArrayGetDim(array), 1u, "one dimension");
    SafeArrayGetLBound(array, 1, &lower);
    SafeArrayGetUBound(array, 1, &upper);
    tally_.Equal(lower, LONG{1}, "lower bound 1");
    tally_.Equal(static_cast<ULONG>(upper), array->rgsabound[0].cElements,
                 "upper bound is the length");
    tally_.Check(upper > 100, "a JPEG of some length", std::to_string(upper));
    const auto element = [&](LONG index) {
      unsigned char byte = 0;
      const HRESULT result = SafeArrayGetElement(array, &index, &byte);
      return SUCCEEDED(result) ? static_cast<int>(byte) : static_cast<int>(result);
    };
    tally_.Equal(element(1), 0xFF, "element 1");
    tally_.Equal(element(2), 0xD8, "element 2");
    tally_.Equal(element(upper - 1), 0xFF, "element N - 1");
    tally_.Equal(element(upper), 0xD9, "element N");
    tally_.Equal(element(0), static_cast<int>(DISP_E_BADINDEX), "element 0 is outside");

    // The early-bound property gives the same bytes.
    TComPtr<IResize> resize;
    object->QueryInterface(IID_IResize, resize.PutVoid());
    Variant early;
    tally_.Equal(resize->get_VariantOut(&early.value), S_OK, "get_VariantOut");
    tally_.Check(V_VT(&early.value) == (VT_ARRAY | VT_UI1) &&
                     V_ARRAY(&early.value)->rgsabound[0].cElements == array->rgsabound[0].cElements,
                 "early and late binding give the same length");
  }

  void VariantInBounds() {
    const std::vector<unsigned char> bytes = PhotoBytes();
    tally_.Check(bytes.size() > 2, "photo bytes from VariantOut");
    for (const LONG lower : {0, 1, -7, 1000}) {
      TComPtr<IDispatch> object = NewObject();
      Variant data;
      SetBytes(data.value, bytes, lower);
      const std::string name = "VariantIn with lower bound " + std::to_string(lower);
      tally_.Equal(Invoke(object.get(), "VariantIn", DISPATCH_METHOD, {data.value}), S_OK, name);
      tally_.Equal(Size(object.get()), std::string("640x480"), name + " gives the image");
    }
  }

  void VariantInByReference() {
    const std::vector<unsigned char> bytes = PhotoBytes();
    Variant data;
    SetBytes(data.value, bytes, 0);

    TComPtr<IDispatch> object = NewObject();
    VARIANT byRef;
    VariantInit(&byRef);
    V_VT(&byRef) = VT_BYREF | VT_VARIANT;
    V_VARIANTREF(&byRef) = &data.value;
    tally_.Equal(Invoke(object.get(), "VariantIn", DISPATCH_METHOD, {byRef}), S_OK,
                 "VariantIn of a reference to a variant");
    tally_.Equal(Size(object.get()), std::string("640x480"), "reference to a variant");

    object = NewObject();
    VARIANT twice;
    VariantInit(&twice);
    V_VT(&twice) = VT_BYREF | VT_VARIANT;
    V_VARIANTREF(&twice) = &byRef;
    tally_.Equal(Invoke(object.get(), "VariantIn", DISPATCH_METHOD, {twice}), S_OK,
                 "VariantIn of a reference to a reference");
    tally_.Equal(Size(object.get()), std::string("640x480"), "reference to a reference");

    object = NewObject();
    SAFEARRAY* array = V_ARRAY(&data.value);
    VARIANT arrayRef;
    VariantInit(&arrayRef);
    V_VT(&arrayRef) = VT_BYREF | VT_ARRAY | VT_UI1;
    V_ARRAYREF(&arrayRef) = &array;
    tally_.Equal(Invoke(object.get(), "VariantIn", DISPATCH_METHOD, {arrayRef}), S_OK,
                 "VariantIn of a reference to an array");
    tally_.Equal(Size(object.get()), std::string("640x480"), "reference to an array");
  }

  void ExceptionInformation() {
    TComPtr<IDispatch> object = NewObject();
    ExceptionInfo exception;
    Variant name;
    SetString(name.value, Path("never.jpg"));
    ExpectException(
        Invoke(object.get(), "SaveToFile", DISPATCH_METHOD, {name.value}, nullptr, &exception),
        exception, "SaveToFile on a new object", "No image loaded.");

    Load(object.get(), "photo_100x80.jpg");
    const auto variantIn = [&](const VARIANT& argument, const std::string& label,
                               const std::string& description) {
      ExceptionInfo info;
      ExpectException(
          Invoke(object.get(), "VariantIn", DISPATCH_METHOD, {argument}, nullptr, &info), info,
          label, description);
    };
    Variant text, empty, nothing, notJpeg, tooShort, noBytes;
    SetString(text.value, "not an array");
    V_VT(&nothing.value) = VT_NULL;
    SetBytes(notJpeg.value, {'h', 'e', 'l', 'l', 'o'}, 0);
    SetBytes(tooShort.value, {0xFF, 0xD8}, 1);
    SetBytes(noBytes.value, {}, 1);
    variantIn(text.value, "VariantIn of a string", "Invalid argument");
    variantIn(empty.value, "VariantIn of Empty", "Invalid argument");
    variantIn(nothing.value, "VariantIn of Null", "Invalid argument");
    variantIn(notJpeg.value, "VariantIn of bytes that are no JPEG",
              "VariantIn has failed to read an image.");
    variantIn(tooShort.value, "VariantIn of a start-of-image marker alone",
              "VariantIn has failed to read an image.");
    variantIn(noBytes.value, "VariantIn of an empty array",
              "VariantIn has failed to read an image.");
    tally_.Equal(Size(object.get()), std::string("100x80"), "failed VariantIn keeps the image");

    ExceptionInfo missing;
    Variant file;
    SetString(file.value, Path("missing.jpg"));
    ExpectException(
        Invoke(object.get(), "LoadFromFile", DISPATCH_METHOD, {file.value}, nullptr, &missing),
        missing, "LoadFromFile of a missing file", "File not found or permission incorrect.");
    ExceptionInfo stream;
    ExpectException(Invoke(object.get(), "StreamImage", DISPATCH_METHOD, {}, nullptr, &stream),
                    stream, "StreamImage outside a web request",
                    "StreamImage needs a web request: there is no object context.");
  }

  // The thread's error information after a failing call through the function table.
  void ExpectErrorInfo(HRESULT result, const std::string& name, const std::string& description) {
    tally_.Equal(result, kUnexpected, name + ": result");
    TComPtr<IErrorInfo> info;
    tally_.Equal(GetErrorInfo(0, info.Put()), S_OK, name + ": error information");
    if (!info) return;
    GUID guid{};
    TBstr source, text;
    DWORD helpContext = 99;
    info->GetGUID(&guid);
    info->GetSource(source.Put());
    info->GetDescription(text.Put());
    info->GetHelpContext(&helpContext);
    tally_.Check(IsEqualGUID(guid, IID_IResize), name + ": GUID of IResize");
    tally_.Equal(Narrow(source.get()), std::string(kProgId), name + ": source");
    tally_.Equal(Narrow(text.get()), description, name + ": description");
    tally_.Equal(helpContext, DWORD{0}, name + ": help context");
  }

  void EarlyBinding() {
    TComPtr<IDispatch> object = NewObject();
    TComPtr<IResize> resize;
    tally_.Equal(object->QueryInterface(IID_IResize, resize.PutVoid()), S_OK, "IResize");
    if (!resize) return;
    TBstr version;
    tally_.Equal(resize->get_Version(version.Put()), S_OK, "get_Version");
    tally_.Equal(Narrow(version.get()), std::string(QUORVEX_VERSION_TEXT), "Version");
    TBstr file(SysAllocString(Wide(Path("never.jpg")).c_str()));
    ExpectErrorInfo(resize->SaveToFile(file.get()), "early-bound SaveToFile on a new object",
                    "No image loaded.");
    TBstr photo(SysAllocString(Wide(Path("photo_100x10.jpg")).c_str()));
    tally_.Equal(resize->LoadFromFile(photo.get()), S_OK, "early-bound LoadFromFile");
    ExpectErrorInfo(resize->ResizeBox(1, 100), "ResizeBox whose inner ResizeImage fails",
                    "Division by zero");
    LONG width = 0;
    resize->get_Width(&width);
    tally_.Equal(width, LONG{100}, "failed ResizeBox keeps the image");
    tally_.Equal(resize->put_DPI(70000), S_OK, "put_DPI");
    LONG dpi = 0;
    resize->get_DPI(&dpi);
    tally_.Equal(dpi, LONG{65535}, "DPI clamped");
    // The last entries of the function table, where a layout difference would show first.
    OLE_COLOR colour = 0;
    tally_.Equal(resize->put_BackgroundColor(0x00123456), S_OK, "put_BackgroundColor");
    resize->get_BackgroundColor(&colour);
    tally_.Equal(colour, OLE_COLOR{0x00123456}, "BackgroundColor");
    VARIANT_BOOL grey = VARIANT_FALSE;
    tally_.Equal(resize->put_GreyScale(VARIANT_TRUE), S_OK, "put_GreyScale");
    resize->get_GrayScale(&grey);
    tally_.Equal(grey, VARIANT_BOOL{VARIANT_TRUE}, "GreyScale and GrayScale are one flag");
    resize->put_GrayScale(VARIANT_FALSE);
    resize->get_GreyScale(&grey);
    tally_.Equal(grey, VARIANT_BOOL{VARIANT_FALSE}, "GrayScale and GreyScale are one flag");

    TComPtr<ISupportErrorInfo> support;
    object->QueryInterface(IID_ISupportErrorInfo, support.PutVoid());
    tally_.Equal(support->InterfaceSupportsErrorInfo(IID_IResize), S_OK,
                 "error information for IResize");
    tally_.Equal(support->InterfaceSupportsErrorInfo(IID_IClassFactory), S_FALSE,
                 "no error information for an interface the object lacks");
  }

  // IResize2's members through its function table, which continues IResize's.
  void SecondInterface() {
    TComPtr<IDispatch> object = NewObject();
    TComPtr<IResize2> resize;
    tally_.Equal(object->QueryInterface(IID_IResize2, resize.PutVoid()), S_OK, "IResize2");
    TComPtr<IResize> first;
    tally_.Equal(object->QueryInterface(IID_IResize, first.PutVoid()), S_OK, "IResize beside it");
    if (!resize || !first) return;
    TComPtr<IResize2> back;
    tally_.Equal(first->QueryInterface(IID_IResize2, back.PutVoid()), S_OK,
                 "IResize2 from IResize");
    tally_.Check(back.get() == resize.get(), "one IResize2 for the object");
    TComPtr<IResize3> third;
    tally_.Equal(resize->QueryInterface(IID_IResize3, third.PutVoid()), S_OK,
                 "IResize3 from IResize2");
    tally_.Check(static_cast<IResize2*>(third.get()) == resize.get(),
                 "IResize3's table continues IResize2's");

    struct Flag {
      const char* name;
      HRESULT (STDMETHODCALLTYPE IResize2::*get)(VARIANT_BOOL*);
      HRESULT (STDMETHODCALLTYPE IResize2::*put)(VARIANT_BOOL);
    };
    const Flag flags[] = {
        {"AutoOrient", &IResize2::get_AutoOrient, &IResize2::put_AutoOrient},
        {"KeepMetadata", &IResize2::get_KeepMetadata, &IResize2::put_KeepMetadata},
        {"Progressive", &IResize2::get_Progressive, &IResize2::put_Progressive},
        {"OptimizeCoding", &IResize2::get_OptimizeCoding, &IResize2::put_OptimizeCoding}};
    for (const Flag& flag : flags) {
      const std::string name = flag.name;
      VARIANT_BOOL value = VARIANT_TRUE;
      tally_.Equal((resize.get()->*flag.get)(&value), S_OK, "get_" + name);
      tally_.Equal(value, VARIANT_BOOL{VARIANT_FALSE}, "new " + name);
      tally_.Equal((resize.get()->*flag.put)(VARIANT_TRUE), S_OK, "put_" + name);
      (resize.get()->*flag.get)(&value);
      tally_.Equal(value, VARIANT_BOOL{VARIANT_TRUE}, name + " round trip");
      (resize.get()->*flag.put)(VARIANT_FALSE);
    }
    LONG value = 0;
    tally_.Equal(resize->get_Orientation(&value), S_OK, "get_Orientation");
    tally_.Equal(value, LONG{1}, "new Orientation");
    tally_.Equal(resize->get_SourceQuality(&value), S_OK, "get_SourceQuality");
    tally_.Equal(value, LONG{0}, "new SourceQuality");
    resize->get_MaxPixels(&value);
    tally_.Equal(value, LONG{16383 * 16383}, "new MaxPixels");
    resize->put_MaxPixels(1000);
    resize->get_MaxPixels(&value);
    tally_.Equal(value, LONG{1000}, "MaxPixels round trip");
    resize->put_MaxPixels(-1);
    resize->get_MaxPixels(&value);
    tally_.Equal(value, LONG{16383 * 16383}, "MaxPixels -1 restores the limit");

    // Inherited members through IResize2's table.
    TBstr version;
    tally_.Equal(resize->get_Version(version.Put()), S_OK, "get_Version through IResize2");
    tally_.Equal(Narrow(version.get()), std::string(QUORVEX_VERSION_TEXT),
                 "Version through IResize2");
    TBstr photo(SysAllocString(Wide(Path("photo_100x80.jpg")).c_str()));
    tally_.Equal(resize->LoadFromFile(photo.get()), S_OK, "LoadFromFile through IResize2");
    resize->get_SourceQuality(&value);
    tally_.Equal(value, LONG{92}, "SourceQuality of a quality 92 file");
    resize->put_MaxPixels(7999);
    ExpectErrorInfo(resize->ResizeImage(101, 80), "ResizeImage over MaxPixels", "Out of memory");
    ExpectErrorInfo(resize->LoadFromFile(photo.get()), "LoadFromFile over MaxPixels",
                    "Invalid file.");
    resize->get_Width(&value);
    tally_.Equal(value, LONG{100}, "refused calls keep the image");

    // LoadThumbnail gives the size of a load followed by ResizeBox.
    TBstr big(SysAllocString(Wide(Path("photo_1000x750.jpg")).c_str()));
    TComPtr<IResize> exact;
    object = NewObject();
    object->QueryInterface(IID_IResize, exact.PutVoid());
    if (!exact) return;
    exact->LoadFromFile(big.get());
    exact->ResizeBox(50, 50);
    LONG width = 0, height = 0, thumbWidth = 0, thumbHeight = 0;
    exact->get_Width(&width);
    exact->get_Height(&height);
    resize->put_MaxPixels(0);
    Variant source;
    SetString(source.value, Path("photo_1000x750.jpg"));
    tally_.Equal(resize->LoadThumbnail(source.value, 50, 50), S_OK, "LoadThumbnail by name");
    resize->get_Width(&thumbWidth);
    resize->get_Height(&thumbHeight);
    tally_.Equal(std::to_string(thumbWidth) + "x" + std::to_string(thumbHeight),
                 std::to_string(width) + "x" + std::to_string(height),
                 "LoadThumbnail size as LoadFromFile and ResizeBox");
  }

  // IResize3's members through its function table: the output format chooses the bytes
  // VariantOut gives.
  void ThirdInterface() {
    TComPtr<IDispatch> object = NewObject();
    TComPtr<IResize3> resize;
    tally_.Equal(object->QueryInterface(IID_IResize3, resize.PutVoid()), S_OK, "IResize3");
    if (!resize) return;
    TBstr photo(SysAllocString(Wide(Path("photo_100x80.jpg")).c_str()));
    resize->LoadFromFile(photo.get());
    TBstr png(SysAllocString(L"Png"));
    tally_.Equal(resize->put_OutputFormat(png.get()), S_OK, "put_OutputFormat");
    TBstr type;
    tally_.Equal(resize->get_ContentType(type.Put()), S_OK, "get_ContentType");
    tally_.Equal(Narrow(type.get()), std::string("image/png"), "ContentType of PNG");
    Variant bytes;
    tally_.Equal(resize->get_VariantOut(&bytes.value), S_OK, "VariantOut as PNG");
    const auto* data = static_cast<const unsigned char*>(V_ARRAY(&bytes.value)->pvData);
    tally_.Equal(std::string(data + 1, data + 4), std::string("PNG"), "PNG signature");
  }

  // A file that another handle holds without sharing exists but cannot be opened.
  void LockedFile() {
    const std::string locked = Path("client_locked.jpg");
    CopyFileA(Path("photo_50x50.jpg").c_str(), locked.c_str(), FALSE);
    TComPtr<IDispatch> object = NewObject();
    HANDLE holder = CreateFileA(locked.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    tally_.Check(holder != INVALID_HANDLE_VALUE, "holding the file");
    ExceptionInfo exception;
    Variant name;
    SetString(name.value, locked);
    ExpectException(
        Invoke(object.get(), "LoadFromFile", DISPATCH_METHOD, {name.value}, nullptr, &exception),
        exception, "LoadFromFile of a file held without sharing",
        "Cannot open file - the permission may be incorrect.");
    CloseHandle(holder);
    tally_.Equal(Invoke(object.get(), "LoadFromFile", DISPATCH_METHOD, {name.value}), S_OK,
                 "LoadFromFile once the file is free");
    tally_.Equal(Size(object.get()), std::string("50x50"), "the freed file loads");
  }

  // The entry points as the object runtime calls them, on the module it has loaded.
  void ModuleExports() {
    HMODULE module = LoadLibraryA(module_.c_str());
    tally_.Check(module != nullptr, "LoadLibrary of the module");
    if (module == nullptr) return;
    using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, LPVOID*);
    using Simple = HRESULT(STDAPICALLTYPE*)();
    const auto getClassObject = reinterpret_cast<GetClassObject>(
        reinterpret_cast<void (*)()>(GetProcAddress(module, "DllGetClassObject")));
    const auto canUnloadNow = reinterpret_cast<Simple>(
        reinterpret_cast<void (*)()>(GetProcAddress(module, "DllCanUnloadNow")));
    tally_.Check(getClassObject != nullptr && canUnloadNow != nullptr, "the exports are there");
    if (getClassObject == nullptr || canUnloadNow == nullptr) {
      FreeLibrary(module);
      return;
    }
    const CLSID other = {0x12345678, 0, 0, {0, 0, 0, 0, 0, 0, 0, 1}};
    void* object = reinterpret_cast<void*>(1);
    tally_.Equal(getClassObject(other, IID_IClassFactory, &object), CLASS_E_CLASSNOTAVAILABLE,
                 "DllGetClassObject for another class");
    tally_.Check(object == nullptr, "another class gives no object");
    tally_.Equal(getClassObject(CLSID_Resize, IID_IResize, &object), E_NOINTERFACE,
                 "DllGetClassObject for an interface the factory lacks");
    tally_.Equal(getClassObject(CLSID_Resize, IID_IResize2, &object), E_NOINTERFACE,
                 "DllGetClassObject for IResize2");
    tally_.Equal(getClassObject(CLSID_Resize, IID_IResize3, &object), E_NOINTERFACE,
                 "DllGetClassObject for IResize3");

    tally_.Equal(canUnloadNow(), S_OK, "DllCanUnloadNow with nothing alive");
    TComPtr<IClassFactory> factory;
    tally_.Equal(getClassObject(CLSID_Resize, IID_IClassFactory, factory.PutVoid()), S_OK,
                 "DllGetClassObject");
    tally_.Equal(canUnloadNow(), S_FALSE, "DllCanUnloadNow while a factory is held");
    TComPtr<IUnknown> resize;
    factory->CreateInstance(nullptr, IID_IUnknown, resize.PutVoid());
    factory->LockServer(TRUE);
    factory = TComPtr<IClassFactory>();
    tally_.Equal(canUnloadNow(), S_FALSE, "DllCanUnloadNow while an object is alive");
    resize = TComPtr<IUnknown>();
    tally_.Equal(canUnloadNow(), S_FALSE, "DllCanUnloadNow while the server is locked");
    getClassObject(CLSID_Resize, IID_IClassFactory, factory.PutVoid());
    TComPtr<IUnknown> inner;
    IUnknown* outer = factory.get();  // any unknown will do as the outer object here
    tally_.Equal(factory->CreateInstance(outer, IID_IResize, inner.PutVoid()),
                 CLASS_E_NOAGGREGATION, "aggregation asking for IResize");
    factory->LockServer(FALSE);
    factory = TComPtr<IClassFactory>();
    tally_.Equal(canUnloadNow(), S_OK, "DllCanUnloadNow after the last release and unlock");
    FreeLibrary(module);
  }

  // What a file's properties dialog shows, read the way Windows reads it.
  void VersionResource() {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(module_.c_str(), &ignored);
    tally_.Check(size != 0, "the module has a version resource");
    if (size == 0) return;
    std::vector<char> block(size);
    if (!GetFileVersionInfoA(module_.c_str(), 0, size, block.data())) {
      tally_.Check(false, "GetFileVersionInfo");
      return;
    }
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&fixed), &length) &&
        fixed != nullptr) {
      tally_.Equal(fixed->dwFileVersionMS,
                   DWORD{QUORVEX_VERSION_MAJOR << 16 | QUORVEX_VERSION_MINOR},
                   "file version, major and minor");
      tally_.Equal(fixed->dwFileVersionLS,
                   DWORD{QUORVEX_VERSION_PATCH << 16 | QUORVEX_VERSION_TWEAK},
                   "file version, patch and tweak");
    } else {
      tally_.Check(false, "the fixed version information");
    }
    const struct {
      const char* name;
      const char* expected;
    } strings[] = {{"FileVersion", QUORVEX_VERSION},
                   {"ProductName", "Quorvex"},
                   {"OriginalFilename", "Quorvex.dll"}};
    for (const auto& entry : strings) {
      char* value = nullptr;
      const std::string path = std::string("\\StringFileInfo\\040904B0\\") + entry.name;
      const bool found =
          VerQueryValueA(block.data(), path.c_str(), reinterpret_cast<void**>(&value), &length);
      tally_.Equal(std::string(found && value != nullptr ? value : "<none>"),
                   std::string(entry.expected), entry.name);
    }
  }

  std::string work_;
  std::string module_;
  Tally tally_;
};

}  // namespace
}  // namespace quorvex::wine_client

int main(int argc, char** argv) {
  if (argc != 3) {
    std::printf("usage: quorvex_wine_client WORK_DIR MODULE_PATH\n");
    return 2;
  }
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
    std::printf("CoInitializeEx failed\n0 passed, 1 failed\n");
    return 1;
  }
  int status = 0;
  {
    quorvex::wine_client::Client client(argv[1], argv[2]);
    status = client.Run();
  }
  CoUninitialize();
  return status;
}
