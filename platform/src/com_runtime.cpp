// Object creation for clients (filled in with the registry).
#include "platform/winapi.h"

HRESULT WINAPI CLSIDFromProgID(LPCOLESTR, LPCLSID lpclsid) {
  if (lpclsid != nullptr) *lpclsid = CLSID_NULL;
  return CO_E_CLASSSTRING;
}
