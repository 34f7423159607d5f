// Builds without the colour management library: no profile is read and no pixel converted.
#include "jpegextra/color_transform.h"

namespace quorvex {

bool ColorManagementAvailable() noexcept {
  return false;
}

std::shared_ptr<const TColorTransform> TColorTransform::ToSrgb(std::span<const uint8_t>,
                                                               TColorKind) {
  return nullptr;
}

std::shared_ptr<const TColorTransform> TColorTransform::DefaultCmykToSrgb() {
  return nullptr;
}

struct TColorTransform::TShaper {};

TColorTransform::~TColorTransform() = default;

void TColorTransform::Convert(const uint8_t*, uint8_t*, int32_t) const noexcept {}

void TColorTransform::Apply(TBitmap&) const {}

std::string IccDescription(std::span<const uint8_t>, TColorKind) {
  return {};
}

}  // namespace quorvex
