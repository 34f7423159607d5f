// Rotation by any angle about the centre, nearest-neighbour, with a background colour for the
// corners the turned picture leaves uncovered.
#pragma once

#include <cstdint>
#include <memory>

#include "imaging/raster_image.h"

namespace quorvex {

// The sine and cosine rotation uses for angle (degrees), as 32-bit floats. A radian value of
// magnitude 2^63 or more, an infinite one and NaN all give 0 and 0, hence an empty result.
struct TRotation {
  float sine = 0;
  float cosine = 0;
};
TRotation RotationFor(float angle) noexcept;

// The size of the rotated image: Round(|W*c| + |H*s|) by Round(|W*s| + |H*c|). Fails with
// EOutOfMemory when a side does not fit a signed 32-bit integer.
struct TRotatedSize {
  int32_t width = 0;
  int32_t height = 0;
};
TRotatedSize RotatedSize(int32_t width, int32_t height, TRotation rotation);

// Frees whatever result holds and puts the source there turned by angle degrees (positive turns
// counter-clockwise as seen with row 0 at the top), in an image just large enough; uncovered
// pixels take background (the palette index of that colour, or 0, for 8-bit images). The result
// keeps the source's pixel format and palette. An empty source gives an empty result (a copy of
// it). Results beyond the raster limit fail with EOutOfMemory. source may be the image result
// holds.
void RotateBitmap(const TBitmap& source, std::unique_ptr<TBitmap>& result, TColor background,
                  float angle);

}  // namespace quorvex
