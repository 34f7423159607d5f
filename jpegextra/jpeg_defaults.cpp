#include "jpegextra/jpeg_defaults.h"

namespace quorvex {

namespace {
TJPEGDefaults gDefaults;
}  // namespace

const TJPEGDefaults& JPEGDefaults() noexcept {
  return gDefaults;
}

void SetJPEGDefaults(const TJPEGDefaults& defaults) noexcept {
  gDefaults = defaults;
}

}  // namespace quorvex
