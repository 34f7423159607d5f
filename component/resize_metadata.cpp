// What a load keeps besides the pixels (orientation and metadata) and how output writes it back.
#include <algorithm>
#include <memory>
#include <utility>

#include "component/resize_object.h"
#include "imaging/errors.h"
#include "imaging/orientation.h"
#include "jpegextra/metadata/kept_metadata.h"

namespace quorvex {

bool TResize::OrientLoaded(TBitmap& decoded, LONG orientation) const {
  if (!autoOrient_ || orientation < 2 || orientation > 8) return false;
  OrientUpright(decoded, static_cast<int>(orientation));
  return true;
}

void TResize::FinishLoad(TJPEGImageExtra& jpeg, TBitmap& decoded, TColorLoad& color) {
  TPictureFacts facts = PictureFactsOf(jpeg);
  auto kept = std::make_shared<TKeptMetadata>(TakeMetadata(jpeg));
  const LONG orientation = RecordedOrientation(kept->Exif);
  if (OrientLoaded(decoded, orientation)) MarkUpright(*kept);
  // Nothing below fails: the object changes all at once or not at all.
  dpi_ = static_cast<LONG>(jpeg.GetXDPI());
  grayScale_ = jpeg.GetGrayscale();
  sourceQuality_ = std::max<LONG>(jpeg.EstimatedQuality(), 0);
  orientation_ = orientation;
  pictureFacts_ = std::move(facts);
  metadata_ = std::move(kept);
  colorProfile_.swap(color.Description);
  srgbConverted_ = color.Converted;
  ReplaceImage(decoded);
}

std::string TResize::Metadata() const {
  if (!metadata_) return "{}";
  return MetadataJson(*metadata_, pictureFacts_, colorProfile_);
}

std::string TResize::KeepMetadataParts() const {
  return keptParts_ ? MetadataPartsText(*keptParts_) : std::string();
}

void TResize::SetKeepMetadataParts(std::string_view list) {
  const std::optional<TMetadataParts> parts = ParseMetadataParts(list);
  if (!parts)
    throw EInvalidGraphic("KeepMetadataParts takes a comma list of exif, gps, iptc, xmp and icc.");
  keptParts_ = parts->Any() ? parts : std::nullopt;
}

std::optional<TMetadataParts> TResize::KeptParts() const {
  std::optional<TMetadataParts> parts = keptParts_;
  if (!parts && keepMetadata_) parts = TMetadataParts::All();
  // Converted pixels are sRGB, which untagged pictures are taken to be: the source's profile
  // would now mislead, and an sRGB one would only add bytes.
  if (parts && srgbConverted_) parts->Icc = false;
  return parts;
}

TOutputPicture TResize::OutputPicture() const {
  return {image_.Width(), image_.Height(), static_cast<uint16_t>(dpi_), grayScale_, srgbConverted_};
}

void TResize::PutKeptMetadata(TJPEGImageExtra& encoder) const {
  if (const std::optional<TMetadataParts> parts = KeptParts(); parts && metadata_)
    PutMetadata(*metadata_, OutputPicture(), *parts, encoder);
}

}  // namespace quorvex
