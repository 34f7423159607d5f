// The box arithmetic: the size a picture takes when it is shrunk to fit inside a box.
#pragma once

#include <cstdint>
#include <optional>

namespace quorvex {

struct TFitSize {
  int64_t Width = 0;
  int64_t Height = 0;
};

// The size of a width x height picture fitted into boxWidth x boxHeight: the side whose ratio to
// the box is larger fits its box side (the height when both are equal) and the other follows by
// truncating integer arithmetic, so it may come out as 0. Nothing (std::nullopt) when the
// picture already fits, is never enlarged, or the box leaves nothing to fit to: a governing box
// side of 0 or less, or a picture of height 0. A box side of 0 divides as IEEE arithmetic does
// and so never traps. Fails with EDivByZero when the width governs a picture of width 0.
std::optional<TFitSize> FitInBox(int64_t width, int64_t height, int64_t boxWidth,
                                 int64_t boxHeight);

}  // namespace quorvex
