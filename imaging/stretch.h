// The stretching copy behind the resize operation: the whole source drawn onto the whole
// destination in one of two modes.
#pragma once

#include "imaging/raster_image.h"

namespace quorvex {

enum class TStretchMode {
  // Area averaging (24-bit colour only): each destination pixel the mean of what it covers.
  Halftone,
  // Pixel selection: each destination pixel an exact copy of one source pixel; rows and columns
  // are dropped when shrinking and repeated when enlarging. The only mode for indexed images.
  ColorOnColor,
};

// Draws source onto dest at dest's current size. Both images must have the same pixel format;
// indexed images always use ColorOnColor. An empty source or destination draws nothing.
void StretchBitmap(TBitmap& dest, const TBitmap& source, TStretchMode mode);

// The pixel-selecting stretch on its own.
void StretchColorOnColor(TBitmap& dest, const TBitmap& source);

}  // namespace quorvex
