// The driver talks to the Resize object as a page script does: it creates the object through
// the component module's class factory, or by ProgID through the registry, and calls every
// member by name through IDispatch. A failing member's message comes from the exception information
// it returns.
#include "client/resize_driver.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string_view>

#include "component/quorvex_interface.h"
#include "comserver/text_conversion.h"
#include "platform/com_ptr.h"

namespace quorvex::client {

namespace {

std::string ResultText(HRESULT result) {
  char text[40];
  std::snprintf(text, sizeof text, "error 0x%08X", static_cast<unsigned>(result));
  return text;
}

class Variant {
 public:
  Variant() { VariantInit(&value); }
  ~Variant() { VariantClear(&value); }
  Variant(const Variant&) = delete;
  Variant& operator=(const Variant&) = delete;
  Variant(Variant&& other) noexcept : value(other.value) { VariantInit(&other.value); }
  VARIANT value;
};

Variant Long(int32_t number) {
  Variant v;
  V_VT(&v.value) = VT_I4;
  V_I4(&v.value) = number;
  return v;
}

// Arguments are bytes; a name that is not UTF-8 still reaches the same file.
Variant FileName(const std::string& name) {
  Variant v;
  // Typed only once the string exists: a failed allocation leaves the variant empty, not a
  // string of whatever the union held, which its destructor would free.
  V_BSTR(&v.value) = FileNameToNewBstr(name);
  V_VT(&v.value) = VT_BSTR;
  return v;
}

Variant Text(const std::string& text) {
  Variant v;
  V_BSTR(&v.value) = Utf8ToNewBstr(text);
  V_VT(&v.value) = VT_BSTR;
  return v;
}

Variant Real(double number) {
  Variant v;
  V_VT(&v.value) = VT_R8;
  V_R8(&v.value) = number;
  return v;
}

Variant Boolean(bool flag) {
  Variant v;
  V_VT(&v.value) = VT_BOOL;
  V_BOOL(&v.value) = flag ? VARIANT_TRUE : VARIANT_FALSE;
  return v;
}

// The caller's array by reference: the object only reads it, and clearing the argument leaves
// the array the caller's.
Variant Bytes(SAFEARRAY* const& array) {
  Variant v;
  V_VT(&v.value) = VT_ARRAY | VT_UI1 | VT_BYREF;
  V_ARRAYREF(&v.value) = const_cast<SAFEARRAY**>(&array);
  return v;
}

template <typename... Values>
std::vector<Variant> Args(Values&&... values) {
  std::vector<Variant> arguments;
  (arguments.push_back(std::forward<Values>(values)), ...);
  return arguments;
}

template <typename Proc>
Proc Export(HMODULE module, const char* name) {
  return reinterpret_cast<Proc>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

}  // namespace

ByteArray::ByteArray(size_t size) {
  if (size > std::numeric_limits<ULONG>::max()) throw DriverError("Out of memory", E_OUTOFMEMORY);
  SAFEARRAYBOUND bound{static_cast<ULONG>(size), 0};
  array_ = SafeArrayCreate(VT_UI1, 1, &bound);
  if (array_ == nullptr) throw DriverError("Out of memory", E_OUTOFMEMORY);
}

ByteArray::ByteArray(std::span<const uint8_t> bytes) : ByteArray(bytes.size()) {
  if (!bytes.empty()) std::memcpy(array_->pvData, bytes.data(), bytes.size());
}

ByteArray::~ByteArray() {
  SafeArrayDestroy(array_);
}

std::span<uint8_t> ByteArray::Bytes() const noexcept {
  return {static_cast<uint8_t*>(array_->pvData), array_->rgsabound[0].cElements};
}

struct ResizeDriver::Object {
  HMODULE module = nullptr;
  TComPtr<IDispatch> dispatch;

  ~Object() {
    dispatch = TComPtr<IDispatch>();
    if (module != nullptr) FreeLibrary(module);
  }

