// The AVIF encoder of a build without an AV1 encoder library.
#include "imageformats/format_encoder.h"
#include "imaging/errors.h"

namespace quorvex {

std::vector<uint8_t> EncodeAvif(const TBitmap&, const TFormatOptions&) {
  throw EInvalidGraphic("AVIF output is not available in this build.");
}

}  // namespace quorvex
