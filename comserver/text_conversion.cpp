// All UTF-8/UTF-16 conversion goes through the system's code-page functions
// (MultiByteToWideChar, WideCharToMultiByte), which Windows and this platform both provide; what
// is added here is only the escape that lets any byte string travel as a file name.
#include "comserver/text_conversion.h"

#include <climits>
#include <cstdint>
#include <string>

#include "imaging/errors.h"

namespace quorvex {

namespace {

// Sizes the system functions take are int; text beyond that is refused like any allocation.
int CheckedLength(size_t length) {
  if (length > INT_MAX / 4) throw EOutOfMemory();
  return static_cast<int>(length);
}

// Converts with the given flags; false when the flags reject the text.
bool WideToUtf8(const OLECHAR* text, size_t length, DWORD flags, std::string& out) {
  if (length == 0) return true;
  const int units = CheckedLength(length);
  const int size = WideCharToMultiByte(CP_UTF8, flags, text, units, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return false;
  const size_t start = out.size();
  out.resize(start + static_cast<size_t>(size));
  // The measured text converts again unless memory ran out meanwhile: never keep the zeros.
  if (WideCharToMultiByte(CP_UTF8, flags, text, units, out.data() + start, size, nullptr,
                          nullptr) != size)
    throw EOutOfMemory();
  return true;
}

bool Utf8ToWide(std::string_view text, DWORD flags, std::basic_string<OLECHAR>& out) {
  if (text.empty()) return true;
  const int bytes = CheckedLength(text.size());
  const int size = MultiByteToWideChar(CP_UTF8, flags, text.data(), bytes, nullptr, 0);
  if (size <= 0) return false;
  const size_t start = out.size();
  out.resize(start + static_cast<size_t>(size));
  if (MultiByteToWideChar(CP_UTF8, flags, text.data(), bytes, out.data() + start, size) != size)
    throw EOutOfMemory();
  return true;
}

BSTR NewBstr(const std::basic_string<OLECHAR>& units) {
  BSTR result = SysAllocStringLen(units.data(), static_cast<UINT>(units.size()));
  if (result == nullptr) throw EOutOfMemory();
  return result;
}

// The length of the UTF-8 sequence a lead byte starts; 0 for a byte that starts none.
size_t SequenceLength(unsigned char lead) {
  return lead < 0x80           ? 1
         : (lead >> 5) == 0x6  ? 2
         : (lead >> 4) == 0xE  ? 3
         : (lead >> 3) == 0x1E ? 4
                               : 0;
}

}  // namespace

std::string Utf16ToUtf8(const OLECHAR* text, size_t length) {
  std::string out;
  if (!WideToUtf8(text, length, 0, out)) throw EOutOfMemory();
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
  const int length = CheckedLength(units);
  const int size = WideCharToMultiByte(CP_ACP, 0, text, length, nullptr, 0, nullptr, nullptr);
  if (size <= 0) throw EOutOfMemory();
  std::string out(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_ACP, 0, text, length, out.data(), size, nullptr, nullptr);
  return out;
}
#else
namespace {

// A byte UTF-8 cannot decode travels as U+DC00 + the byte; only 0x80..0xFF ever need it.
constexpr OLECHAR kEscapeFirst = 0xDC80, kEscapeLast = 0xDCFF;

bool IsHighSurrogate(OLECHAR c) {
  return c >= 0xD800 && c <= 0xDBFF;
}

}  // namespace

std::string BstrToFileName(BSTR text) {
  const size_t length = SysStringLen(text);
  if (std::char_traits<OLECHAR>::find(text, length, 0) != nullptr) return {};
  std::string out;
  out.reserve(length);
  // Runs of ordinary text go through the strict converter; an escape (a low surrogate in the
  // escape range with no high surrogate before it) is its byte.
  size_t runStart = 0;
  for (size_t i = 0; i <= length; ++i) {
    const bool escape = i < length && text[i] >= kEscapeFirst && text[i] <= kEscapeLast &&
                        (i == 0 || !IsHighSurrogate(text[i - 1]));
    if (i < length && !escape) continue;
    if (!WideToUtf8(text + runStart, i - runStart, WC_ERR_INVALID_CHARS, out)) return {};
    if (escape) out += static_cast<char>(text[i] - 0xDC00);
    runStart = i + 1;
  }
  return out;
}
#endif

std::basic_string<OLECHAR> FileNameToOle(std::string_view name) {
  std::basic_string<OLECHAR> units;
  units.reserve(name.size());
  if (Utf8ToWide(name, MB_ERR_INVALID_CHARS, units)) return units;
  // Not all UTF-8: sequence by sequence, escaping every byte that starts no valid one.
  for (size_t i = 0; i < name.size();) {
    const size_t length = SequenceLength(static_cast<unsigned char>(name[i]));
    if (length != 0 && i + length <= name.size() &&
        Utf8ToWide(name.substr(i, length), MB_ERR_INVALID_CHARS, units)) {
      i += length;
    } else {
      units.push_back(static_cast<OLECHAR>(0xDC00 + static_cast<unsigned char>(name[i])));
      ++i;
    }
  }
  return units;
}

BSTR FileNameToNewBstr(std::string_view name) {
  return NewBstr(FileNameToOle(name));
}

std::basic_string<OLECHAR> Utf8ToOle(std::string_view text) {
  std::basic_string<OLECHAR> units;
  if (!Utf8ToWide(text, 0, units)) throw EOutOfMemory();
  return units;
}

BSTR Utf8ToNewBstr(std::string_view text) {
  return NewBstr(Utf8ToOle(text));
}

}  // namespace quorvex
