#include "imageformats/format_encoder.h"
#include "imaging/errors.h"

namespace quorvex {

std::vector<uint8_t> EncodeInFormat(TOutputFormat format, const TBitmap& image,
                                    const TFormatOptions& options) {
  switch (format) {
    case TOutputFormat::WebP:
      return EncodeWebP(image, options);
    case TOutputFormat::Avif:
      return EncodeAvif(image, options);
    case TOutputFormat::Png:
      return EncodePng(image, options);
    case TOutputFormat::Jpeg:
      break;
  }
  throw EInvalidGraphicOperation("JPEG has an encoder of its own");
}

}  // namespace quorvex
