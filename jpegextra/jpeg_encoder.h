// Compression of a raster image into JPEG data.
#pragma once

#include <cstdint>

#include "imaging/raster_image.h"
#include "jpegextra/memory_stream.h"

namespace quorvex {

class TJPEGImage;

struct TEncodeOptions {
  uint8_t Quality = 90;  // the library treats 0 as 1 and above 100 as 100
  bool Grayscale = false;
  bool Progressive = false;
  bool OptimizeCoding = false;  // Huffman tables made for the image: smaller, the same pixels
};

// Writes a JFIF file (density unit 0, 1:1) to output at its position, with the floating-point
// DCT and baseline-compatible quality-scaled tables. image is 24-bit blue-green-red, or, for
// Grayscale, 8-bit whose indices are the gray levels. progressOwner, if given, receives
// progress reports. Progressive or optimized output, which keeps the whole frame's coefficients,
// raises EOutOfMemory before anything is allocated when those and the raster together would pass
// the memory budget of a load (load_limits.h).
void EncodeJPEG(const TBitmap& image, const TEncodeOptions& options, TMemoryStream& output,
                TJPEGImage* progressOwner);

}  // namespace quorvex
