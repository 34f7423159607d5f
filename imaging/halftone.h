// The halftone stretch: area averaging for 24-bit colour images.
#pragma once

#include <cstdint>

#include "imaging/raster_image.h"

namespace quorvex {

// Which pass runs over the whole image first. Both orders give identical pixels; they differ only
// in the work done, which for very wide or very tall shapes can differ by orders of magnitude.
enum class THalftoneOrder { Automatic, VerticalFirst, HorizontalFirst };

// Stretches the whole 24-bit source onto the whole 24-bit dest (its current size). Shrinking an
// axis averages the source area each destination pixel covers, edge pixels weighted by their
// covered fraction; enlarging an axis interpolates linearly. Every result is the exact weighted
// mean, rounded to nearest, so a constant image stays constant. An empty source or destination
// draws nothing.
void StretchHalftone(TBitmap& dest, const TBitmap& source,
                     THalftoneOrder order = THalftoneOrder::Automatic);

// A picture's extent along one axis of its source: Numerator / Denominator pixels, at most all
// of them, from the source's start or (AtEnd) up to its end.
struct TSourceExtent {
  int64_t Numerator = 0;
  int64_t Denominator = 1;
  bool AtEnd = false;
};

// The area average onto dest (no larger than the extents) of a source whose picture begins or
// ends inside a pixel, as a picture decoded at a reduced DCT scale does (its sides rounded up,
// the partial pixels last, or first once it is turned): each destination pixel is the mean of
// the part of the extents it covers, as it would be from the full picture.
void ShrinkHalftoneOver(TBitmap& dest, const TBitmap& source, TSourceExtent width,
                        TSourceExtent height);

}  // namespace quorvex
