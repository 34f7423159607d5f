// Sharpening after a shrink: an area average of a large reduction is a box filter one output
// pixel wide, which softens edges that a windowed-sinc reduction keeps. An unsharp mask on the
// brightness gives the contrast back without colour fringes.
#pragma once

#include "imaging/raster_image.h"

namespace quorvex {

// Sharpens `image`, the result of shrinking a picture by `shrink` (source side / result side,
// the larger of the two axes), with strength `amount` (0 = none, 1 = the level recommended for
// thumbnails). The mask's radius and gain grow with the shrink up to a factor of 2, beyond which
// the average's blur is the same one output pixel. Does nothing for amount <= 0, shrink <= 1, or
// an 8-bit image whose palette is not the gray ramp.
void SharpenAfterShrink(TBitmap& image, double amount, double shrink);

}  // namespace quorvex
