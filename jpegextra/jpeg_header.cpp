#include "jpegextra/jpeg_header.h"

#include "imaging/errors.h"
#include "imaging/raster_image.h"
#include "jpegextra/libjpeg_binding.h"

namespace quorvex {

void CheckFrameSize(uint32_t width, uint32_t height) {
  if (static_cast<int64_t>(width) * height > kMaxRasterPixels) throw EOutOfMemory();
}

TJPEGHeader ReadJPEGHeader(TMemoryStream& data) {
  jpeglib::Decompressor decompressor(data, nullptr);
  jpeg_decompress_struct& info = decompressor.Info();
  bool multipleScans = false;
  decompressor.Run([&] {
    jpeg_read_header(&info, TRUE);
    multipleScans = jpeg_has_multiple_scans(&info);
  });
  CheckFrameSize(info.image_width, info.image_height);

  TJPEGHeader header;
  header.Width = static_cast<int32_t>(info.image_width);
  header.Height = static_cast<int32_t>(info.image_height);
  header.Gray = info.jpeg_color_space == JCS_GRAYSCALE;
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
