#include "jpegextra/metadata/jpeg_image_extra.h"

#include "jpegextra/metadata/exif_thumbnail_builder.h"

namespace quorvex {
namespace {

// Hands the walk's resolution back to the image on every exit, so that what earlier segments
// set survives a failure in a later one.
class ResolutionCommit {
 public:
  ResolutionCommit(TJPEGImage& image, TResolution& dpi) : image_(image), dpi_(dpi) {}
  ~ResolutionCommit() {
    image_.SetXDPI(dpi_.X);
    image_.SetYDPI(dpi_.Y);
  }
  ResolutionCommit(const ResolutionCommit&) = delete;
  ResolutionCommit& operator=(const ResolutionCommit&) = delete;

 private:
  TJPEGImage& image_;
  TResolution& dpi_;
};

}  // namespace

void TJPEGImageExtra::ReadMetadata() {
  TMemoryStream* data = Data();
  if (data == nullptr) return;
  TResolution dpi{static_cast<uint16_t>(GetXDPI()), static_cast<uint16_t>(GetYDPI())};
  ResolutionCommit commit(*this, dpi);
  metadata_.ReadMetadata(*data, dpi);
}

void TJPEGImageExtra::WriteMetadata() {
  TMemoryStream* data = Data();
  if (data == nullptr) return;
  metadata_.WriteKeptSegments(*data);
  WritePhotoshopSegment();
  WriteIccSegments();
  BuildExifThumbnail();
  WriteExifSegment();
}

void TJPEGImageExtra::AssignMetadata(const TJPEGImage& source) {
  if (const auto* extra = dynamic_cast<const TJPEGImageExtra*>(&source))
    metadata_.Assign(extra->metadata_);
}

void TJPEGImageExtra::WritePhotoshopSegment() {
  if (TMemoryStream* data = Data()) metadata_.WritePhotoshopSegment(*data);
}

void TJPEGImageExtra::WriteIccSegments() {
  if (TMemoryStream* data = Data()) metadata_.WriteIccSegments(*data);
}

void TJPEGImageExtra::BuildExifThumbnail() {
  if (!metadata_.CreateThumbnail) return;
  quorvex::BuildExifThumbnail(Decode(), metadata_.Thumbnail);
  metadata_.Exif.HasThumbnail = true;
}

void TJPEGImageExtra::WriteExifSegment() {
  if (TMemoryStream* data = Data()) metadata_.WriteExifSegment(*data);
}

}  // namespace quorvex
