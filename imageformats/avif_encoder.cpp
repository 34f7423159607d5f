// AVIF through libavif and its AV1 encoder; metadata as the Exif and XMP items and the colr
// property.
#include <avif/avif.h>

#include <algorithm>
#include <memory>
#include <string>

#include "imageformats/format_encoder.h"
#include "imageformats/format_quality.h"
#include "imageformats/packed_pixels.h"
#include "imaging/errors.h"

namespace quorvex {
namespace {

[[noreturn]] void Fail(const std::string& what) {
  throw EInvalidGraphic("AVIF encoding failed: " + what + ".");
}

void Check(avifResult result) {
  if (result != AVIF_RESULT_OK) Fail(avifResultToString(result));
}

struct ImageDeleter {
  void operator()(avifImage* image) const noexcept { avifImageDestroy(image); }
};
struct EncoderDeleter {
  void operator()(avifEncoder* encoder) const noexcept { avifEncoderDestroy(encoder); }
};

struct OutputGuard {
  avifRWData data = AVIF_DATA_EMPTY;
  OutputGuard() = default;
  ~OutputGuard() { avifRWDataFree(&data); }
  OutputGuard(const OutputGuard&) = delete;
  OutputGuard& operator=(const OutputGuard&) = delete;
};

// Gray pixels are the luma plane itself: full range, no chroma planes.
void FillGray(avifImage& image, const TPackedPixels& pixels) {
  Check(avifImageAllocatePlanes(&image, AVIF_PLANES_YUV));
  for (int32_t y = 0; y < pixels.Height; ++y) {
    const uint8_t* from = pixels.Bytes.data() + static_cast<size_t>(y) * pixels.RowBytes();
    std::copy(from, from + pixels.RowBytes(), image.yuvPlanes[AVIF_CHAN_Y] + y * image.yuvRowBytes[AVIF_CHAN_Y]);
  }
}

void FillColour(avifImage& image, const TPackedPixels& pixels) {
  avifRGBImage rgb;
  avifRGBImageSetDefaults(&rgb, &image);
  rgb.format = AVIF_RGB_FORMAT_RGB;
  rgb.depth = 8;
  // libavif only reads the pixels; its structure just lacks const.
  rgb.pixels = const_cast<uint8_t*>(pixels.Bytes.data());
  rgb.rowBytes = static_cast<uint32_t>(pixels.RowBytes());
  Check(avifImageRGBToYUV(&image, &rgb));
}

}  // namespace

std::vector<uint8_t> EncodeAvif(const TBitmap& image, const TFormatOptions& options) {
  const TPackedPixels pixels =
      PackPixels(image, options.Grayscale ? TPacking::Gray : TPacking::Rgb);
  std::unique_ptr<avifImage, ImageDeleter> picture(
      avifImageCreate(static_cast<uint32_t>(image.Width()), static_cast<uint32_t>(image.Height()),
                      8, options.Grayscale ? AVIF_PIXEL_FORMAT_YUV400 : AVIF_PIXEL_FORMAT_YUV420));
  if (!picture) Fail("out of memory");
  // sRGB, with the JPEG's own matrix and full range, so that decoders convert as for JPEG.
  picture->colorPrimaries = AVIF_COLOR_PRIMARIES_BT709;
  picture->transferCharacteristics = AVIF_TRANSFER_CHARACTERISTICS_SRGB;
  picture->matrixCoefficients = AVIF_MATRIX_COEFFICIENTS_BT601;
  picture->yuvRange = AVIF_RANGE_FULL;
  if (options.Grayscale)
    FillGray(*picture, pixels);
  else
    FillColour(*picture, pixels);

  const TFormatMetadata& metadata = options.Metadata;
  if (!metadata.Icc.empty())
    avifImageSetProfileICC(picture.get(), metadata.Icc.data(), metadata.Icc.size());
  if (!metadata.Exif.empty())
    avifImageSetMetadataExif(picture.get(), metadata.Exif.data(), metadata.Exif.size());
  if (!metadata.Xmp.empty())
    avifImageSetMetadataXMP(picture.get(), metadata.Xmp.data(), metadata.Xmp.size());

  std::unique_ptr<avifEncoder, EncoderDeleter> encoder(avifEncoderCreate());
  if (!encoder) Fail("out of memory");
  encoder->codecChoice = AVIF_CODEC_CHOICE_AOM;
  // The component starts no threads of its own; the caller's thread encodes.
  encoder->maxThreads = 1;
  encoder->speed = kAvifSpeed;
  const int quantizer = AvifQuantizer(options.Quality);
  encoder->minQuantizer = quantizer;
  encoder->maxQuantizer = quantizer;
  OutputGuard output;
  Check(avifEncoderWrite(encoder.get(), picture.get(), &output.data));
  return std::vector<uint8_t>(output.data.data, output.data.data + output.data.size);
}

}  // namespace quorvex
