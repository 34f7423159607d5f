// Building the EXIF thumbnail from a decoded picture.
#pragma once

#include <cstdint>

#include "imaging/raster_image.h"
#include "jpegextra/metadata/exif_thumbnail.h"

namespace quorvex {

struct TThumbnailSize {
  int32_t Width = 0;
  int32_t Height = 0;
  friend bool operator==(const TThumbnailSize&, const TThumbnailSize&) = default;
};

// A tenth of the picture up to 1609 pixels on the longer side, else 160 pixels on that side
// (integer division throughout); never less than 1 pixel either way.
TThumbnailSize ThumbnailSize(int32_t width, int32_t height) noexcept;

// Shrinks raster to the thumbnail size (area averaging in 24-bit colour), encodes it as a
// baseline colour JPEG at quality 90 without its JFIF segment, and fills the holder: JpegData,
// EntryCount 7 and the seven directory lines. Codec errors propagate.
void BuildExifThumbnail(const TBitmap& raster, TEXIFThumbnail& thumbnail);

}  // namespace quorvex
