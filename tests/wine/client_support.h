// What the Wine client's checks share: counting, text conversion and owned automation values.
#pragma once

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "component/quorvex_interface.h"

namespace quorvex::wine_client {

class Tally {
 public:
  void Check(bool ok, const std::string& name, const std::string& detail = {}) {
    if (ok) {
      ++passed_;
      return;
    }
    ++failed_;
    std::printf("FAIL %s%s%s\n", name.c_str(), detail.empty() ? "" : ": ", detail.c_str());
  }
  template <typename T>
  void Equal(const T& actual, const T& expected, const std::string& name) {
    Check(actual == expected, name,
          "got [" + Text(actual) + "], expected [" + Text(expected) + "]");
  }
  int Summary() const {
    std::printf("%d passed, %d failed\n", passed_, failed_);
    return failed_ == 0 ? 0 : 1;
  }

  static std::string Text(const std::string& value) { return value; }
  static std::string Text(const char* value) { return value; }
  template <typename T>
  static std::string Text(const T& value) {
    char text[32];
    std::snprintf(text, sizeof text, "%lld (0x%llx)", static_cast<long long>(value),
                  static_cast<unsigned long long>(value) & 0xFFFFFFFFull);
    return text;
  }

 private:
  int passed_ = 0;
  int failed_ = 0;
};

inline std::string Narrow(const OLECHAR* text, int length) {
  if (text == nullptr || length == 0) return {};
  const int size = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, length, out.data(), size, nullptr, nullptr);
  return out;
}

inline std::string Narrow(BSTR text) {
  return Narrow(text, static_cast<int>(SysStringLen(text)));
}

inline std::basic_string<OLECHAR> Wide(const std::string& text) {
  std::basic_string<OLECHAR> out(text.size(), OLECHAR{0});
  const int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                       out.data(), static_cast<int>(out.size()));
  out.resize(static_cast<size_t>(size));
  return out;
}

// A VARIANT cleared on destruction.
struct Variant {
  Variant() { VariantInit(&value); }
  ~Variant() { VariantClear(&value); }
  Variant(const Variant&) = delete;
  Variant& operator=(const Variant&) = delete;
  VARIANT value;
};

inline void SetString(VARIANT& v, const std::string& text) {
  const auto wide = Wide(text);
  V_VT(&v) = VT_BSTR;
  V_BSTR(&v) = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
}

inline void SetLong(VARIANT& v, LONG value) {
  V_VT(&v) = VT_I4;
  V_I4(&v) = value;
}

// A one-dimensional byte array with the given lower bound, owned by the variant.
inline void SetBytes(VARIANT& v, const std::vector<unsigned char>& bytes, LONG lowerBound) {
  SAFEARRAYBOUND bound{static_cast<ULONG>(bytes.size()), lowerBound};
  SAFEARRAY* array = SafeArrayCreate(VT_UI1, 1, &bound);
  void* data = nullptr;
  SafeArrayAccessData(array, &data);
  if (!bytes.empty()) std::copy(bytes.begin(), bytes.end(), static_cast<unsigned char*>(data));
  SafeArrayUnaccessData(array);
  V_VT(&v) = VT_ARRAY | VT_UI1;
  V_ARRAY(&v) = array;
}

// The exception information of a failed Invoke, with its strings owned.
struct ExceptionInfo {
  ExceptionInfo() = default;
  ~ExceptionInfo() { Clear(); }
  ExceptionInfo(const ExceptionInfo&) = delete;
  ExceptionInfo& operator=(const ExceptionInfo&) = delete;
  void Clear() {
    SysFreeString(info.bstrSource);
    SysFreeString(info.bstrDescription);
    SysFreeString(info.bstrHelpFile);
    info = EXCEPINFO{};
  }
  EXCEPINFO info{};
};

}  // namespace quorvex::wine_client
