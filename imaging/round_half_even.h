// Rounding of reals to integers as the transforms need it: nearest, ties to the even integer.
#pragma once

#include <cfloat>

namespace quorvex {

static_assert(FLT_EVAL_METHOD == 0, "the rounding trick needs arithmetic in the declared types");

// Rounds to the nearest integer, ties to even, for |value| below 2^51; larger values, infinities
// and NaN come back unchanged in meaning (still huge, infinite or NaN), so a range test on the
// result rejects them. Adding and removing 1.5 * 2^52 leaves no fraction bits in a double, which
// makes the hardware do the rounding; this is much cheaper than a call to nearbyint per pixel.
inline double RoundHalfEven(double value) noexcept {
  constexpr double kShift = 6755399441055744.0;                                    // 1.5 * 2^52
  if (!(value > -2251799813685248.0 && value < 2251799813685248.0)) return value;  // 2^51
  return (value + kShift) - kShift;
}

}  // namespace quorvex
