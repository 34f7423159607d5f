// The save steps: each puts one kind of metadata segment after the JFIF header of the data.
#include <algorithm>
#include <limits>
#include <span>
#include <string_view>

#include "jpegextra/metadata/jpeg_metadata.h"
#include "jpegextra/metadata/metadata_errors.h"
#include "jpegextra/metadata/photoshop_segment.h"
#include "jpegextra/metadata/segment_edit.h"

namespace quorvex {
namespace {

constexpr uint8_t kApp1 = 0xE1;
constexpr uint8_t kApp2 = 0xE2;
constexpr uint8_t kApp13 = 0xED;

bool StartsWith(std::span<const uint8_t> payload, std::string_view prefix) {
  return payload.size() >= prefix.size() &&
         std::equal(prefix.begin(), prefix.end(), payload.begin(),
                    [](char a, uint8_t b) { return static_cast<uint8_t>(a) == b; });
}

// Takes out earlier segments of one kind, then inserts the new bytes.
void ReplaceSegments(TMemoryStream& data, uint8_t code, std::string_view signature,
                     std::span<const uint8_t> segments) {
  RemoveSegments(data, [&](uint8_t marker, std::span<const uint8_t> payload) {
    return marker == code && StartsWith(payload, signature);
  });
  InsertSegment(data, segments);
}

}  // namespace

void TJpegMetadata::WriteKeptSegments(TMemoryStream& data) {
  // Once in the data they stay there: a second save must not add them again.
  InsertSegment(data, KeptSegments);
  KeptSegments.clear();
}

void TJpegMetadata::WritePhotoshopSegment(TMemoryStream& data) const {
  if (!FileInfo.HasPhotoshopData) return;
  TMemoryStream segment;
  FileInfo.BuildSegment().WriteSegment(segment);
  if (segment.Size() == 0) return;  // too long for its length field
  ReplaceSegments(data, kApp13, std::string_view("Photoshop 3.0\0", 14), segment.Bytes());
}

void TJpegMetadata::WriteIccSegments(TMemoryStream& data) const {
  if (!UseIccProfile) return;
  const std::vector<uint8_t> chunks = IccSegments(IccProfile);
  if (chunks.empty()) return;
  ReplaceSegments(data, kApp2, std::string_view("ICC_PROFILE\0", 12), chunks);
}

namespace {

// The EXIF block with the given thumbnail; empty when the fields cannot be written.
TMemoryStream ExifBlock(const TExif& exif, const TEXIFThumbnail& thumbnail) {
  TMemoryStream block;
  try {
    exif.WriteExif(block, thumbnail);
  } catch (const EExifError&) {
    block.Clear();
  } catch (const EConvertError&) {
    block.Clear();
  }
  return block;
}

}  // namespace

void TJpegMetadata::WriteExifSegment(TMemoryStream& data) const {
  if (Exif.Fields.Empty()) return;
  constexpr size_t kMaxLength = std::numeric_limits<uint16_t>::max();
  TMemoryStream block = ExifBlock(Exif, Thumbnail);
  // Fields that fill the segment nearly to its limit leave no room for a thumbnail (the block
  // is then too long, or its offsets overflow and it is not written at all); the fields matter
  // more than a small copy of the picture, so they are written without it.
  if ((block.Size() == 0 || block.Size() + 2 > kMaxLength) && !Thumbnail.Fields.Empty())
    block = ExifBlock(Exif, TEXIFThumbnail());
  const size_t length = block.Size() + 2;
  if (block.Size() == 0 || length > kMaxLength) return;
  std::vector<uint8_t> segment = {0xFF, kApp1, static_cast<uint8_t>(length >> 8),
                                  static_cast<uint8_t>(length)};
  segment.insert(segment.end(), block.Bytes().begin(), block.Bytes().end());
  ReplaceSegments(data, kApp1, std::string_view("Exif\0\0", 6), segment);
}

void TJpegMetadata::Assign(const TJpegMetadata& other) {
  if (&other == this) return;
  Exif.Assign(other.Exif);
  FileInfo.Assign(other.FileInfo);
  IccProfile.Assign(other.IccProfile);
  CreateThumbnail = other.CreateThumbnail;
}

}  // namespace quorvex
