// Finding a colour value in an indexed image's palette.
#pragma once

#include <span>

#include "imaging/raster_image.h"

namespace quorvex {

// The lowest palette index whose entry (red + 256 * green + 65536 * blue) equals colour, or 0 if
// none does. A colour with any of bits 24 to 31 set never equals an entry.
int FindPaletteIndex(std::span<const TPaletteEntry> palette, TColor colour) noexcept;

}  // namespace quorvex
