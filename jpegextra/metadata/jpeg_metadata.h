// The metadata a JPEG object carries, with the marker walk that fills it on load and the save
// steps that put it back as segments.
#pragma once

#include <cstdint>
#include <vector>

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

// Segments a load keeps byte for byte, so that a picture made from it can carry them on: the
// payloads, without marker and length.
struct TRawSegments {
  std::vector<uint8_t> Exif;                      // the first APP1 with a valid EXIF header
  std::vector<uint8_t> Xmp;                       // the first APP1 XMP packet
  std::vector<std::vector<uint8_t>> ExtendedXmp;  // APP1 extended-XMP chunks, in file order
  std::vector<std::vector<uint8_t>> Photoshop;    // APP13 "Photoshop 3.0" segments, in order
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
  TRawSegments Raw;              // what the last load kept byte for byte
  // Complete segments (markers and lengths included) that the save puts after the JFIF header
  // before the other save steps run: the metadata of another picture, made ready for this one.
  std::vector<uint8_t> KeptSegments;

  // Walks the marker segments of data from its first byte to the first start-of-scan: APP13 to
  // FileInfo, the first EXIF APP1 to Exif (every EXIF resolution in file order then replaces a
  // resolution of exactly 1 in dpi), DQT to the quality estimate, APP2 to IccProfile when
  // UseIccProfile is on (a profile only when every chunk 1..N came exactly once). Keeps the
  // first EXIF payload, the XMP packets and the APP13 segments in Raw, within the budgets of
  // metadata_budget.h. FileInfo, IccProfile, Raw and the EXIF fields are emptied first. Leaves
  // data at position 0.
  // Raises EReadError "Stream read error" for an APP1 segment whose declared length is 0 or 1
  // or whose payload runs past the end; dpi keeps what earlier segments set. Nothing else in
  // the data makes it fail.
  void ReadMetadata(TMemoryStream& data, TResolution& dpi);

  // Puts KeptSegments after the JFIF header of data, once.
  void WriteKeptSegments(TMemoryStream& data);

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
