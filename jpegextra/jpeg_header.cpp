#include "jpegextra/jpeg_header.h"

#include "jpegextra/decode_budget.h"
#include "jpegextra/libjpeg_binding.h"

namespace quorvex {

TJPEGHeader ReadJPEGHeader(TMemoryStream& data, const TDecodeOptions& options,
                           const TLoadLimits& limits) {
  jpeglib::Decompressor decompressor(data, nullptr);
  jpeg_decompress_struct& info = decompressor.Info();
  bool multipleScans = false;
  decompressor.Run([&] {
    jpeg_read_header(&info, TRUE);
    multipleScans = jpeg_has_multiple_scans(&info);
  });
  CheckDecodeBudget(info, PlanOutput(info, options), limits);

  TJPEGHeader header;
  header.Width = static_cast<int32_t>(info.image_width);
  header.Height = static_cast<int32_t>(info.image_height);
  header.Gray = info.jpeg_color_space == JCS_GRAYSCALE;
  header.Inks = info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK;
  header.Progressive = multipleScans;
  header.SawJFIF = info.saw_JFIF_marker;
  if (header.SawJFIF) {
    header.DensityUnit = info.density_unit;
    header.XDensity = info.X_density;
    header.YDensity = info.Y_density;
  }
  return header;
}

}  // namespace quorvex
