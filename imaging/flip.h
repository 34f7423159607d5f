// The two mirror operations. Each replaces the image's contents from a scratch copy; size, pixel
// format and palette stay. If anything fails the image keeps its contents.
#pragma once

#include "imaging/raster_image.h"

namespace quorvex {

// Reverses the order of the rows: the picture turns upside down (FlipHorizontal).
void ReverseRowOrder(TBitmap& image);

// Reverses the order of the pixels within every row: left and right swap (FlipVertical).
void ReverseColumnOrder(TBitmap& image);

}  // namespace quorvex
