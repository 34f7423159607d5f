// Version query, tick count, short paths and code-page conversion.
#include <sys/stat.h>
#include <time.h>

#include <new>

#include "platform/src/text.h"

namespace {

bool IsUtf8CodePage(UINT codePage) {
  return codePage == CP_ACP || codePage == CP_OEMCP || codePage == CP_MACCP ||
         codePage == CP_THREAD_ACP || codePage == CP_UTF8;
}

}  // namespace

BOOL WINAPI GetVersionExW(LPOSVERSIONINFOW info) {
  constexpr DWORD kExtendedSize = sizeof(OSVERSIONINFOW) + 3 * sizeof(WORD) + 2 * sizeof(BYTE);
  if (info == nullptr || (info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOW) &&
                          info->dwOSVersionInfoSize != kExtendedSize)) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  info->dwMajorVersion = 10;
  info->dwMinorVersion = 0;
  info->dwBuildNumber = 19045;
  info->dwPlatformId = VER_PLATFORM_WIN32_NT;
  info->szCSDVersion[0] = 0;
  return TRUE;
}

DWORD WINAPI GetTickCount(void) {
  timespec now;
  clock_gettime(CLOCK_BOOTTIME, &now);
  const uint64_t ms = static_cast<uint64_t>(now.tv_sec) * 1000u + now.tv_nsec / 1000000;
  return static_cast<DWORD>(ms);
}

DWORD WINAPI GetShortPathNameW(LPCWSTR lpszLongPath, LPWSTR lpszShortPath, DWORD cchBuffer) {
  try {
    if (lpszLongPath == nullptr) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return 0;
    }
    const std::u16string_view path = platform_detail::WideView(lpszLongPath);
    struct stat st;
    if (::stat(platform_detail::ToUtf8(path).c_str(), &st) != 0) {
      SetLastError(ERROR_FILE_NOT_FOUND);
      return 0;
    }
    if (lpszShortPath == nullptr || cchBuffer <= path.size())
      return static_cast<DWORD>(path.size() + 1);
    std::copy(path.begin(), path.end(), lpszShortPath);
    lpszShortPath[path.size()] = 0;
    return static_cast<DWORD>(path.size());
  } catch (const std::bad_alloc&) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return 0;
  }
}

int WINAPI MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr, int cbMultiByte,
                               LPWSTR lpWideCharStr, int cchWideChar) {
  try {
    if (!IsUtf8CodePage(CodePage) || lpMultiByteStr == nullptr || cbMultiByte == 0 ||
        cchWideChar < 0 || (lpWideCharStr == nullptr && cchWideChar != 0) ||
        reinterpret_cast<const void*>(lpMultiByteStr) == lpWideCharStr) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return 0;
    }
    if (dwFlags & ~static_cast<DWORD>(MB_ERR_INVALID_CHARS | MB_PRECOMPOSED)) {
      SetLastError(ERROR_INVALID_FLAGS);
      return 0;
    }
    // -1: the text is zero-terminated and the terminator is converted too.
    const size_t length = cbMultiByte < 0 ? std::char_traits<char>::length(lpMultiByteStr) + 1
                                          : static_cast<size_t>(cbMultiByte);
    bool invalid = false;
    const std::u16string wide =
        platform_detail::FromUtf8(std::string_view(lpMultiByteStr, length), &invalid);
    if (invalid && (dwFlags & MB_ERR_INVALID_CHARS)) {
      SetLastError(ERROR_NO_UNICODE_TRANSLATION);
      return 0;
    }
    if (cchWideChar == 0) return static_cast<int>(wide.size());
    if (wide.size() > static_cast<size_t>(cchWideChar)) {
      SetLastError(ERROR_INSUFFICIENT_BUFFER);
      return 0;
    }
    std::copy(wide.begin(), wide.end(), lpWideCharStr);
    return static_cast<int>(wide.size());
  } catch (const std::bad_alloc&) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return 0;
  }
}

int WINAPI WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWSTR lpWideCharStr, int cchWideChar,
                               LPSTR lpMultiByteStr, int cbMultiByte, LPCSTR lpDefaultChar,
                               LPBOOL lpUsedDefaultChar) {
  try {
    if (!IsUtf8CodePage(CodePage) || lpWideCharStr == nullptr || cchWideChar == 0 ||
        cbMultiByte < 0 || (lpMultiByteStr == nullptr && cbMultiByte != 0) ||
        reinterpret_cast<const void*>(lpWideCharStr) == lpMultiByteStr ||
        (CodePage == CP_UTF8 && (lpDefaultChar != nullptr || lpUsedDefaultChar != nullptr))) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return 0;
    }
    if (dwFlags & ~static_cast<DWORD>(WC_ERR_INVALID_CHARS)) {
      SetLastError(ERROR_INVALID_FLAGS);
      return 0;
    }
    const size_t length = cchWideChar < 0 ? platform_detail::WideLength(lpWideCharStr) + 1
                                          : static_cast<size_t>(cchWideChar);
    bool invalid = false;
    const std::string bytes =
        platform_detail::ToUtf8(std::u16string_view(lpWideCharStr, length), &invalid);
    if (invalid && (dwFlags & WC_ERR_INVALID_CHARS)) {
      SetLastError(ERROR_NO_UNICODE_TRANSLATION);
      return 0;
    }
    if (lpUsedDefaultChar != nullptr) *lpUsedDefaultChar = FALSE;  // UTF-8 represents everything
    if (cbMultiByte == 0) return static_cast<int>(bytes.size());
    if (bytes.size() > static_cast<size_t>(cbMultiByte)) {
      SetLastError(ERROR_INSUFFICIENT_BUFFER);
      return 0;
    }
    std::copy(bytes.begin(), bytes.end(), lpMultiByteStr);
    return static_cast<int>(bytes.size());
  } catch (const std::bad_alloc&) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return 0;
  }
}
