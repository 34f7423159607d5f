// Decompression of JPEG data into a raster image.
#pragma once

#include "imaging/raster_image.h"
#include "jpegextra/color_transform.h"
#include "jpegextra/load_limits.h"
#include "jpegextra/memory_stream.h"

namespace quorvex {

class TJPEGImage;

struct TDecodeOptions {
  bool Grayscale = false;       // decode colour files to gray too
  bool EightBitOutput = false;  // quantize colour to a 236-colour palette
  // Decode at ScaleEighths/8 of the frame's size (1..8; each side rounded up) with the
  // library's scaled inverse DCT: a thumbnail needs neither the full raster nor its memory.
  uint8_t ScaleEighths = 8;
  // Converts the pixels to sRGB as they are decoded (the palette of 8-bit output) when it
  // fits the file's colour space; CMYK and YCCK files take it in place of the fixed formula.
  const TColorTransform* ToSrgb = nullptr;
};

// Fills raster (a new, empty image) from data: 24-bit blue-green-red, or 8-bit indexed with the
// library's colour map as palette when the output is gray or EightBitOutput is on (236 colours,
// Floyd-Steinberg dithering). CMYK and YCCK files always give 24-bit colour. The resolution is
// set from the JFIF density. The raster has the scaled size; the limits still apply to the full
// frame, so a scaled decode admits exactly the files a full one does. progressOwner, if given,
// receives progress reports. Within limits: a frame over the pixel limit, or whose raster and
// library buffers would exceed the memory budget, fails with EOutOfMemory before anything is
// allocated; the library fails any allocation beyond the budget, and scans beyond the scan limits
// stop the decode (EJPEG).
void DecodeJPEG(TMemoryStream& data, const TDecodeOptions& options, const TLoadLimits& limits,
                TBMPImage& raster, TJPEGImage* progressOwner);

}  // namespace quorvex