  // Calls a member by name; arguments in their natural order.
  Variant Call(const char* name, WORD flags, std::vector<Variant> arguments = {}) {
    std::basic_string<OLECHAR> wide = Utf8ToOle(name);
    LPOLESTR names[1] = {wide.data()};
    DISPID id = 0;
    HRESULT result = dispatch->GetIDsOfNames(GUID_NULL, names, 1, 0, &id);
    if (FAILED(result)) throw DriverError(std::string(name) + ": unknown member");
    // Dispatch arguments go last to first.
    std::vector<VARIANT> reversed;
    for (auto it = arguments.rbegin(); it != arguments.rend(); ++it) reversed.push_back(it->value);
    DISPID putId = DISPID_PROPERTYPUT;
    DISPPARAMS params{reversed.data(), flags == DISPATCH_PROPERTYPUT ? &putId : nullptr,
                      static_cast<UINT>(reversed.size()), flags == DISPATCH_PROPERTYPUT ? 1u : 0u};
    Variant value;
    EXCEPINFO exception{};
    UINT argumentError = 0;
    errno = 0;
    result = dispatch->Invoke(id, GUID_NULL, 0, flags, &params,
                              flags == DISPATCH_PROPERTYPUT ? nullptr : &value.value, &exception,
                              &argumentError);
    const int systemError = errno;
    const std::string description = BstrToUtf8(exception.bstrDescription);
    SysFreeString(exception.bstrDescription);
    SysFreeString(exception.bstrSource);
    SysFreeString(exception.bstrHelpFile);
    // A member that published no description is known by its code.
    if (result == DISP_E_EXCEPTION)
      throw ObjectError(description.empty() ? ResultText(exception.scode) : description,
                        exception.scode, systemError);
    if (FAILED(result)) throw DriverError(std::string(name) + ": " + ResultText(result), result);
    return value;
  }

  int32_t GetLong(const char* name) {
    Variant value = Call(name, DISPATCH_PROPERTYGET);
    return V_VT(&value.value) == VT_I4 ? V_I4(&value.value) : 0;
  }
};

bool DriverError::outOfMemory() const {
  // The codec's memory manager reports by its message alone. The object's own "Out of memory"
  // with another code is a refused size (MaxPixels), which is the request's.
  return code_ == E_OUTOFMEMORY || std::string_view(what()) == "JPEG error #53";
}

ResizeDriver::ResizeDriver(Creation creation) : object_(std::make_unique<Object>()) {
  HRESULT result = S_OK;
  if (creation == Creation::ProgId) {
    CLSID clsid{};
    result = CLSIDFromProgID(Utf8ToOle(kResizeProgId).c_str(), &clsid);
    if (SUCCEEDED(result))
      result = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                object_->dispatch.PutVoid());
  } else {
    const std::string path = ModulePath();
    object_->module = LoadLibraryW(Utf8ToOle(path).c_str());
    if (object_->module == nullptr) throw DriverError("cannot load the component module " + path);
    using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, LPVOID*);
    const auto getClassObject = Export<GetClassObject>(object_->module, "DllGetClassObject");
    TComPtr<IClassFactory> factory;
    result = getClassObject != nullptr
                 ? getClassObject(CLSID_Resize, IID_IClassFactory, factory.PutVoid())
                 : E_FAIL;
    if (SUCCEEDED(result))
      result = factory->CreateInstance(nullptr, IID_IDispatch, object_->dispatch.PutVoid());
  }
  if (FAILED(result)) throw DriverError("cannot create the Resize object: " + ResultText(result));
}

ResizeDriver::~ResizeDriver() = default;

void ResizeDriver::LoadFromFile(const std::string& path) {
  object_->Call("LoadFromFile", DISPATCH_METHOD, Args(FileName(path)));
}

void ResizeDriver::SaveToFile(const std::string& path) {
  object_->Call("SaveToFile", DISPATCH_METHOD, Args(FileName(path)));
}

std::vector<uint8_t> ResizeDriver::VariantOut() {
  Variant value = object_->Call("VariantOut", DISPATCH_PROPERTYGET);
  std::vector<uint8_t> bytes;
  SAFEARRAY* array = V_VT(&value.value) == (VT_ARRAY | VT_UI1) ? V_ARRAY(&value.value) : nullptr;
  void* data = nullptr;
  if (array != nullptr && SUCCEEDED(SafeArrayAccessData(array, &data))) {
    const auto* first = static_cast<const uint8_t*>(data);
    bytes.assign(first, first + array->rgsabound[0].cElements);
    SafeArrayUnaccessData(array);
  }
  return bytes;
}

