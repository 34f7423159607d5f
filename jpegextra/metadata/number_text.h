// Strict conversions between numbers and their decimal or hexadecimal texts.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quorvex {

// An optional sign and decimal digits, nothing else; nullopt when not a 64-bit integer.
std::optional<int64_t> ParseInt64(std::string_view text) noexcept;

// One or more hexadecimal digits; nullopt when not a 64-bit unsigned number.
std::optional<uint64_t> ParseHex(std::string_view text) noexcept;

// A decimal number with optional fraction and exponent; nullopt unless finite.
std::optional<double> ParseFloat(std::string_view text) noexcept;

// ParseInt64, or EConvertError with the runtime's message for an invalid integer.
int64_t StrToInt64(std::string_view text);

// Two uppercase hexadecimal digits.
std::string HexByte(uint8_t value);

}  // namespace quorvex
