// Crop-to-fill: the geometry that makes a picture cover a box and the cut that keeps the part of
// it the gravity chooses. The object's FillBox runs these around the ordinary resize.
#pragma once

#include <cstdint>

#include "imaging/raster_image.h"

namespace quorvex {

// Where the cut of a picture larger than the box lies: a compass point, or the region found by
// looking at the picture.
enum class TGravity {
  Center,
  North,
  South,
  East,
  West,
  NorthEast,
  NorthWest,
  SouthEast,
  SouthWest,
  // The region that draws the eye: saturated colour, skin tones, edges.
  Attention,
  // The busiest region: the most varied brightness.
  Entropy,
};

struct TSize {
  int32_t Width = 0;
  int32_t Height = 0;
  friend bool operator==(const TSize&, const TSize&) = default;
};

// How a picture of `picture` pixels fills a box of `box` pixels (both sides > 0). When the
// picture covers the box on both sides, Scaled is the smallest size with the picture's aspect
// that covers the box (one side equal to the box's, the other truncated, never below it) and
// Cut is the box. A picture smaller than the box on either side is never enlarged: Scaled is the
// picture itself and Cut the largest size of the box's aspect it holds (at least 1 x 1).
struct TFillPlan {
  TSize Scaled;
  TSize Cut;
  // Whether the picture is shrunk to Scaled before the cut.
  bool Shrinks = false;
};
TFillPlan PlanFill(TSize picture, TSize box) noexcept;

struct TOffset {
  int32_t X = 0;
  int32_t Y = 0;
  friend bool operator==(const TOffset&, const TOffset&) = default;
};

// The top-left corner of a `cut` window of `picture` for the gravity: compass points by
// arithmetic (a centred cut truncates the half of the overflow), Attention and Entropy by
// scoring the picture's pixels.
TOffset CutOrigin(const TBitmap& picture, TSize cut, TGravity gravity);

// The window of `source` at `origin`, `size` pixels, as a new image of the same pixel format and
// palette. The window lies inside the source.
void CutWindow(const TBitmap& source, TOffset origin, TSize size, TBitmap& result);

}  // namespace quorvex
