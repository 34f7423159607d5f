#include "jpegextra/metadata/exif_thumbnail_builder.h"

#include <algorithm>
#include <string>

#include "imaging/stretch.h"
#include "jpegextra/jpeg_image.h"
#include "jpegextra/metadata/segment_edit.h"

namespace quorvex {
namespace {

constexpr int32_t kLongSide = 160;
constexpr uint8_t kThumbnailQuality = 90;

}  // namespace

TThumbnailSize ThumbnailSize(int32_t width, int32_t height) noexcept {
  const int64_t w = std::max(width, 0), h = std::max(height, 0);
  int64_t tw, th;
  if (w > h) {
    if (w / 10 < kLongSide + 1) {
      tw = w / 10;
      th = h / 10;
    } else {
      tw = kLongSide;
      th = h * kLongSide / w;
    }
  } else if (h / 10 < kLongSide + 1) {
    tw = w / 10;
    th = h / 10;
  } else {
    tw = w * kLongSide / h;
    th = kLongSide;
  }
  // Pictures under 10 pixels, or very narrow ones, would get no pixels at all.
  return {static_cast<int32_t>(std::max<int64_t>(tw, 1)),
          static_cast<int32_t>(std::max<int64_t>(th, 1))};
}

void BuildExifThumbnail(const TBitmap& raster, TEXIFThumbnail& thumbnail) {
  const TThumbnailSize size = ThumbnailSize(raster.Width(), raster.Height());
  TBitmap small;
  small.SetPixelFormat(TPixelFormat::pf24bit);
  small.SetSize(size.Width, size.Height);
  if (raster.PixelFormat() == TPixelFormat::pf24bit) {
    StretchBitmap(small, raster, TStretchMode::Halftone);
  } else {
    // Indexed pictures are averaged in colour too, not thinned out pixel by pixel.
    TBitmap colour;
    colour.CopyFrom(raster);
    colour.SetPixelFormat(TPixelFormat::pf24bit);
    StretchBitmap(small, colour, TStretchMode::Halftone);
  }

  TJPEGImage encoder;
  encoder.Assign(small);
  encoder.SetQuality(kThumbnailQuality);
  encoder.SetGrayscale(false);
  encoder.SetProgressive(false);
  TMemoryStream encoded;
  encoder.SaveToStream(encoded);
  const std::span<const uint8_t> bytes = encoded.Bytes();
  // The encoder's start-of-image marker and JFIF segment give way to a bare start-of-image.
  const size_t body = MetadataInsertionPoint(bytes).value_or(0);
  thumbnail.Clear();
  static constexpr uint8_t kStartOfImage[2] = {0xFF, 0xD8};
  thumbnail.JpegData.Write(kStartOfImage, 2);
  thumbnail.JpegData.Write(bytes.data() + body, bytes.size() - body);
  thumbnail.JpegData.Seek(0);

  thumbnail.EntryCount = 7;
  for (const char* line : {"Compression=6", "Orientation=1", "XResolution=72", "YResolution=72",
                           "ResolutionUnit=2", "JpegInterchangeFormat=0"})
    thumbnail.Fields.Add(line);
  thumbnail.Fields.Add("JpegInterchangeFormatLength", std::to_string(thumbnail.JpegData.Size()));
}

}  // namespace quorvex
