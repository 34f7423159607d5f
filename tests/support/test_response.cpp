#include "tests/support/test_response.h"

#include "comserver/text_conversion.h"

namespace quorvex::testing {

HRESULT TestResponse::QueryInterface(REFIID iid, void** object) {
  if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) ||
      IsEqualIID(iid, IID_IResponse)) {
    *object = static_cast<IResponse*>(this);
    AddRef();
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

HRESULT TestResponse::Record(const std::string& call) {
  calls.push_back(call);
  if (failName.empty() || call.rfind(failName, 0) != 0) return S_OK;
  ICreateErrorInfo* create = nullptr;
  if (!failDescription.empty() && SUCCEEDED(CreateErrorInfo(&create))) {
    BSTR description = Utf8ToNewBstr(failDescription);
    BSTR source = Utf8ToNewBstr("TestResponse");
    create->SetDescription(description);
    create->SetSource(source);
    SysFreeString(description);
    SysFreeString(source);
    IErrorInfo* info = nullptr;
    if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info)))) {
      SetErrorInfo(0, info);
      info->Release();
    }
    create->Release();
  }
  return failCode;
}

HRESULT TestResponse::put_ContentType(BSTR contentType) {
  return Record("ContentType=" + BstrToUtf8(contentType));
}

HRESULT TestResponse::put_Expires(long minutes) {
  return Record("Expires=" + std::to_string(minutes));
}

HRESULT TestResponse::Clear() {
  return Record("Clear");
}

HRESULT TestResponse::BinaryWrite(VARIANT input) {
  const HRESULT result = Record("BinaryWrite");
  if (V_VT(&input) == (VT_ARRAY | VT_UI1) && V_ARRAY(&input) != nullptr) {
    SAFEARRAY* array = V_ARRAY(&input);
    SafeArrayGetLBound(array, 1, &bodyLowerBound);
    const auto* data = static_cast<const uint8_t*>(array->pvData);
    body.assign(data, data + array->rgsabound[0].cElements);
  }
  return result;
}

}  // namespace quorvex::testing
