// StreamImage: the encoded image straight into the response of the current web request.
#include "comserver/ole_errors.h"
#include "component/resize_object.h"
#include "comserver/text_conversion.h"
#include "platform/com_ptr.h"

namespace quorvex {

namespace {

// Each response call starts with no error information on the thread, so a failure that
// publishes none is never described by a record an earlier call left behind.
template <class Call>
void Checked(Call call) {
  SetErrorInfo(0, nullptr);
  const HRESULT result = call();
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
  Checked([&] { return Response()->put_Expires(0); });
  Checked([&] { return Response()->Clear(); });
  Checked([&] { return Response()->put_ContentType(TBstr(ContentType()).get()); });
  Checked([&] { return Response()->BinaryWrite(bytes.value); });
}

}  // namespace quorvex
