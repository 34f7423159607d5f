// The metadata of a loaded picture as JSON text for people and scripts: the EXIF, GPS, IPTC,
// XMP and ICC fields with values as a person reads them, and what the picture is as a JPEG.
#pragma once

#include <cstdint>
#include <string>

#include "jpegextra/metadata/jpeg_image_extra.h"
#include "jpegextra/metadata/kept_metadata.h"

namespace quorvex {

// What a load found about the picture itself, beyond its fields.
struct TPictureFacts {
  std::string ColorSpace;  // "Gray", "YCbCr", "RGB", "CMYK" or "YCCK"
  bool Progressive = false;
  std::string ChromaSampling;  // "4:2:0" and the like; "" for one component or an odd layout
  int32_t Quality = 0;         // the estimate from the quantization tables, 0 when unknown
};

// Read from the loaded object's header and compressed bytes; never raises.
TPictureFacts PictureFactsOf(const TJPEGImageExtra& jpeg);

// One JSON object: the facts, then "EXIF", "GPS", "IPTC", "XMP" and "ICC" objects for the
// parts the picture has. Versions read as text ("0232"), rationals as numbers, GPS positions in
// signed decimal degrees, dates as ISO 8601. Text that is not UTF-8 is replaced, never raised.
std::string MetadataJson(const TKeptMetadata& kept, const TPictureFacts& facts,
                         const std::string& profileDescription);

}  // namespace quorvex
