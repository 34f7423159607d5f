#include "jpegextra/jpeg_encoder.h"

#include <algorithm>

#include "imaging/errors.h"
#include "jpegextra/libjpeg_binding.h"
#include "jpegextra/load_limits.h"

namespace quorvex {
namespace {

uint64_t CeilDiv(uint64_t a, uint64_t b) noexcept {
  return (a + b - 1) / b;
}

// The whole-frame coefficient buffer the library keeps when it writes several scans or
// optimizes its Huffman tables: every block of every component, padded to the sampling
// factors, as the library sizes it when compression starts.
uint64_t CoefficientBytes(const jpeg_compress_struct& info) noexcept {
  int maxH = 1, maxV = 1;
  for (int i = 0; i < info.num_components; ++i) {
    maxH = std::max(maxH, info.comp_info[i].h_samp_factor);
    maxV = std::max(maxV, info.comp_info[i].v_samp_factor);
  }
  uint64_t bytes = 0;
  for (int i = 0; i < info.num_components; ++i) {
    const jpeg_component_info& c = info.comp_info[i];
    const uint64_t h = static_cast<uint64_t>(c.h_samp_factor);
    const uint64_t v = static_cast<uint64_t>(c.v_samp_factor);
    const uint64_t wide = CeilDiv(CeilDiv(uint64_t{info.image_width} * h, maxH), DCTSIZE);
    const uint64_t high = CeilDiv(CeilDiv(uint64_t{info.image_height} * v, maxV), DCTSIZE);
    bytes += CeilDiv(wide, h) * h * CeilDiv(high, v) * v * sizeof(JBLOCK);
  }
  return bytes;
}

}  // namespace

void EncodeJPEG(const TBitmap& image, const TEncodeOptions& options, TMemoryStream& output,
                TJPEGImage* progressOwner) {
  const TPixelFormat expected = options.Grayscale ? TPixelFormat::pf8bit : TPixelFormat::pf24bit;
  if (image.PixelFormat() != expected)
    throw EInvalidGraphicOperation("Unsupported pixel format for encoding");

  jpeglib::Compressor compressor(output, progressOwner);
  jpeg_compress_struct& info = compressor.Info();
  info.image_width = static_cast<JDIMENSION>(image.Width());
  info.image_height = static_cast<JDIMENSION>(image.Height());
  // Rows go to the library as the raster holds them: gray levels, or blue-green-red.
  info.input_components = options.Grayscale ? 1 : 3;
  info.in_color_space = options.Grayscale ? JCS_GRAYSCALE : JCS_EXT_BGR;
  compressor.Run([&] {
    jpeg_set_defaults(&info);
    info.dct_method = JDCT_FLOAT;
    jpeg_set_quality(&info, options.Quality, TRUE);
    if (options.Grayscale) jpeg_set_colorspace(&info, JCS_GRAYSCALE);
    if (options.Progressive) jpeg_simple_progression(&info);
    if (options.OptimizeCoding) info.optimize_coding = TRUE;
  });
  // Several scans or optimized tables hold the whole frame's coefficients besides the raster
  // being saved: refused before the library allocates them when both would pass the budget.
  if (info.num_scans > 1 || info.optimize_coding) {
    const uint64_t raster = uint64_t{image.Stride()} * static_cast<uint64_t>(image.Height());
    if (raster + CoefficientBytes(info) > kLoadMemoryBudget) throw EOutOfMemory();
  }
  compressor.Run([&] { jpeg_start_compress(&info, TRUE); });
  compressor.Run([&] {
    while (info.next_scanline < info.image_height) {
      // The library only reads the row; its API just lacks const.
      JSAMPROW row = const_cast<JSAMPLE*>(image.ScanLine(static_cast<int32_t>(info.next_scanline)));
      if (jpeg_write_scanlines(&info, &row, 1) != 1) break;
    }
    jpeg_finish_compress(&info);
  });
}

}  // namespace quorvex
