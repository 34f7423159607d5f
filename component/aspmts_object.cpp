// How an automation object finds the web response of the call it runs in: through the object
// context of the component transaction runtime, whose entry points are resolved once.
#include "component/com_object.h"
#include "component/ole_errors.h"
#include "component/text_conversion.h"

namespace quorvex {

namespace {

using CoGetObjectContextProc = HRESULT(WINAPI*)(REFIID, LPVOID*);
using GetObjectContextProc = HRESULT(WINAPI*)(IObjectContext**);

struct ContextEntryPoints {
  CoGetObjectContextProc coGetObjectContext = nullptr;
  GetObjectContextProc getObjectContext = nullptr;
};

template <typename Proc>
Proc EntryPoint(const char* module, const char* name) {
  const HMODULE handle = GetModuleHandleW(Utf8ToOle(module).c_str());
  if (handle == nullptr) return nullptr;
  // Through a plain function pointer: the entry point's true type is known only here.
  return reinterpret_cast<Proc>(reinterpret_cast<void (*)()>(GetProcAddress(handle, name)));
}

// NT 5 and later have the context in ole32; older systems in mtxex, if it is loaded already.
ContextEntryPoints ResolveEntryPoints() {
  ContextEntryPoints points;
  OSVERSIONINFOW version{};
  version.dwOSVersionInfoSize = sizeof version;
  if (GetVersionExW(&version) && version.dwPlatformId == VER_PLATFORM_WIN32_NT &&
      version.dwMajorVersion > 4) {
    points.coGetObjectContext =
        EntryPoint<CoGetObjectContextProc>("ole32.dll", "CoGetObjectContext");
  } else {
    points.getObjectContext = EntryPoint<GetObjectContextProc>("mtxex.dll", "GetObjectContext");
  }
  return points;
}

class EIntfCastError : public Exception {
 public:
  EIntfCastError() : Exception("Interface not supported") {}
};

class EVariantTypeCastError : public Exception {
 public:
  EVariantTypeCastError() : Exception("Invalid variant type conversion") {}
};

class VariantHolder {
 public:
  VariantHolder() { VariantInit(&value); }
  ~VariantHolder() { VariantClear(&value); }
  VariantHolder(const VariantHolder&) = delete;
  VariantHolder& operator=(const VariantHolder&) = delete;
  VARIANT value;
};

IUnknown* InterfaceOf(const VARIANT& value) {
  switch (V_VT(&value)) {
    case VT_UNKNOWN:
    case VT_DISPATCH:
      return V_UNKNOWN(&value);
    case VT_UNKNOWN | VT_BYREF:
    case VT_DISPATCH | VT_BYREF:
      return V_UNKNOWNREF(&value) != nullptr ? *V_UNKNOWNREF(&value) : nullptr;
    default:
      throw EVariantTypeCastError();
  }
}

}  // namespace

TComPtr<IResponse> TASPMTSObject::Response() {
  static const ContextEntryPoints points = ResolveEntryPoints();
  TComPtr<IObjectContext> context;
  if (points.coGetObjectContext != nullptr) {
    points.coGetObjectContext(IID_IObjectContext, context.PutVoid());
  } else if (points.getObjectContext != nullptr) {
    const HRESULT result = points.getObjectContext(context.Put());
    if (FAILED(result)) RaiseFailedCall(result);
  }
  if (!context) throw EOleError("StreamImage needs a web request: there is no object context.");
  TComPtr<IGetContextProperties> properties;
  if (FAILED(context->QueryInterface(IID_IGetContextProperties, properties.PutVoid())))
    throw EIntfCastError();
  VariantHolder property;
  const HRESULT result =
      properties->GetProperty(TBstr(Utf8ToNewBstr("Response")).get(), &property.value);
  if (FAILED(result)) RaiseFailedCall(result);
  IUnknown* unknown = InterfaceOf(property.value);
  TComPtr<IResponse> response;
  if (unknown == nullptr || FAILED(unknown->QueryInterface(IID_IResponse, response.PutVoid())))
    throw EIntfCastError();
  return response;
}

}  // namespace quorvex
