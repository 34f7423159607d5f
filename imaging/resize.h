// The resize operation: a new raster showing the whole source stretched to a given size.
#pragma once

#include <cstdint>
#include <memory>

#include "imaging/raster_image.h"
#include "imaging/stretch.h"

namespace quorvex {

// Frees whatever result holds and puts a new image there with the source's pixel format (and,
// for 8-bit images, palette) at newWidth x newHeight, showing the whole source. 24-bit images are
// stretched with colourMode (halftone on this platform), 8-bit ones by pixel selection.
//
// Fails with EDivByZero ("Division by zero") when newHeight or the source's height is 0; result
// then holds a new, empty image. A newWidth of 0 gives an empty result. Sizes beyond the raster
// limit fail with EOutOfMemory, negative ones with EInvalidGraphicOperation. source may be the
// image result holds.
void ResizeBitmap(int32_t newWidth, int32_t newHeight, std::unique_ptr<TBitmap>& result,
                  const TBitmap& source, TStretchMode colourMode = TStretchMode::Halftone);

}  // namespace quorvex
