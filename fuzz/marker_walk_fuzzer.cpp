// Fuzzes the whole marker walk that runs after every JPEG load (EXIF, Photoshop, quality
// tables, ICC chunks, the resolution rule) with arbitrary bytes, then runs the save steps over
// the same bytes, which finds and replaces earlier metadata segments. Only EReadError from an
// APP1 segment that runs past the end may come out of the walk; what it read must give a JSON
// object as the object's Metadata (never an exception). Seeds: the sample files of
// tests/data/metadata (without the large ICC one), one with an exiftool thumbnail, and cjpeg
// output at qualities 25 and 100.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "jpegextra/metadata/jpeg_metadata.h"
#include "jpegextra/metadata/kept_metadata.h"
#include "jpegextra/metadata/metadata_json.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace quorvex;
  TJpegMetadata metadata;
  metadata.UseIccProfile = size > 0 && (data[0] & 1) == 0;
  TMemoryStream bytes(std::vector<uint8_t>(data, data + size));
  TResolution dpi{1, 1};
  try {
    metadata.ReadMetadata(bytes, dpi);
  } catch (const EReadError&) {
    return 0;
  }
  if (bytes.Position() != 0 || bytes.Size() != size) __builtin_trap();
  if (metadata.EstimatedQuality < 0 || metadata.EstimatedQuality > 100) __builtin_trap();
  {
    TKeptMetadata kept;
    kept.Exif.Assign(metadata.Exif);
    kept.Raw = metadata.Raw;
    kept.FileInfo = metadata.FileInfo;
    kept.IccProfile.Assign(metadata.IccProfile);
    const std::string json = MetadataJson(kept, TPictureFacts{}, "");
    if (json.empty() || json.front() != '{' || json.back() != '}') __builtin_trap();
  }

  // Keep the save steps to small inputs: each copies the data.
  if (size > 16384) return 0;
  metadata.FileInfo.HasPhotoshopData = true;
  metadata.UseIccProfile = true;
  metadata.WritePhotoshopSegment(bytes);
  metadata.WriteIccSegments(bytes);
  metadata.WriteExifSegment(bytes);
  if (bytes.Position() != 0) __builtin_trap();
  return 0;
}
