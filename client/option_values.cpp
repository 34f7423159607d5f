#include "client/option_values.h"

#include <charconv>
#include <cmath>
#include <limits>

namespace quorvex::client {

namespace {

// The whole text as a decimal integer (an optional minus, then digits) within [low, high].
std::optional<int64_t> Decimal(std::string_view text, int64_t low, int64_t high) {
  int64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, 10);
  if (text.empty() || error != std::errc() || end != text.data() + text.size() || value < low ||
      value > high)
    return std::nullopt;
  return value;
}

}  // namespace

std::optional<std::vector<int32_t>> ParseIntegers(std::string_view text, char separator,
                                                  size_t count) {
  std::vector<int32_t> numbers;
  // Split first: a separator such as 'x' must never be read as part of a number.
  for (size_t start = 0;;) {
    const size_t stop = text.find(separator, start);
    const std::optional<int64_t> value =
        Decimal(text.substr(start, stop == std::string_view::npos ? stop : stop - start),
                std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max());
    if (!value || numbers.size() == count) return std::nullopt;
    numbers.push_back(static_cast<int32_t>(*value));
    if (stop == std::string_view::npos) break;
    start = stop + 1;
  }
  if (numbers.size() != count) return std::nullopt;
  return numbers;
}

std::optional<int32_t> ParseColour(std::string_view text) {
  constexpr int64_t kLargest = std::numeric_limits<uint32_t>::max();
  std::optional<int64_t> value;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    const std::string_view digits = text.substr(2);
    uint64_t hex = 0;
    const auto [end, error] =
        std::from_chars(digits.data(), digits.data() + digits.size(), hex, 16);
    if (error == std::errc() && end == digits.data() + digits.size() && hex <= kLargest)
      value = static_cast<int64_t>(hex);
  } else {
    value = Decimal(text, std::numeric_limits<int32_t>::min(), kLargest);
  }
  if (!value) return std::nullopt;
  return static_cast<int32_t>(static_cast<uint32_t>(*value));
}

std::optional<float> ParseAngle(std::string_view text) {
  float angle = 0;
  const auto [end, error] =
      std::from_chars(text.data(), text.data() + text.size(), angle, std::chars_format::general);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return angle;
}

}  // namespace quorvex::client
