#include "jpegextra/metadata/number_text.h"

#include <charconv>
#include <cmath>

#include "jpegextra/metadata/metadata_errors.h"

namespace quorvex {

std::optional<int64_t> ParseInt64(std::string_view text) noexcept {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty() || text.front() == '+') return std::nullopt;
  int64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::optional<uint64_t> ParseHex(std::string_view text) noexcept {
  if (text.empty()) return std::nullopt;
  uint64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::optional<double> ParseFloat(std::string_view text) noexcept {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return std::nullopt;
  // from_chars also knows "inf" and "nan"; neither is a number here.
  const char first = text.front() == '-' && text.size() > 1 ? text[1] : text.front();
  if (!(first >= '0' && first <= '9') && first != '.') return std::nullopt;
  double value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(value))
    return std::nullopt;
  return value;
}

int64_t StrToInt64(std::string_view text) {
  if (const auto value = ParseInt64(text)) return *value;
  throw EConvertError("'" + std::string(text) + "' is not a valid integer value");
}

std::string HexByte(uint8_t value) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  return {kDigits[value >> 4], kDigits[value & 0x0F]};
}

}  // namespace quorvex
