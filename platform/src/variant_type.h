// Rules shared by VARIANT and SAFEARRAY handling: which types are valid and how big they are.
#pragma once

#include "platform/winapi.h"

namespace platform_detail {

// The validity test of the automation library: no vectors, no reserved bit, no by-reference or
// array of EMPTY/NULL, and none of the types that only type descriptions use.
HRESULT ValidateVariantType(VARTYPE vt);

// Bytes one safe-array element of the given base type takes; 0 for a type arrays cannot hold.
ULONG ArrayElementSize(VARTYPE vt);

}  // namespace platform_detail
