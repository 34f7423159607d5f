// Turning a picture upright by the orientation a camera recorded with it (the EXIF tag's values:
// 1 upright, 2..8 the mirrors and quarter turns of the stored rows).
#pragma once

#include "imaging/raster_image.h"

namespace quorvex {

// True for the orientations whose upright picture has width and height exchanged (5..8).
bool OrientationSwapsSides(int orientation) noexcept;

// Replaces image by its upright form for orientation: 2 mirrors left and right, 3 turns half
// way, 4 mirrors top and bottom, 5 transposes, 6 turns a quarter clockwise, 7 transposes across
// the other diagonal, 8 turns a quarter anticlockwise. Format and palette stay; 1 and values
// outside 1..8 leave the image alone. On failure the image keeps its contents.
void OrientUpright(TBitmap& image, int orientation);

}  // namespace quorvex
