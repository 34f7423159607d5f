// Colour on load: the embedded profile's description and, with ConvertToSRGB on, the
// conversion of the pixels to sRGB. The conversion never fails a load: a profile that cannot
// be used leaves the pixels as decoded.
#include <memory>
#include <utility>

#include "component/resize_object.h"
#include "imaging/errors.h"
#include "jpegextra/color_transform.h"
#include "jpegextra/metadata/jpeg_image_extra.h"

namespace quorvex {

void TResize::SetConvertToSRGB(VARIANT_BOOL value) {
  if (value != 0 && !ColorManagementAvailable())
    throw EInvalidGraphic("Colour conversion is not available in this build.");
  convertToSrgb_ = value != 0;
}

TResize::TColorLoad TResize::PlanColor(TJPEGImageExtra& jpeg, TThumbnailLoad* thumbnail) {
  TColorLoad color;
  const TColorKind kind = jpeg.ColorKind();
  const std::span<const uint8_t> profile = jpeg.IccProfile().ProfileData.Bytes();
  color.Description = IccDescription(profile, kind);
  if (!convertToSrgb_) return color;
  std::shared_ptr<const TColorTransform> toSrgb;
  if (!profile.empty()) {
    toSrgb = TColorTransform::ToSrgb(profile, kind);
    if (!toSrgb) color.Description.clear();
  } else if (kind == TColorKind::Cmyk) {
    toSrgb = TColorTransform::DefaultCmykToSrgb();
  }
  if (!toSrgb) return color;
  color.Converted = true;
  // A scaled thumbnail converts the few pixels it ends with: the result differs from
  // converting before the shrink by far less than the conversion's own accuracy. Inks have to
  // become colours while they are decoded.
  if (thumbnail != nullptr && thumbnail->Scaled && kind != TColorKind::Cmyk)
    thumbnail->ToSrgb = std::move(toSrgb);
  else
    jpeg.SetColorTransform(std::move(toSrgb));
  return color;
}

}  // namespace quorvex
