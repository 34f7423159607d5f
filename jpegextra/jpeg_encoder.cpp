#include "jpegextra/jpeg_encoder.h"

#include "imaging/errors.h"
#include "jpegextra/libjpeg_binding.h"

namespace quorvex {

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
    jpeg_start_compress(&info, TRUE);
  });
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
