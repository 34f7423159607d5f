// Automation strings: a 32-bit byte count, the UTF-16 characters, and a terminating zero
// character. The BSTR points at the first character, just after the count.
#include <cstdlib>
#include <cstring>
#include <limits>

#include "platform/winapi.h"

namespace {

constexpr size_t kPrefix = sizeof(DWORD);
constexpr size_t kTerminator = sizeof(OLECHAR);

BSTR AllocateBytes(const void* source, UINT byteLength) {
  // The count is 32 bits wide and the block also holds the prefix and terminator.
  if (byteLength > std::numeric_limits<DWORD>::max() - kPrefix - kTerminator) return nullptr;
  auto* block = static_cast<BYTE*>(std::malloc(kPrefix + byteLength + kTerminator));
  if (block == nullptr) return nullptr;
  const DWORD count = byteLength;
  std::memcpy(block, &count, kPrefix);
  BYTE* text = block + kPrefix;
  if (source != nullptr) {
    std::memcpy(text, source, byteLength);
  } else {
    std::memset(text, 0, byteLength);
  }
  // Zero the terminator and, for an odd byte count, the byte before it.
  text[byteLength] = 0;
  text[byteLength + 1] = 0;
  return reinterpret_cast<BSTR>(text);
}

DWORD StoredByteLength(BSTR text) {
  DWORD count;
  std::memcpy(&count, reinterpret_cast<const BYTE*>(text) - kPrefix, kPrefix);
  return count;
}

}  // namespace

BSTR WINAPI SysAllocString(const OLECHAR* psz) {
  if (psz == nullptr) return nullptr;
  size_t length = 0;
  while (psz[length] != 0) ++length;
  if (length > std::numeric_limits<UINT>::max() / sizeof(OLECHAR)) return nullptr;
  return SysAllocStringLen(psz, static_cast<UINT>(length));
}

BSTR WINAPI SysAllocStringLen(const OLECHAR* strIn, UINT ui) {
  if (ui > std::numeric_limits<UINT>::max() / sizeof(OLECHAR)) return nullptr;
  return AllocateBytes(strIn, ui * static_cast<UINT>(sizeof(OLECHAR)));
}

BSTR WINAPI SysAllocStringByteLen(LPCSTR psz, UINT len) {
  return AllocateBytes(psz, len);
}

void WINAPI SysFreeString(BSTR bstrString) {
  if (bstrString == nullptr) return;
  std::free(reinterpret_cast<BYTE*>(bstrString) - kPrefix);
}

UINT WINAPI SysStringLen(BSTR pbstr) {
  return pbstr == nullptr ? 0 : StoredByteLength(pbstr) / sizeof(OLECHAR);
}

UINT WINAPI SysStringByteLen(BSTR bstr) {
  return bstr == nullptr ? 0 : StoredByteLength(bstr);
}
