// StreamImage: the encoded image straight into the response of the current web request.
#include "component/com_ptr.h"
#include "component/ole_errors.h"
#include "component/resize_object.h"
#include "component/text_conversion.h"

namespace quorvex {

namespace {

void Check(HRESULT result) {
  if (FAILED(result)) RaiseFailedCall(result);
}

class ArrayVariant {
 public:
  explicit ArrayVariant(SAFEARRAY* array) {
    VariantInit(&value);
    V_VT(&value) = VT_ARRAY | VT_UI1;
    V_ARRAY(&value) = array;
  }
  ~ArrayVariant() { VariantClear(&value); }
  ArrayVariant(const ArrayVariant&) = delete;
  ArrayVariant& operator=(const ArrayVariant&) = delete;
  VARIANT value;
};

}  // namespace

void TResize::StreamImage() {
  ArrayVariant bytes(EncodeToArray());
  // The response is looked up afresh for every call, and the first failure ends the sequence.
  Check(Response()->put_Expires(0));
  Check(Response()->Clear());
  Check(Response()->put_ContentType(TBstr(Utf8ToNewBstr("Image/jpeg")).get()));
  Check(Response()->BinaryWrite(bytes.value));
}

}  // namespace quorvex
