// The x64 binary layouts that compiled clients and Windows headers agree on.
#include <cstddef>

#include "platform/winapi.h"

static_assert(sizeof(LONG) == 4 && sizeof(ULONG) == 4, "LONG is 32 bits on Win64");
static_assert(sizeof(OLECHAR) == 2, "OLECHAR is a UTF-16 code unit");
static_assert(sizeof(HRESULT) == 4 && sizeof(VARIANT_BOOL) == 2 && sizeof(VARTYPE) == 2);
static_assert(sizeof(GUID) == 16);
static_assert(sizeof(DECIMAL) == 16);
static_assert(sizeof(CY) == 8);
static_assert(sizeof(VARIANT) == 24, "VARIANT is 24 bytes on x64");
static_assert(offsetof(VARIANT, vt) == 0);
static_assert(offsetof(VARIANT, lVal) == 8 && offsetof(VARIANT, parray) == 8);
static_assert(offsetof(VARIANT, pRecInfo) == 16);
static_assert(sizeof(SAFEARRAYBOUND) == 8);
static_assert(sizeof(SAFEARRAY) == 32, "SAFEARRAY with one bound is 32 bytes on x64");
static_assert(offsetof(SAFEARRAY, cbElements) == 4 && offsetof(SAFEARRAY, cLocks) == 8);
static_assert(offsetof(SAFEARRAY, pvData) == 16 && offsetof(SAFEARRAY, rgsabound) == 24);
