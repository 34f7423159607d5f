// The output format: which one every output writes, the media type it is sent as, and the
// encoding of the formats other than JPEG with the object's settings and kept metadata.
#include <utility>

#include "component/resize_object.h"
#include "comserver/text_conversion.h"
#include "imageformats/format_encoder.h"
#include "imaging/errors.h"
#include "jpegextra/metadata/kept_metadata.h"

namespace quorvex {

BSTR TResize::OutputFormat() const {
  return Utf8ToNewBstr(FormatName(outputFormat_));
}

void TResize::SetOutputFormat(BSTR value) {
  const std::optional<TOutputFormat> format = ParseOutputFormat(BstrToUtf8(value));
  if (!format || !FormatAvailable(*format)) throw EInvalidGraphic("Unsupported output format.");
  outputFormat_ = *format;
}

BSTR TResize::ContentType() const {
  return Utf8ToNewBstr(MediaType(outputFormat_));
}

std::vector<uint8_t> TResize::EncodeInOutputFormat() const {
  TFormatOptions options;
  options.Quality = jpgQuality_;
  options.Grayscale = grayScale_;
  options.Dpi = static_cast<uint16_t>(dpi_);
  if (const std::optional<TMetadataParts> parts = KeptParts(); parts && metadata_) {
    TMetadataBlocks blocks = MetadataBlocks(*metadata_, OutputPicture(), *parts);
    options.Metadata = {std::move(blocks.Exif), std::move(blocks.Xmp), std::move(blocks.Icc)};
  }
  return EncodeInFormat(outputFormat_, image_, options);
}

}  // namespace quorvex
