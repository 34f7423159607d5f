// How an automation object finds the web response of the call it runs in: through the object
// context of the component transaction runtime.
#include "comserver/com_object.h"
#include "comserver/ole_errors.h"
#include "comserver/text_conversion.h"

namespace quorvex {

namespace {

using CoGetObjectContextProc = HRESULT(WINAPI*)(REFIID, LPVOID*);

// Resolved once: ole32 is loaded in every process that runs a web page.
CoGetObjectContextProc ResolveCoGetObjectContext() {
  const HMODULE handle = GetModuleHandleW(Utf8ToOle("ole32.dll").c_str());
  if (handle == nullptr) return nullptr;
  // Through a plain function pointer: the entry point's true type is known only here.
  return reinterpret_cast<CoGetObjectContextProc>(
      reinterpret_cast<void (*)()>(GetProcAddress(handle, "CoGetObjectContext")));
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

// The object context of the current call, or null.
TComPtr<IObjectContext> CurrentContext() {
  static const CoGetObjectContextProc coGetObjectContext = ResolveCoGetObjectContext();
  TComPtr<IObjectContext> context;
  if (coGetObjectContext != nullptr) coGetObjectContext(IID_IObjectContext, context.PutVoid());
  return context;
}

HRESULT GetContextProperty(IObjectContext& context, const char* name, VARIANT* value) {
  TComPtr<IGetContextProperties> properties;
  if (FAILED(context.QueryInterface(IID_IGetContextProperties, properties.PutVoid())))
    return E_NOINTERFACE;
  return properties->GetProperty(TBstr(Utf8ToNewBstr(name)).get(), value);
}

}  // namespace

TComPtr<IResponse> TASPMTSObject::Response() {
  const TComPtr<IObjectContext> context = CurrentContext();
  if (!context) throw EOleError("StreamImage needs a web request: there is no object context.");
  VariantHolder property;
  const HRESULT result = GetContextProperty(*context.get(), "Response", &property.value);
  if (result == E_NOINTERFACE) throw EIntfCastError();
  if (FAILED(result)) RaiseFailedCall(result);
  IUnknown* unknown = InterfaceOf(property.value);
  TComPtr<IResponse> response;
  if (unknown == nullptr || FAILED(unknown->QueryInterface(IID_IResponse, response.PutVoid())))
    throw EIntfCastError();
  return response;
}

TCallHostControl::TCallHostControl() noexcept {
  try {
    const TComPtr<IObjectContext> context = CurrentContext();
    if (!context) return;
    VariantHolder property;
    if (FAILED(GetContextProperty(*context.get(), kHostControlProperty, &property.value))) return;
    IUnknown* unknown = InterfaceOf(property.value);
    if (unknown == nullptr) return;
    unknown->QueryInterface(IID_IQvHostControl, control_.PutVoid());
    if (control_) unknown->QueryInterface(IID_IQvHostMeter, meter_.PutVoid());
  } catch (...) {
    // A context that offers no usable control leaves the call uncontrolled, as before.
  }
}

bool TCallHostControl::Cancelled() noexcept {
  return control_->Cancelled() == S_OK;
}

bool TCallHostControl::Reserve(uint64_t bytes) noexcept {
  return SUCCEEDED(control_->Reserve(bytes));
}

void TCallHostControl::Decoded(uint64_t pixels) noexcept {
  if (meter_) meter_->Decoded(pixels);
}

}  // namespace quorvex
