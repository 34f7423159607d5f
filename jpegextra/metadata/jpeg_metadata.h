// The metadata a JPEG object carries, with the marker walk that fills it on load and the save
// steps that put it back as segments.
#pragma once

#include <cstdint>

#include "jpegextra/memory_stream.h"
#include "jpegextra/metadata/exif.h"
#include "jpegextra/metadata/exif_thumbnail.h"
#include "jpegextra/metadata/file_info.h"
#include "jpegextra/metadata/icc_profile.h"

namespace quorvex {

// Horizontal and vertical resolution in dots per inch, as the JPEG object keeps them.
struct TResolution {
  uint16_t X = 0;
  uint16_t Y = 0;
};

class TJpegMetadata {
 public:
  TFileInfo FileInfo;
  TExif Exif;
  TICCProfile IccProfile;
  TEXIFThumbnail Thumbnail;
  int32_t EstimatedQuality = 0;  // 0..100 from the quantization tables; 0 = no estimate
  double QualityVariance = 0;    // variance of the table scaling percentages
  bool UseIccProfile = false;    // read APP2 ICC chunks on load, write them on save
  bool CreateThumbnail = false;  // build an EXIF thumbnail on save

  // Walks the marker segments of data from its first byte to the first start-of-scan: APP13 to
  // FileInfo, APP1 to Exif (an EXIF resolution then replaces a resolution of exactly 1 in dpi),
  // DQT to the quality estimate, APP2 to IccProfile when UseIccProfile is on. FileInfo,
  // IccProfile and the EXIF fields are emptied first. Leaves data at position 0.
  // Raises EReadError "Stream read error" for an APP1 segment whose declared length is 0 or 1
  // or whose payload runs past the end; dpi keeps what earlier segments set. Nothing else in
  // the data makes it fail.
  void ReadMetadata(TMemoryStream& data, TResolution& dpi);

  // Save steps. Each inserts its segment after the start-of-image marker and JFIF segment of
  // data, replacing a segment of the same kind that an earlier save or the loaded file put
  // before the first scan. Step 1: APP13 when FileInfo.HasPhotoshopData.
  void WritePhotoshopSegment(TMemoryStream& data) const;
  // Step 2: the APP2 chunks when UseIccProfile is on and the profile fits 255 chunks.
  void WriteIccSegments(TMemoryStream& data) const;
  // Step 4: APP1 when the EXIF fields are not empty. A block the writer rejects (EExifError,
  // EConvertError) or one too long for the 16-bit segment length is left out; the save goes on.
  void WriteExifSegment(TMemoryStream& data) const;

  // What Assign from another JPEG object copies: EXIF fields and DecodeUtf8, all of FileInfo,
  // the ICC profile bytes and CreateThumbnail.
  void Assign(const TJpegMetadata& other);
};

}  // namespace quorvex
