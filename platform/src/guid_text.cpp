// GUIDs in registry text form, "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", and task memory.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/src/text.h"

namespace {

constexpr int kGuidChars = 38;

int HexValue(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

// Reads `digits` hex digits at text[pos]; false on any other character.
bool ReadHex(const OLECHAR* text, int pos, int digits, uint32_t* value) {
  uint32_t v = 0;
  for (int i = 0; i < digits; ++i) {
    const int d = HexValue(text[pos + i]);
    if (d < 0) return false;
    v = (v << 4) | static_cast<uint32_t>(d);
  }
  *value = v;
  return true;
}

bool ParseGuid(const OLECHAR* text, GUID* out) {
  if (platform_detail::WideLength(text) != kGuidChars) return false;
  if (text[0] != u'{' || text[9] != u'-' || text[14] != u'-' || text[19] != u'-' ||
      text[24] != u'-' || text[37] != u'}')
    return false;
  uint32_t d1, d2, d3, b;
  if (!ReadHex(text, 1, 8, &d1) || !ReadHex(text, 10, 4, &d2) || !ReadHex(text, 15, 4, &d3))
    return false;
  GUID g;
  g.Data1 = d1;
  g.Data2 = static_cast<uint16_t>(d2);
  g.Data3 = static_cast<uint16_t>(d3);
  static const int kBytePos[8] = {20, 22, 25, 27, 29, 31, 33, 35};
  for (int i = 0; i < 8; ++i) {
    if (!ReadHex(text, kBytePos[i], 2, &b)) return false;
    g.Data4[i] = static_cast<uint8_t>(b);
  }
  *out = g;
  return true;
}

HRESULT AllocatedText(REFGUID guid, LPOLESTR* out) {
  if (out == nullptr) return E_INVALIDARG;
  *out = static_cast<LPOLESTR>(CoTaskMemAlloc((kGuidChars + 1) * sizeof(OLECHAR)));
  if (*out == nullptr) return E_OUTOFMEMORY;
  StringFromGUID2(guid, *out, kGuidChars + 1);
  return S_OK;
}

}  // namespace

int WINAPI StringFromGUID2(REFGUID rguid, LPOLESTR lpsz, int cchMax) {
  if (lpsz == nullptr || cchMax < kGuidChars + 1) return 0;
  char text[kGuidChars + 1];
  std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                rguid.Data1, rguid.Data2, rguid.Data3, rguid.Data4[0], rguid.Data4[1],
                rguid.Data4[2], rguid.Data4[3], rguid.Data4[4], rguid.Data4[5], rguid.Data4[6],
                rguid.Data4[7]);
  for (int i = 0; i <= kGuidChars; ++i) lpsz[i] = static_cast<OLECHAR>(text[i]);
  return kGuidChars + 1;
}

HRESULT WINAPI StringFromCLSID(REFCLSID rclsid, LPOLESTR* lplpsz) {
  return AllocatedText(rclsid, lplpsz);
}

HRESULT WINAPI StringFromIID(REFIID riid, LPOLESTR* lplpsz) {
  return AllocatedText(riid, lplpsz);
}

HRESULT WINAPI CLSIDFromString(LPCOLESTR lpsz, LPCLSID pclsid) {
  if (pclsid == nullptr) return E_INVALIDARG;
  if (lpsz == nullptr) {
    *pclsid = CLSID_NULL;
    return S_OK;
  }
  if (ParseGuid(lpsz, pclsid)) return S_OK;
  // Not a GUID: as on Windows, the text may be a ProgID.
  if (lpsz[0] != u'{' && SUCCEEDED(CLSIDFromProgID(lpsz, pclsid))) return S_OK;
  *pclsid = CLSID_NULL;
  return CO_E_CLASSSTRING;
}

HRESULT WINAPI IIDFromString(LPCOLESTR lpsz, LPIID lpiid) {
  if (lpiid == nullptr) return E_INVALIDARG;
  if (lpsz == nullptr) {
    *lpiid = IID_NULL;
    return S_OK;
  }
  if (ParseGuid(lpsz, lpiid)) return S_OK;
  *lpiid = IID_NULL;
  return E_INVALIDARG;
}

LPVOID WINAPI CoTaskMemAlloc(SIZE_T cb) {
  return std::malloc(cb == 0 ? 1 : cb);
}

LPVOID WINAPI CoTaskMemRealloc(LPVOID pv, SIZE_T cb) {
  return std::realloc(pv, cb == 0 ? 1 : cb);
}

void WINAPI CoTaskMemFree(LPVOID pv) {
  std::free(pv);
}
