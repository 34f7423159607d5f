// What a load keeps besides the pixels (orientation and metadata) and how output writes it back.
#include <algorithm>
#include <memory>
#include <utility>

#include "component/resize_object.h"
#include "imaging/orientation.h"
#include "jpegextra/metadata/kept_metadata.h"

namespace quorvex {

bool TResize::OrientLoaded(TBitmap& decoded, LONG orientation) const {
  if (!autoOrient_ || orientation < 2 || orientation > 8) return false;
  OrientUpright(decoded, static_cast<int>(orientation));
  return true;
}

void TResize::FinishLoad(TJPEGImageExtra& jpeg, TBitmap& decoded) {
  auto kept = std::make_shared<TKeptMetadata>(TakeMetadata(jpeg));
  const LONG orientation = RecordedOrientation(kept->Exif);
  if (OrientLoaded(decoded, orientation)) MarkUpright(*kept);
  // Nothing below fails: the object changes all at once or not at all.
  dpi_ = static_cast<LONG>(jpeg.GetXDPI());
  grayScale_ = jpeg.GetGrayscale();
  sourceQuality_ = std::max<LONG>(jpeg.EstimatedQuality(), 0);
  orientation_ = orientation;
  metadata_ = std::move(kept);
  ReplaceImage(decoded);
}

void TResize::PutKeptMetadata(TJPEGImageExtra& encoder) const {
  if (!keepMetadata_ || !metadata_) return;
  PutMetadata(*metadata_,
              {image_.Width(), image_.Height(), static_cast<uint16_t>(dpi_), grayScale_}, encoder);
}

}  // namespace quorvex
