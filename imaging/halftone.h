// The halftone stretch: area averaging for 24-bit colour images.
#pragma once

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

}  // namespace quorvex
