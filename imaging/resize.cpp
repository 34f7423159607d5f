#include "imaging/resize.h"

#include "imaging/errors.h"

namespace quorvex {

void ResizeBitmap(int32_t newWidth, int32_t newHeight, std::unique_ptr<TBitmap>& result,
                  const TBitmap& source, TStretchMode colourMode) {
  // When the slot holds the source itself, it must outlive the stretch.
  std::unique_ptr<TBitmap> held = std::move(result);
  if (held.get() != &source) held.reset();

  result = std::make_unique<TBitmap>();
  result->SetPixelFormat(source.PixelFormat());
  // The stretch divides the new width by the new height and the source width by its height.
  if (newHeight == 0 || source.Height() == 0) throw EDivByZero();

  result->CopyFrom(source);
  // Both sides at once: setting them one after the other could ask for an intermediate raster
  // beyond the size limit although the result itself is within it.
  result->SetSize(newWidth, newHeight);
  // Same size: the copy already is the stretch in either mode.
  if (newWidth == source.Width() && newHeight == source.Height()) return;
  StretchBitmap(
      *result, source,
      source.PixelFormat() == TPixelFormat::pf24bit ? colourMode : TStretchMode::ColorOnColor);
}

}  // namespace quorvex
