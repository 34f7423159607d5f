// The header-only parse of compressed JPEG data.
#pragma once

#include <cstdint>

#include "jpegextra/jpeg_decoder.h"
#include "jpegextra/load_limits.h"
#include "jpegextra/memory_stream.h"

namespace quorvex {

struct TJPEGHeader {
  int32_t Width = 0;
  int32_t Height = 0;
  bool Gray = false;         // single-component colour space
  bool Inks = false;         // CMYK or YCCK
  bool Progressive = false;  // more than one scan
  bool SawJFIF = false;
  uint8_t DensityUnit = 0;  // JFIF density; unit 0 when there is no JFIF segment
  uint16_t XDensity = 0;
  uint16_t YDensity = 0;
};

// Reads data from its start up to the first scan. Raises EJPEG for library errors, and
// EOutOfMemory for a frame that a decode with these options could not make within the limits
// (too many pixels, or raster and library buffers over the memory budget).
TJPEGHeader ReadJPEGHeader(TMemoryStream& data, const TDecodeOptions& options,
                           const TLoadLimits& limits);

}  // namespace quorvex
