// The system's JPEG image object: the codec's image with its metadata read on every load and
// written on save.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "jpegextra/jpeg_image.h"
#include "jpegextra/metadata/jpeg_metadata.h"

namespace quorvex {

class TJPEGImageExtra : public TJPEGImage {
 public:
  TFileInfo& FileInfo() noexcept { return metadata_.FileInfo; }
  const TFileInfo& FileInfo() const noexcept { return metadata_.FileInfo; }
  TExif& Exif() noexcept { return metadata_.Exif; }
  const TExif& Exif() const noexcept { return metadata_.Exif; }
  TICCProfile& IccProfile() noexcept { return metadata_.IccProfile; }
  const TICCProfile& IccProfile() const noexcept { return metadata_.IccProfile; }
  TEXIFThumbnail& Thumbnail() noexcept { return metadata_.Thumbnail; }
  const TEXIFThumbnail& Thumbnail() const noexcept { return metadata_.Thumbnail; }

  // The segments the last load kept byte for byte.
  TRawSegments& RawSegments() noexcept { return metadata_.Raw; }
  // Segments the save writes after the JFIF header, before those of the other save steps.
  void SetKeptSegments(std::vector<uint8_t> segments) noexcept {
    metadata_.KeptSegments = std::move(segments);
  }

  int32_t EstimatedQuality() const noexcept { return metadata_.EstimatedQuality; }
  double QualityVariance() const noexcept { return metadata_.QualityVariance; }

  bool UseIccProfile() const noexcept { return metadata_.UseIccProfile; }
  void SetUseIccProfile(bool value) noexcept { metadata_.UseIccProfile = value; }
  bool CreateThumbnail() const noexcept { return metadata_.CreateThumbnail; }
  void SetCreateThumbnail(bool value) noexcept { metadata_.CreateThumbnail = value; }
  bool ThumbnailOnly() const noexcept { return metadata_.Exif.ThumbnailOnly; }
  void SetThumbnailOnly(bool value) noexcept { metadata_.Exif.ThumbnailOnly = value; }

  // The save steps, in the order SaveToStream runs them.
  void WritePhotoshopSegment();
  void WriteIccSegments();
  // Decodes if needed; sets the EXIF block's HasThumbnail.
  void BuildExifThumbnail();
  void WriteExifSegment();

 protected:
  void ReadMetadata() override;
  void WriteMetadata() override;
  void AssignMetadata(const TJPEGImage& source) override;

 private:
  TJpegMetadata metadata_;
};

}  // namespace quorvex