void ResizeDriver::VariantIn(const ByteArray& bytes) {
  object_->Call("VariantIn", DISPATCH_METHOD, Args(Bytes(bytes.array_)));
}

void ResizeDriver::LoadThumbnail(const std::string& path, int32_t width, int32_t height) {
  object_->Call("LoadThumbnail", DISPATCH_METHOD, Args(FileName(path), Long(width), Long(height)));
}

void ResizeDriver::LoadThumbnail(const ByteArray& bytes, int32_t width, int32_t height) {
  object_->Call("LoadThumbnail", DISPATCH_METHOD,
                Args(Bytes(bytes.array_), Long(width), Long(height)));
}

void ResizeDriver::StreamImage() {
  object_->Call("StreamImage", DISPATCH_METHOD);
}

namespace {

Variant FromArgument(const ResizeDriver::Argument& argument) {
  return std::visit(
      [](const auto& value) {
        using Type = std::decay_t<decltype(value)>;
        if constexpr (std::is_same_v<Type, int32_t>) {
          return Long(value);
        } else if constexpr (std::is_same_v<Type, float>) {
          Variant v;
          V_VT(&v.value) = VT_R4;
          V_R4(&v.value) = value;
          return v;
        } else if constexpr (std::is_same_v<Type, double>) {
          return Real(value);
        } else if constexpr (std::is_same_v<Type, bool>) {
          return Boolean(value);
        } else {
          return Text(value);
        }
      },
      argument);
}

}  // namespace

void ResizeDriver::Put(const std::string& property, const Argument& value) {
  object_->Call(property.c_str(), DISPATCH_PROPERTYPUT, Args(FromArgument(value)));
}

void ResizeDriver::Invoke(const std::string& method, const std::vector<Argument>& arguments) {
  std::vector<Variant> values;
  for (const Argument& argument : arguments) values.push_back(FromArgument(argument));
  object_->Call(method.c_str(), DISPATCH_METHOD, std::move(values));
}

void ResizeDriver::SetMaxPixels(int32_t value) {
  Put("MaxPixels", value);
}

int32_t ResizeDriver::Width() {
  return object_->GetLong("Width");
}
int32_t ResizeDriver::Height() {
  return object_->GetLong("Height");
}
int32_t ResizeDriver::DPI() {
  return object_->GetLong("DPI");
}
int32_t ResizeDriver::Orientation() {
  return object_->GetLong("Orientation");
}

bool ResizeDriver::GrayScale() {
  Variant value = object_->Call("GrayScale", DISPATCH_PROPERTYGET);
  return V_VT(&value.value) == VT_BOOL && V_BOOL(&value.value) != VARIANT_FALSE;
}

std::string ResizeDriver::Version() {
  Variant value = object_->Call("Version", DISPATCH_PROPERTYGET);
  return V_VT(&value.value) == VT_BSTR ? BstrToUtf8(V_BSTR(&value.value)) : std::string();
}

std::string ResizeDriver::ColorProfile() {
  Variant value = object_->Call("ColorProfile", DISPATCH_PROPERTYGET);
  return V_VT(&value.value) == VT_BSTR ? BstrToUtf8(V_BSTR(&value.value)) : std::string();
}

int32_t ResizeDriver::SourceQuality() {
  return object_->GetLong("SourceQuality");
}

std::string ResizeDriver::Metadata() {
  Variant value = object_->Call("Metadata", DISPATCH_PROPERTYGET);
  return V_VT(&value.value) == VT_BSTR ? BstrToUtf8(V_BSTR(&value.value)) : std::string();
}

HRESULT RunRegistration(bool doRegister) {
  const std::string path = ModulePath();
  const HMODULE module = LoadLibraryW(Utf8ToOle(path).c_str());
  if (module == nullptr) throw DriverError("cannot load the component module " + path);
  using Entry = HRESULT(STDAPICALLTYPE*)();
  const auto entry =
      Export<Entry>(module, doRegister ? "DllRegisterServer" : "DllUnregisterServer");
  const HRESULT result = entry != nullptr ? entry() : E_FAIL;
  FreeLibrary(module);
  return result;
}

}  // namespace quorvex::client
