// A raster image's pixels as the format libraries take them: rows top to bottom, no padding.
#pragma once

#include <cstdint>
#include <vector>

#include "imaging/raster_image.h"

namespace quorvex {

enum class TPacking {
  Rgb,      // red, green, blue
  GrayRgb,  // the gray level three times
  Gray,     // the gray level once
};

struct TPackedPixels {
  std::vector<uint8_t> Bytes;
  int Channels = 0;
  int32_t Width = 0;
  int32_t Height = 0;
  size_t RowBytes() const noexcept { return static_cast<size_t>(Width) * Channels; }
};

// Reads 24-bit blue-green-red or 8-bit indexed pixels (through the palette); gray levels are
// (B + G + R) div 3, the JPEG encoder's gray.
TPackedPixels PackPixels(const TBitmap& image, TPacking packing);

}  // namespace quorvex
