// Numbers in text, as the automation library reads and writes them in the English (United
// States) locale: "1,234.5", "$12", "(7)", "3-", "1.5E+20", "&HFF", "&O17".
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/winapi.h"

namespace platform_detail {

struct ParsedNumber {
  bool negative = false;
  bool hexOrOctal = false;
  uint64_t radixValue = 0;  // the value of a "&H" or "&O" number
  std::string digits;       // decimal significant digits, no leading zeros ("0" for zero)
  int power10 = 0;          // value = digits * 10^power10
};

// Parses the whole text; DISP_E_TYPEMISMATCH when it is not a number, DISP_E_OVERFLOW when a
// radix number does not fit in 64 bits.
HRESULT ParseNumber(std::u16string_view text, ParsedNumber* out);

// The value as an unsigned magnitude rounded half to even; false when it exceeds 64 bits.
bool RoundedMagnitude(const ParsedNumber& number, uint64_t* magnitude);

// The value as the nearest double (infinity when out of range).
double ToDouble(const ParsedNumber& number);

// Formatting of reals: `digits` significant digits (15 for doubles, 7 for floats).
std::u16string FormatReal(double value, int digits);

}  // namespace platform_detail
