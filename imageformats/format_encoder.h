// Encoding a raster image as WebP, AVIF or PNG, with the metadata each format has a place for.
// The codecs know nothing of JPEG or of the component: they get pixels, settings and metadata
// blocks already made.
#pragma once

#include <cstdint>
#include <vector>

#include "imageformats/output_format.h"
#include "imaging/raster_image.h"

namespace quorvex {

// Metadata blocks to carry, each empty when there is none.
struct TFormatMetadata {
  std::vector<uint8_t> Exif;  // a TIFF structure, from its byte-order mark on
  std::vector<uint8_t> Xmp;   // an XMP packet
  std::vector<uint8_t> Icc;   // an ICC profile
};

struct TFormatOptions {
  int Quality = 90;  // 0..100 on the JPEG scale; mapped per format (format_quality.h)
  bool Grayscale = false;
  uint16_t Dpi = 0;  // 0 = none recorded
  TFormatMetadata Metadata;
};

// The encoders take a 24-bit blue-green-red or 8-bit indexed image and write it whole. Grayscale
// writes the samples (B + G + R) div 3, as the JPEG encoder does. A failure of the library raises
// EInvalidGraphic with a message that names the format.
std::vector<uint8_t> EncodeWebP(const TBitmap& image, const TFormatOptions& options);
std::vector<uint8_t> EncodeAvif(const TBitmap& image, const TFormatOptions& options);
std::vector<uint8_t> EncodePng(const TBitmap& image, const TFormatOptions& options);

// One of the three above by format; not for JPEG, which has an encoder of its own.
std::vector<uint8_t> EncodeInFormat(TOutputFormat format, const TBitmap& image,
                                    const TFormatOptions& options);

}  // namespace quorvex
