#include "component/text_conversion.h"

#include <cstdint>
#include <optional>
#include <string>

#include "imaging/errors.h"

namespace quorvex {

namespace {

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// Decodes one UTF-8 sequence at text[i]; malformed input yields nothing and skips one byte.
std::optional<char32_t> DecodeAt(std::string_view text, size_t& i) {
  const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(i);
  int length = lead < 0x80           ? 1
               : (lead >> 5) == 0x6  ? 2
               : (lead >> 4) == 0xE  ? 3
               : (lead >> 3) == 0x1E ? 4
                                     : 0;
  if (length == 0 || i + length > text.size()) {
    ++i;
    return std::nullopt;
  }
  char32_t c = length == 1 ? lead : lead & (0x7F >> length);
  for (int k = 1; k < length; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) {
      ++i;
      return std::nullopt;
    }
    c = (c << 6) | (byte(i + k) & 0x3F);
  }
  static constexpr char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
  if (c < kSmallest[length] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
    ++i;
    return std::nullopt;
  }
  i += length;
  return c;
}

void AppendUtf16(std::basic_string<OLECHAR>& units, char32_t c) {
  if (c >= 0x10000) {
    units.push_back(static_cast<OLECHAR>(0xD800 + ((c - 0x10000) >> 10)));
    units.push_back(static_cast<OLECHAR>(0xDC00 + ((c - 0x10000) & 0x3FF)));
  } else {
    units.push_back(static_cast<OLECHAR>(c));
  }
}

// The code point at text[i], joining a surrogate pair (i then moves to its low half); a lone
// surrogate comes back as itself for the caller to judge.
char32_t NextCodePoint(const OLECHAR* text, size_t length, size_t& i) {
  const char32_t c = static_cast<char16_t>(text[i]);
  if (c >= 0xD800 && c <= 0xDBFF && i + 1 < length) {
    const char32_t low = static_cast<char16_t>(text[i + 1]);
    if (low >= 0xDC00 && low <= 0xDFFF) {
      ++i;
      return 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
    }
  }
  return c;
}

BSTR NewBstr(const std::basic_string<OLECHAR>& units) {
  BSTR result = SysAllocStringLen(units.data(), static_cast<UINT>(units.size()));
  if (result == nullptr) throw EOutOfMemory();
  return result;
}

// Escaped bytes are the ones a decoder cannot take as UTF-8, so only 0x80..0xFF occur.
constexpr char32_t kEscapeFirst = 0xDC80, kEscapeLast = 0xDCFF;

}  // namespace

std::string Utf16ToUtf8(const OLECHAR* text, size_t length) {
  std::string out;
  out.reserve(length);
  for (size_t i = 0; i < length; ++i) {
    char32_t c = NextCodePoint(text, length, i);
    if (c >= 0xD800 && c <= 0xDFFF) c = 0xFFFD;
    AppendUtf8(out, c);
  }
  return out;
}

std::string BstrToUtf8(BSTR text) {
  return Utf16ToUtf8(text, SysStringLen(text));
}

#if defined(_WIN32) || defined(QUORVEX_WINDOWS_HEADERS)
std::string BstrToFileName(BSTR text) {
  const UINT units = SysStringLen(text);
  if (units == 0) return {};
  if (std::char_traits<OLECHAR>::find(text, units, 0) != nullptr) return {};
  if (units > INT32_MAX / 4) throw EOutOfMemory();
  const int length = static_cast<int>(units);
  const int size = WideCharToMultiByte(CP_ACP, 0, text, length, nullptr, 0, nullptr, nullptr);
  if (size <= 0) throw EOutOfMemory();
  std::string out(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_ACP, 0, text, length, out.data(), size, nullptr, nullptr);
  return out;
}
#else
std::string BstrToFileName(BSTR text) {
  const size_t length = SysStringLen(text);
  std::string out;
  out.reserve(length);
  for (size_t i = 0; i < length; ++i) {
    char32_t c = NextCodePoint(text, length, i);
    if (c >= kEscapeFirst && c <= kEscapeLast) {
      out += static_cast<char>(c - 0xDC00);
    } else if (c == 0 || (c >= 0xD800 && c <= 0xDFFF)) {
      return {};
    } else {
      AppendUtf8(out, c);
    }
  }
  return out;
}
#endif

std::basic_string<OLECHAR> FileNameToOle(std::string_view name) {
  std::basic_string<OLECHAR> units;
  units.reserve(name.size());
  for (size_t i = 0; i < name.size();) {
    const size_t start = i;
    const std::optional<char32_t> c = DecodeAt(name, i);
    AppendUtf16(units, c ? *c : 0xDC00 + static_cast<unsigned char>(name[start]));
  }
  return units;
}

BSTR FileNameToNewBstr(std::string_view name) {
  return NewBstr(FileNameToOle(name));
}

std::basic_string<OLECHAR> Utf8ToOle(std::string_view text) {
  std::basic_string<OLECHAR> units;
  units.reserve(text.size());
  for (size_t i = 0; i < text.size();) AppendUtf16(units, DecodeAt(text, i).value_or(0xFFFD));
  return units;
}

BSTR Utf8ToNewBstr(std::string_view text) {
  return NewBstr(Utf8ToOle(text));
}

}  // namespace quorvex
