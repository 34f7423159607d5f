// AVIF through libavif and its AV1 encoder; metadata as the Exif and XMP items and the colr
// property.
#include <algorithm>
#include <memory>
#include <string>

#include "imageformats/avif_library.h"
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
  if (result != AVIF_RESULT_OK) Fail(AvifLibrary().ResultToString(result));
}

struct ImageDeleter {
  void operator()(avifImage* image) const noexcept { AvifLibrary().ImageDestroy(image); }
};
struct EncoderDeleter {
  void operator()(avifEncoder* encoder) const noexcept { AvifLibrary().EncoderDestroy(encoder); }
};

struct OutputGuard {
  avifRWData data = AVIF_DATA_EMPTY;
  OutputGuard() = default;
  ~OutputGuard() { AvifLibrary().RWDataFree(&data); }
  OutputGuard(const OutputGuard&) = delete;
  OutputGuard& operator=(const OutputGuard&) = delete;
};

// Gray pixels are the luma plane itself: full range, no chroma planes.
void FillGray(avifImage& image, const TPackedPixels& pixels) {
  Check(AvifLibrary().ImageAllocatePlanes(&image, AVIF_PLANES_YUV));
  for (int32_t y = 0; y < pixels.Height; ++y) {
    const uint8_t* from = pixels.Bytes.data() + static_cast<size_t>(y) * pixels.RowBytes();
    std::copy(from, from + pixels.RowBytes(),
              image.yuvPlanes[AVIF_CHAN_Y] + y * image.yuvRowBytes[AVIF_CHAN_Y]);
  }
}

void FillColour(avifImage& image, const TPackedPixels& pixels) {
  avifRGBImage rgb;
  AvifLibrary().RGBImageSetDefaults(&rgb, &image);
  rgb.format = AVIF_RGB_FORMAT_RGB;
  rgb.depth = 8;
  // libavif only reads the pixels; its structure just lacks const.
  rgb.pixels = const_cast<uint8_t*>(pixels.Bytes.data());
  rgb.rowBytes = static_cast<uint32_t>(pixels.RowBytes());
  Check(AvifLibrary().ImageRGBToYUV(&image, &rgb));
}

}  // namespace

std::vector<uint8_t> EncodeAvif(const TBitmap& image, const TFormatOptions& options) {
  const TAvifLibrary& avif = AvifLibrary();
  const TPackedPixels pixels =
      PackPixels(image, options.Grayscale ? TPacking::Gray : TPacking::Rgb);
  std::unique_ptr<avifImage, ImageDeleter> picture(
      avif.ImageCreate(static_cast<uint32_t>(image.Width()), static_cast<uint32_t>(image.Height()),
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
    avif.ImageSetProfileICC(picture.get(), metadata.Icc.data(), metadata.Icc.size());
  if (!metadata.Exif.empty())
    avif.ImageSetMetadataExif(picture.get(), metadata.Exif.data(), metadata.Exif.size());
  if (!metadata.Xmp.empty())
    avif.ImageSetMetadataXMP(picture.get(), metadata.Xmp.data(), metadata.Xmp.size());

  std::unique_ptr<avifEncoder, EncoderDeleter> encoder(avif.EncoderCreate());
  if (!encoder) Fail("out of memory");
  encoder->codecChoice = AVIF_CODEC_CHOICE_AOM;
  // The component starts no threads of its own; the caller's thread encodes.
  encoder->maxThreads = 1;
  encoder->speed = kAvifSpeed;
  const int quantizer = AvifQuantizer(options.Quality);
  encoder->minQuantizer = quantizer;
  encoder->maxQuantizer = quantizer;
  OutputGuard output;
  Check(avif.EncoderWrite(encoder.get(), picture.get(), &output.data));
  return std::vector<uint8_t>(output.data.data, output.data.data + output.data.size);
}

}  // namespace quorvex
