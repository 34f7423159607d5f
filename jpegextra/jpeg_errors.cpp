#include "jpegextra/jpeg_errors.h"

namespace quorvex {

EJPEG::EJPEG(int code) : EInvalidGraphic("JPEG error #" + std::to_string(code)), code_(code) {}

}  // namespace quorvex
