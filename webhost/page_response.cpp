#include "webhost/page_response.h"

#include <new>

#include "comserver/text_conversion.h"
#include "webhost/http_date.h"

namespace quorvex::webhost {

void AddFreshness(const std::optional<long>& minutes, unsigned maxAge, std::time_t date,
                  HeaderList* headers) {
  if (!minutes) return;
  if (*minutes > 0) {
    headers->emplace_back("Expires", HttpDate(date + std::time_t{*minutes} * 60));
  } else if (maxAge > 0) {
    headers->emplace_back("Cache-Control", "public, max-age=" + std::to_string(maxAge));
    headers->emplace_back("Expires", HttpDate(date + std::time_t{maxAge}));
  } else {
    headers->emplace_back("Expires", HttpDate(date));
    headers->emplace_back("Cache-Control", "no-cache");
  }
}

void PageResponse::AddHeaders(std::time_t date, HeaderList* headers) const {
  headers->emplace_back("Content-Type", contentType_.value_or("text/html"));
  AddFreshness(expiresMinutes_, maxAge_, date, headers);
}

HRESULT PageResponse::QueryInterface(REFIID iid, void** object) {
  if (object == nullptr) return E_POINTER;
  if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) ||
      IsEqualIID(iid, IID_IResponse)) {
    *object = static_cast<IResponse*>(this);
    AddRef();
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

HRESULT PageResponse::put_ContentType(BSTR contentType) {
  try {
    contentType_ = BstrToUtf8(contentType);
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT PageResponse::put_Expires(long minutes) {
  expiresMinutes_ = minutes;
  return S_OK;
}

HRESULT PageResponse::Clear() {
  body_.clear();
  return S_OK;
}

HRESULT PageResponse::BinaryWrite(VARIANT input) {
  const VARTYPE type = V_VT(&input);
  SAFEARRAY* array = type == (VT_ARRAY | VT_UI1)              ? V_ARRAY(&input)
                     : type == (VT_ARRAY | VT_UI1 | VT_BYREF) ? *V_ARRAYREF(&input)
                                                              : nullptr;
  if (array == nullptr || SafeArrayGetDim(array) != 1) return DISP_E_TYPEMISMATCH;
  LONG lower = 0, upper = -1;
  SafeArrayGetLBound(array, 1, &lower);
  SafeArrayGetUBound(array, 1, &upper);
  void* data = nullptr;
  HRESULT result = SafeArrayAccessData(array, &data);
  if (FAILED(result)) return result;
  try {
    const auto* first = static_cast<const uint8_t*>(data);
    if (upper >= lower) body_.insert(body_.end(), first, first + (int64_t{upper} - lower + 1));
  } catch (const std::bad_alloc&) {
    result = E_OUTOFMEMORY;
  }
  SafeArrayUnaccessData(array);
  return result;
}

}  // namespace quorvex::webhost
