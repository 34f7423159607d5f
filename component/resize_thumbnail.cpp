// LoadThumbnail: a load already fitted into a box.
#include <utility>

#include "component/component_errors.h"
#include "component/resize_object.h"
#include "platform/com_ptr.h"

namespace quorvex {

namespace {

// The variant a reference chain ends at; the chain is bounded like VariantIn's.
const VARIANT& Dereferenced(const VARIANT& value) {
  const VARIANT* current = &value;
  for (int depth = 0; V_VT(current) == (VT_BYREF | VT_VARIANT); ++depth) {
    current = V_VARIANTREF(current);
    if (current == nullptr || depth == 64) throw EVariantError();
  }
  return *current;
}

}  // namespace

void TResize::LoadThumbnail(const VARIANT& Source, LONG Width, LONG Height) {
  // Everything happens on a scratch object, so a failure leaves this one as it was.
  TResize scratch;
  scratch.CopySettingsFrom(*this);
  const VARIANT& source = Dereferenced(Source);
  if ((V_VT(&source) & VT_ARRAY) != 0) {
    scratch.VariantIn(Source);
  } else {
    VARIANT name;
    VariantInit(&name);
    // Windows declares the source non-const, though it only reads it.
    if (FAILED(VariantChangeType(&name, const_cast<VARIANT*>(&source), 0, VT_BSTR)))
      throw EVariantError();
    TBstr owned(V_BSTR(&name));
    scratch.LoadFromFile(owned.get());
  }
  scratch.ResizeBox(Width, Height);
  AdoptLoadFrom(scratch);
}

}  // namespace quorvex
