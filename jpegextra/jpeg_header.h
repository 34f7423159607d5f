// The header-only parse of compressed JPEG data.
#pragma once

#include <cstdint>

#include "jpegextra/memory_stream.h"

namespace quorvex {

struct TJPEGHeader {
  int32_t Width = 0;
  int32_t Height = 0;
  bool Gray = false;         // single-component colour space
  bool Progressive = false;  // more than one scan
  bool SawJFIF = false;
  uint8_t DensityUnit = 0;  // JFIF density; unit 0 when there is no JFIF segment
  uint16_t XDensity = 0;
  uint16_t YDensity = 0;
};

// Reads data from its start up to the first scan. Raises EJPEG for library errors, and
// EOutOfMemory for a frame of more than kMaxRasterPixels pixels, which is never decoded.
TJPEGHeader ReadJPEGHeader(TMemoryStream& data);

// The decompression-bomb guard shared by the header parse and decoding.
void CheckFrameSize(uint32_t width, uint32_t height);

}  // namespace quorvex
