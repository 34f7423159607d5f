// Conversion of EXIF value texts ("72/1", "72") to numbers.
#pragma once

#include <string_view>

namespace quorvex {

// "n/d" gives n / d, both taken as signed 32-bit; a text without '/' is read as a decimal
// number; anything with more than two pieces, or none, gives 0. Raises EConvertError
// "Conversion error - value is not a number." or "Conversion error - division by zero.".
double RationalToFloat(std::string_view text);

}  // namespace quorvex
