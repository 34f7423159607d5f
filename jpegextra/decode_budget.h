// What decoding one frame will take, worked out from its header before anything is allocated:
// the raster's form and size, the JPEG library's buffers, and the scan work it is allowed.
#pragma once

#include <cstdint>

// clang-format off
#include <cstdio>
#include <jpeglib.h>
// clang-format on

#include "jpegextra/jpeg_decoder.h"
#include "jpegextra/load_limits.h"

namespace quorvex {

// How the library's output becomes the raster.
struct TOutputPlan {
  bool Cmyk = false;      // four bytes per pixel from the library, converted row by row
  bool Gray = false;      // one component out of the library
  bool Quantize = false;  // 8-bit indexed through the library's colour map; for colour, in two
                          // passes over a buffer of the whole picture
};

// Gray files (and everything when Grayscale is on) go through the gray quantizer; colour comes
// out as 24-bit blue-green-red, or quantized for EightBitOutput. CMYK and YCCK cannot be
// quantized or turned gray by the library, so they always take the 24-bit conversion.
TOutputPlan PlanOutput(const jpeg_decompress_struct& info, const TDecodeOptions& options) noexcept;

// Bytes of the raster the decode fills: 8-bit or 24-bit rows padded to 32 bits.
uint64_t RasterBytes(const jpeg_decompress_struct& info, const TOutputPlan& plan) noexcept;

// The library's working memory for the frame: whole-frame coefficient buffers of multi-scan
// files, the picture buffer of two-pass quantization, and an allowance for row buffers and
// tables.
uint64_t LibraryBytes(const jpeg_decompress_struct& info, const TOutputPlan& plan) noexcept;

// Raises EOutOfMemory when the frame has more pixels than the limits allow, or when raster and
// library together would take more than the memory budget. Returns what the budget leaves the
// library once the raster is counted.
uint64_t CheckDecodeBudget(const jpeg_decompress_struct& info, const TOutputPlan& plan,
                           const TLoadLimits& limits);

// Blocks of one pass over the whole frame: every component, padded to whole MCUs as an
// interleaved scan covers them.
uint64_t FrameBlocks(const jpeg_decompress_struct& info) noexcept;

}  // namespace quorvex
